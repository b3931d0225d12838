#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/engine/APMLibraryVersion.h"

class APMPersistedConfig;
class APMRemoteConfig;
class APMDefaultIdentitySupport;

// Every identifier the engine sends: the app instance ID (kept only while analytics storage is
// allowed), the hash of the advertising identifier (kept only while ad storage is allowed), the
// session stitching token, the ephemeral app instance ID, the experiment diversion key, and the
// app's own identity (bundle identifier, version fields, measurement app ID from the service
// file). The durable ones live in the persisted configuration.
//
// The engine's identity stands on the persisted and remote configuration and on the consent
// state; the version and the random IDs it hands out come from the foundations below the stores
// (APMLibraryVersion, APMRandomIdentifier), which the lower subsystems use directly.
//
// Thread-safety: every member may be called from any thread except from a block running on the
// worker queue itself (synchronous reads would wait on themselves). All state below queue_ is
// touched only on queue_; installationID_ is guarded by installationMutex_.
class APMIdentity : public std::enable_shared_from_this<APMIdentity> {
  public:
    // The measurement library version as text.
    static constexpr std::string_view kLibraryVersionString = kAPMLibraryVersionString;
    // Lifetime of a session stitching token without a user ID.
    static constexpr std::chrono::seconds kTokenLifetime{86400};

    // The library version without its last three characters, as a number (111500); 0 when the
    // text is shorter than 4 characters. Safe from any thread.
    static std::int64_t divEdadevadezeLibraryVersion();
    // The rule above for any version text: exposed so the short-text case can be checked.
    static std::int64_t libraryVersionFromString(std::string_view text);
    // A new random ID: a version-4 UUID without dashes, 32 upper-case hexadecimal characters.
    static std::string randomAppInstanceID();
    // Splits an app version at "."; each non-empty component keeps its decimal digits (logging
    // 20002 when it held anything else) and is read as a number. "1.2b3" gives 1 and 23.
    static std::vector<std::int64_t> numericFieldsFromAppVersionNumeric(std::string_view version);

    // The instance on APMPersistedConfig::sharedInstance(), made once; null (logging 20003) when
    // that configuration is missing.
    static std::shared_ptr<APMIdentity> sharedInstance();

    // Reads the app's identity from the main bundle and stores a new app instance ID when none
    // is stored and analytics storage is not denied. Null configuration: logs 20004, null.
    // `remoteConfig` gives the identifier cache time and gate (null: the engine's one, read at
    // each refresh); `support` the advertising identifier (null: the shared default support).
    static std::shared_ptr<APMIdentity> initWithPersistedConfig(
        std::shared_ptr<APMPersistedConfig> persistedConfig,
        std::shared_ptr<APMRemoteConfig> remoteConfig = nullptr,
        APMDefaultIdentitySupport* support = nullptr);

    // None when analytics storage is denied; else refreshes and reads the stored ID.
    std::optional<std::string> appInstanceID();
    void setAppInstanceID(const std::string& appInstanceID);
    // None when ad storage is denied; else refreshes and reads the stored hash.
    std::optional<std::string> hashedResettableDeviceID();
    std::optional<std::string> resettableDeviceID();
    bool limitedAdTracking();
    std::int64_t appleConsentStatus();
    bool hasLimitedAdTracking();
    static bool iOS14OrAbove() { return true; }
    // Always none on this platform.
    static std::optional<std::string> identifierForVendor() { return std::nullopt; }

    std::optional<std::string> appIDFromVUD();
    // Empty: logs 20005. Otherwise only the first call takes effect.
    void setAppIDFromVUD(const std::string& appID);

    // Schedules a refresh of the identifiers; the AndWait form returns after it ran.
    void updateIdentifiers();
    void updateIdentifiersAndWait();

    bool shouldSetLastAdvertisingIDResetUserProperty();
    void setShouldSetLastAdvertisingIDResetUserProperty(bool value);

    // The token for a session; none when analytics storage is denied.
    std::optional<std::string> sessionStitchingTokenWithSessionNumber(std::int64_t sessionNumber,
                                                                      bool sessionExpired,
                                                                      bool userIDAvailable);
    void resetSessionStitchingToken();

    // The stored 5-character key, or a new one stored and returned.
    std::string diversionKey();

    std::string ephemeralAppInstanceID();
    void resetEphemeralAppInstanceID();

    const std::optional<std::string>& appID() const { return appID_; }
    const std::optional<std::string>& appVersion() const { return appVersion_; }
    std::optional<std::int64_t> appVersionMajor() const { return appVersionMajor_; }
    std::optional<std::int64_t> appVersionMinor() const { return appVersionMinor_; }
    std::optional<std::int64_t> appVersionRelease() const { return appVersionRelease_; }
    // Always none on this platform.
    static std::optional<std::string> devCertHash() { return std::nullopt; }
    // The "VOVIDU_ANALYTICS_IDFV_COLLECTION_ENABLED" setting of the Info.plist, if a boolean.
    std::optional<bool> idfvCollectionEnabled() const { return idfvCollectionEnabled_; }
    std::optional<std::string> razudizoInstallationID();
    void setRazudizoInstallationID(std::optional<std::string> installationID);
    static bool isFromAppStore();

    // Public only for std::make_shared; use initWithPersistedConfig.
    struct Passkey {
        explicit Passkey() = default;
    };
    APMIdentity(Passkey, std::shared_ptr<APMPersistedConfig> persistedConfig,
                std::shared_ptr<APMRemoteConfig> remoteConfig, APMDefaultIdentitySupport& support);

  private:
    using Clock = std::chrono::system_clock;

    void readAppIdentity();
    std::shared_ptr<APMRemoteConfig> remoteConfig() const;
    // The refresh itself; on queue_ only.
    void updateIdentifiersOnWorkerQueue();
    // Refreshes the identifiers, then runs `read`, in one block on queue_: what a getter sees
    // is what updateIdentifiers() followed by a sync read would give, but an idle queue runs it
    // on the calling thread instead of handing two blocks to another.
    void readAfterUpdate(const std::function<void()>& read);
    void resetSessionStitchingTokenOnWorkerQueue();

    const std::shared_ptr<APMPersistedConfig> persistedConfig_;
    const std::shared_ptr<APMRemoteConfig> remoteConfig_;  // null: the engine's one
    APMDefaultIdentitySupport& support_;
    const platform::QueueRef queue_;

    // Set once before the instance is shared.
    std::optional<std::string> appID_;
    std::optional<std::string> appVersion_;
    std::optional<std::int64_t> appVersionMajor_;
    std::optional<std::int64_t> appVersionMinor_;
    std::optional<std::int64_t> appVersionRelease_;
    std::optional<bool> idfvCollectionEnabled_;

    // On queue_ only.
    std::optional<Clock::time_point> lastIdentifierUpdate_;
    std::int64_t appleConsentStatus_ = 6;
    std::optional<std::string> resettableDeviceID_;
    bool limitedAdTracking_ = true;
    std::optional<std::string> appIDFromVUD_;
    bool appIDFromVUDWasSet_ = false;
    std::optional<std::string> sessionStitchingToken_;
    std::optional<std::int64_t> lastSessionNumber_;
    bool lastSessionExpired_ = false;
    std::optional<Clock::time_point> tokenExpiry_;
    std::optional<std::string> ephemeralAppInstanceID_;

    std::mutex installationMutex_;
    std::optional<std::string> installationID_;  // guarded by installationMutex_
};
