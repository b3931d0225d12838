#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMEClient.h"
#include "sdk/measurement/storage/APMEManager.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/utilities/VDUMutableDictionary.h"
#include "sdk/utilities/Value.h"

// The measurement configuration the service sends for the app: named settings, per-event
// switches, event-editing programs, data controls, consent defaults, private-set-membership
// and server-side tagging settings. It stores each accepted configuration in the measurement
// database, parses it into caches and answers the engine's questions: every typed setting
// (with its remote value or its default), event block lists and sampling rates, the upload and
// fetch addresses, expiry. Experiment flags of its experiment client override two settings.
//
// Design notes.
//   1. A default instance (no app ID, no database) never stores or parses a configuration and
//      answers every setting with its default.
//   2. Settings are read once from their remote text and then cached as numbers until the next
//      parse or reset; a missing, unparsable or out-of-range value is cached as the default,
//      never as the nearest bound. Numbers are read the same under every locale.
//   3. A configuration for another app is neither stored nor parsed; one that cannot be stored
//      is not applied.
//   4. A program that fails to load ends the parse: data controls, consent maps and the
//      private-set-membership values keep what they held.
//
// Transitions: updateMeasurementConfig (store, then parse), parseRemoteConfigFromMeasurement-
// Config (caches), reset (empty caches, no configuration), activateNewSnapshot (pending
// snapshot -> active flags).
//
// Thread-safety: every operation runs on the measurement worker queue, except the experiment
// client's delegate calls, which come from the manager's queue. The snapshot counters are
// guarded by snapshotMutex_; the map caches guard themselves (VDUMutableDictionary); the
// data-control list, the core-platform-service set and the configuration are used on the worker
// queue only.
class APMPEventEditing;

class APMRemoteConfig : public APMEClientDelegate,
                        public std::enable_shared_from_this<APMRemoteConfig> {
  public:
    // Makes the editing instance of a configuration's program with the configuration's modules
    // (`settings` reads the cached settings): the script runtime's APMPLoadConfigurationProgram,
    // which the engine hands in. The configuration holds the instance without looking into it.
    // Null, with the error set, when the program cannot load.
    using EventEditingLoader = std::function<std::shared_ptr<APMPEventEditing>(
        const APMPBProgram& program,
        std::function<std::optional<std::string>(std::string_view key)> settings,
        sdk::Error* error)>;

    // The shared instance without app, database or experiment manager; made once.
    static std::shared_ptr<APMRemoteConfig> defaultInstance();

    // The configuration in force for the whole process: the one the engine installed with
    // setCurrent, else defaultInstance(). Never null. The stores read their limits from it.
    // Safe from any thread.
    static std::shared_ptr<APMRemoteConfig> current();
    // Installs the configuration in force; null goes back to the default instance.
    static void setCurrent(std::shared_ptr<APMRemoteConfig> remoteConfig);
    // The server-side-tagging preview headers a debug-mode link set (they switch the tagging
    // upload on); none until set. Safe from any thread.
    static std::optional<std::map<std::string, std::string>> STGWPreviewHeaders();
    static void setSTGWPreviewHeaders(std::optional<std::map<std::string, std::string>> headers);

    // Null, logging 29000, for an empty app ID; null, logging 29001, without a database.
    // Otherwise the designated initializer without a configuration, which loads and parses the
    // stored one. `shouldFetchExperiments` answers the experiment manager's question whether to
    // fetch (the engine's: while it exists and is enabled); without one, never. Without
    // `eventEditingLoader` a configuration's programs are not loaded.
    static std::shared_ptr<APMRemoteConfig> initWithAppID(
        std::string_view appID, const std::shared_ptr<APMDatabase>& database,
        std::shared_ptr<APMPersistedConfig> persistedConfig,
        std::shared_ptr<APMEManager> experimentManager,
        std::function<bool()> shouldFetchExperiments = nullptr,
        EventEditingLoader eventEditingLoader = nullptr);

    // The designated initializer: registers with the experiment manager (when given), then
    // stores and parses `measurementConfig` when given, else loads the stored one.
    static std::shared_ptr<APMRemoteConfig> initWithAppID(
        std::string_view appID, const std::shared_ptr<APMDatabase>& database,
        const APMPBMeasurementConfig* measurementConfig,
        std::shared_ptr<APMPersistedConfig> persistedConfig,
        std::shared_ptr<APMEManager> experimentManager,
        std::function<bool()> shouldFetchExperiments = nullptr,
        EventEditingLoader eventEditingLoader = nullptr);

    ~APMRemoteConfig() override;
    APMRemoteConfig(const APMRemoteConfig&) = delete;
    APMRemoteConfig& operator=(const APMRemoteConfig&) = delete;

    // Configuration ----------------------------------------------------------------------------

    // Stores the configuration and parses it; true when both were done. Refuses on the default
    // instance (29002), for null (29003), for another app ID (29004) and when the database
    // fails (29005).
    bool updateMeasurementConfig(const APMPBMeasurementConfig* config);
    // The stored configuration; null on the default instance (29015), on a read failure (29016)
    // or when none is stored (29017).
    std::unique_ptr<APMPBMeasurementConfig> measurementConfigFromDatabase();
    // Fills the caches from `config` (see the class notes).
    void parseRemoteConfigFromMeasurementConfig(const APMPBMeasurementConfig* config);
    // Empties every cache, forgets the configuration (except on the default instance) and
    // resets the experiment manager. The event-editing instance stays.
    void reset();

    bool isDefaultInstance() const { return isDefaultInstance_; }
    const std::string& appID() const { return appID_; }
    // The configuration in force, or null.
    const APMPBMeasurementConfig* remoteConfigProto() const { return remoteConfigProto_.get(); }
    // The configuration's version; -1 without a configuration or version.
    std::int64_t version() const;
    // Whether the stored configuration is at least remoteConfigCacheTimeInterval old (either
    // way in time). False on the default instance (29007).
    bool isExpired();
    // Seconds since 1970 of the last stored or confirmed configuration; 0 when unknown.
    double lastRemoteConfigUpdateTimestamp();
    // "<scheme>://<upload host>/config/app/<app ID>?platform=..&runtime_version=..&vud_version=.."
    // or none for an empty app ID (29021).
    std::optional<std::string> remoteConfigURLWithPlatform(std::string_view platform,
                                                           std::int64_t SDKVersion,
                                                           std::int64_t runtimeVersion);

    // Events and upload ------------------------------------------------------------------------

    // The event's configuration by internal name; null for an empty name (29006) or none.
    std::shared_ptr<const APMPBEventConfig> eventConfigWithName(std::string_view name);
    bool isEventBlocklisted(std::string_view name);
    bool isEventCustomConversion(std::string_view name);
    bool eventHasSamplingRate(std::string_view name);
    // 1 without a configuration or outside 2..65535.
    std::int32_t samplingRateForEvent(std::string_view name);

    // The configuration's upload subdomain; empty when none.
    std::string uploadSubdomain() const;
    // "<scheme>://[<subdomain>.]<upload host>/a"; a subdomain that is not dot-separated labels
    // of letters, digits and "-" is ignored. While the app data consent status is 3 the
    // alternative host stands in for the upload host.
    std::string uploadURL();
    bool STGWUploadEnabled();
    std::optional<std::string> STGWUploadURL();
    std::optional<std::map<std::string, std::string>> STGWUploadHTTPHeaders();

    const std::vector<std::string>& dataControls() const { return cachedDataControls_; }
    std::map<std::string, std::string> consentDefaults() const;
    std::map<std::string, std::string> consentDelegations() const;
    std::map<std::string, std::string> regionalDefaults() const;
    std::set<std::string> corePlatformServices() const { return cachedCorePlatformServices_; }
    bool isDMARegion() const { return isDMARegion_; }
    bool customerTypeEnabled();
    bool sessionStitchingTokenFeatureEnabled();
    std::vector<std::int64_t> experimentIDs();
    // The editing instance of the configuration's first program, or null.
    const std::shared_ptr<APMPEventEditing>& eventEditing() const { return eventEditing_; }

    // Experiments ------------------------------------------------------------------------------

    void clientDidReceiveNewSnapshot(APMEClient& client) override;
    void clientDidReceiveFetchError(APMEClient& client, const sdk::Error& error) override;
    bool shouldFetchExperimentsForClient(APMEClient& client) override;
    // Activates a pending snapshot; true when one was activated. A failure logs 29024 and
    // leaves the snapshot pending.
    bool activateNewSnapshot();
    // Copies the client's "customer_type_enabled" flag into the flag cache.
    void updateCachedExperimentFlags();

    // Readers ----------------------------------------------------------------------------------

    using NumberBlock = std::function<std::optional<sdk::Value>(const sdk::Value&)>;

    // The setting `key`: its cached number, else its remote text parsed (and passed through
    // `block`), else `defaultValue`; out-of-range values (bounds inclusive) give the default.
    // The result is cached. None for an empty key (29020).
    std::optional<sdk::Value> numberFromCacheWithKey(std::string_view key,
                                                     const sdk::Value& defaultValue,
                                                     const std::optional<sdk::Value>& maxValue,
                                                     const std::optional<sdk::Value>& minValue,
                                                     const NumberBlock& block = {});
    // Truncated toward zero and saturated to 32 bits; 0 for an empty key.
    std::int32_t intValueFromCacheWithKey(std::string_view key, std::int32_t defaultValue,
                                          std::optional<std::int32_t> maxValue,
                                          std::optional<std::int32_t> minValue);
    std::int64_t int64ValueFromCacheWithKey(std::string_view key, std::int64_t defaultValue,
                                            std::optional<std::int64_t> maxValue,
                                            std::optional<std::int64_t> minValue);
    std::int64_t int64ValueFromCacheWithKey(std::string_view key, std::int64_t defaultValue) {
        return int64ValueFromCacheWithKey(key, defaultValue, std::nullopt, std::nullopt);
    }
    // Remote milliseconds (whole) as seconds; bounds and default in seconds.
    double timeIntervalInSecondsFromCacheWithKey(std::string_view key, double defaultValue,
                                                 std::optional<double> maxValue,
                                                 std::optional<double> minValue);
    // True exactly when the setting reads 1 (the values 0 and 1 only).
    bool boolValueFromCacheWithKey(std::string_view key, bool defaultValue);
    // Stores `value` under `key` and returns it; none, logging 29019, for none or an empty key.
    std::optional<sdk::Value> cacheValue(const std::optional<sdk::Value>& value,
                                         std::string_view key);
    // The number a remote text holds; none for other texts, and none with 29018 for a value
    // that is not a string.
    std::optional<sdk::Value> numberFromString(const sdk::Value& value);

    // Settings (seconds for intervals) ---------------------------------------------------------

    double uploadingBackoffInterval();
    std::int32_t maxAudienceCount();
    std::int32_t maxFiltersPerAudience();
    std::int32_t maxFilterResultCount();
    std::int32_t maxParametersPerFilter();
    double databaseDeleteStaleBundlesInterval();
    double maxQueueTime();
    double adIDCacheTime();
    bool gateIDFAOnATTMASEnabled();
    double monitoringSamplePeriod();
    bool isNetworkBackgroundSessionEnabled();
    double networkTimeout();
    double sessionDefaultTimeoutInterval();
    double sessionEventUserEngagementInterval();
    bool efficientEngagementReportingEnabled();
    bool redundantEngagementRemovalEnabled();
    std::int32_t maxConversionsPerDay();
    std::int32_t maxEventsPerDay();
    std::int32_t maxPublicEventsPerDay();
    std::int32_t maxErrorEventsPerDay();
    std::int32_t maxTrackedCurrencies();
    std::int32_t maxPublicUserProperties();
    std::int32_t maxEventNameCardinality();
    std::int32_t maxPublicEventParams();
    std::int32_t maxEventsStored();
    double uploadingInterval();
    double uploadingInitialDelayInterval();
    std::int64_t uploadMaxBundlesLimit();
    std::int64_t uploadMaxEventsPerBundle();
    std::int64_t uploadMaxSizeLimitBytes();
    std::int32_t uploadingRetryCount();
    double uploadingRetryInterval();
    std::int32_t maxBundlesCreatedPerIteration();
    std::int32_t maxRealtimeEventCountPerDay();
    double uploadingDebugModeInterval();
    double uploadingRealTimeInterval();
    bool blocklistInternal();
    bool blocklistPublic();
    bool isEventSamplingEnabled();
    std::int32_t analyticsAccountTimeZoneOffsetMinutes();
    bool checksumEnabled();
    bool appInBackgroundParameterEnabled();
    std::int32_t maxItemScopedCustomParameters();
    std::int32_t maxPublicEventParameterValueLength();
    // The three event-parameter limits above as one value, so one event is checked against one
    // consistent set.
    APMParameterLimits parameterLimits();
    std::int32_t maxRealtimeDCUEventCountPerDay();
    // 10 while the monitor is in debug mode.
    std::int32_t maxPSMStartCount();
    std::int32_t maxPSMRetryCount();
    double PSMRetryInterval();
    std::int32_t hashPrefixBitLengthEmail();
    std::int32_t hashPrefixBitLengthPhone();
    std::int32_t maxSignInDelayInDays();
    bool adsOnDeviceConversionFeatureEnabled();
    bool isDeferredDeepLinkEnabled();
    std::int32_t maxDeferredDeepLinkRetryCount();
    double attributionCacheTTLInterval();
    double remoteConfigCacheTimeInterval();
    // sessionStitchingTokenFeatureEnabled (with its experiment override) is above.
    bool SKANUpdateConversionValueEnabled();
    double SKANInitialCVFetchDelay();
    double SKANCVFetchRetryInterval();
    std::int32_t SKANCVFetchRetryLimit();
    double SKANFirstWindowCVFetchDelay();
    double SKANFirstWindowCVFetchRetryInterval();
    std::int32_t SKANFirstWindowCVFetchRetryLimit();
    double SKANFirstWindowUploadInterval();
    // maxPublicEventParameterValueLength when above 256, else 256.
    std::int32_t maxInternalEventParameterValueLength();

    // The process-wide origin ("http://127.0.0.1:8080": scheme, host and port) that stands in
    // for "https://" and the built-in host of every measurement service: upload (and its
    // alternative), configuration, experiments, search-ads attribution and deferred deep link.
    // It wins over the deployment's environment variables. None in a real run: only tests set
    // it, to point each fixture at a loopback server of its own. Safe from any thread.
    static std::optional<std::string> serviceOriginOverride();

    // The upload host and the alternative used under app data consent status 3.
    static constexpr std::string_view kUploadHost = "measurement.vovidu.invalid";
    static constexpr std::string_view kAlternativeUploadHost = "measurement-alt.vovidu.invalid";

  private:
    // Tests reach the origin override's setter and the value cache through it.
    friend class APMRemoteConfigTestPeer;

    // Sets or (with none) clears the origin serviceOriginOverride() answers.
    static void setServiceOriginOverride(std::optional<std::string> origin);

    APMRemoteConfig(std::string appID, const std::shared_ptr<APMDatabase>& database,
                    std::shared_ptr<APMPersistedConfig> persistedConfig,
                    std::shared_ptr<APMEManager> experimentManager,
                    std::function<bool()> shouldFetchExperiments,
                    EventEditingLoader eventEditingLoader);
    void registerWithExperimentManager();
    void start(const APMPBMeasurementConfig* measurementConfig);

    void cacheSettings(const APMPBMeasurementConfig& config);
    void cacheEventConfigs(const APMPBMeasurementConfig& config);
    // Loads the first event-editing program; false (editing off, 29026 logged) when it fails.
    bool loadPrograms(const APMPBMeasurementConfig& config);
    void cacheDataControls(const APMPBMeasurementConfig& config);
    void cacheConsent(const APMPBMeasurementConfig& config);
    void cachePSMSettings(const APMPBMeasurementConfig& config);
    std::optional<std::string> cachedValueAsString(std::string_view key) const;

    // "<scheme>://<host>" for the upload host, the alternative under consent status 3, with
    // the subdomain in front when given.
    std::string serviceOrigin(std::string_view subdomain);
    bool inSTGWRollout(std::int32_t percentage);

    bool isDefaultInstance_ = false;
    const std::string appID_;
    const std::weak_ptr<APMDatabase> database_;
    const std::shared_ptr<APMPersistedConfig> persistedConfig_;
    VDUMutableDictionary<> cachedValueByRemoteConfigKeys_;
    VDUMutableDictionary<std::string, std::shared_ptr<const APMPBEventConfig>>
        cachedEventConfigByEventName_;
    std::unique_ptr<APMPBMeasurementConfig> remoteConfigProto_;
    std::shared_ptr<APMEClient> experimentClient_;
    const std::shared_ptr<APMEManager> experimentManager_;
    const std::function<bool()> shouldFetchExperiments_;
    const EventEditingLoader eventEditingLoader_;
    std::shared_ptr<APMESDKProperty> sdkProperty_;
    std::mutex snapshotMutex_;
    // A snapshot is pending while more have arrived than were activated. Counting (not a flag)
    // keeps a snapshot that arrives during an activation pending for the next one.
    std::uint64_t snapshotsReceived_ = 0;   // guarded by snapshotMutex_
    std::uint64_t snapshotsActivated_ = 0;  // guarded by snapshotMutex_
    VDUMutableDictionary<> cachedExperimentFlags_;
    std::vector<std::string> cachedDataControls_;
    VDUMutableDictionary<std::string, std::string> cachedConsentDefaults_;
    VDUMutableDictionary<std::string, std::string> cachedConsentDelegations_;
    VDUMutableDictionary<std::string, std::string> cachedRegionalDefaults_;
    std::set<std::string> cachedCorePlatformServices_;
    bool isDMARegion_ = true;
    std::shared_ptr<APMPEventEditing> eventEditing_;
};
