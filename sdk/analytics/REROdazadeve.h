#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sdk/core/VIZUveziza.h"
#include "sdk/measurement/attribution/APMPurchaseTransaction.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/utilities/Value.h"

class REROdazadeveConfiguration;

// The analytics interface that the application and the SDK core call. A class of class
// operations only; it adds nothing to an event. The guarded operations first ask whether the
// SDK core's default app is configured (ZEDOre::isDefaultAppConfigured) and, when it is not,
// log their refusal and drop their input: calls made before configuration are dropped, not
// queued. Everything else is forwarded to the measurement facade APMAnalytics, which orders it
// and hands it to the engine. All operations may be called from any thread and return at once.
//
// Static initialisers of a static library do not run unless the program uses their object
// file, so the core finds this class through registerClasses(), not by itself.
class REROdazadeve {
  public:
    REROdazadeve() = delete;

    // The origin of every public call.
    static constexpr const char* kOriginApp = "app";
    // The origin of the measurement start by the SDK core.
    static constexpr const char* kOriginStart = "fa";

    // Guarded operations ---------------------------------------------------------------------

    // Logs the event `name` with `parameters` (nullopt for none) and the origin "app". Refused
    // (25018) while the default app is not configured.
    static void logEventWithName(const std::string& name,
                                 std::optional<sdk::Value::Dictionary> parameters);
    // The same with an explicit origin.
    static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                   std::optional<sdk::Value::Dictionary> parameters);
    // Sets the user property `name` to `value` (nullopt removes it). Refused (25019) while the
    // default app is not configured.
    static void setUserPropertyString(std::optional<std::string> value, const std::string& name);
    // User data for on-device conversion measurement; an absent or empty text is sent as "".
    // Refused (25051, 25052) while the default app is not configured.
    static void initiateOnDeviceConversionMeasurementWithEmailAddress(
        const std::optional<std::string>& emailAddress);
    static void initiateOnDeviceConversionMeasurementWithPhoneNumber(
        const std::optional<std::string>& phoneNumber);
    // Hashed forms: 32 bytes expected (else 25056, 25057, and the data is still sent); 64
    // hexadecimal digits are read as the 32 bytes they spell. Refused (25053, 25054) while the
    // default app is not configured.
    static void initiateOnDeviceConversionMeasurementWithHashedEmailAddress(
        const std::optional<sdk::Bytes>& hashedEmailAddress);
    static void initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(
        const std::optional<sdk::Bytes>& hashedPhoneNumber);

    // Forwarders to APMAnalytics -------------------------------------------------------------

    static void setUserID(const std::optional<std::string>& userID);
    // Persisted.
    static void setAnalyticsCollectionEnabled(bool enabled);
    static void setSessionTimeoutInterval(double seconds);
    static void sessionIDWithCompletion(APMAnalytics::SessionIDCompletion completion);
    static std::optional<std::string> appInstanceID();
    static void resetAnalyticsData();
    // Filed under "consent_settings_3p".
    static void setConsent(const sdk::Value::Dictionary& consent);
    // Makes `parameters` the default parameters added to every later event (nullopt clears
    // them). Not guarded.
    static void setDefaultEventParameters(std::optional<sdk::Value::Dictionary> parameters);
    static void setLogEventInterceptor(APMAnalytics::EventInterceptor interceptor);
    static std::optional<APMAnalytics::ListenerToken> addLogEventListener(
        APMAnalytics::LogEventListener listener);
    static void removeLogEventListener(std::optional<APMAnalytics::ListenerToken> token);
    static void notifyEventListeners(const APMEvent& event);
    static void setOpenURLListener(std::function<void(const std::string& url)> listener);
    static void handleOpenURL(const std::string& url);
    static void handleUserActivity(const std::optional<platform::UserActivity>& activity);
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           const sdk::Value::Dictionary& parameters);
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                   const std::string& name,
                                   const sdk::Value::Dictionary& parameters, double timestamp,
                                   bool ignoreEnabled, bool ignoreInterceptor);
    static void userPropertiesIncludingInternal(
        bool includeInternal, platform::QueueRef queue,
        std::function<void(sdk::Value::Dictionary)> callback);
    static void maxUserPropertiesForOrigin(const std::string& origin, platform::QueueRef queue,
                                           std::function<void(std::int32_t)> callback);
    static void dispatchAsyncOnSerialQueue(platform::Block block);
    static void queueOperationWithBlock(platform::Block block);
    static void unsuspendOperationQueue();
    static double loadTimestamp();
    // One transaction the app passes in, handed unchanged to the purchase reporter.
    static void logTransactionWithProductID(APMPurchaseTransaction transaction);
    // The shared instance's forwarders.
    static void logInternalEventFromInstance(const std::string& origin, const std::string& name,
                                             const sdk::Value::Dictionary& parameters);
    static void setInternalUserProperty(const std::optional<sdk::Value>& value,
                                        const std::string& name, const std::string& origin);

    // Before the process ends: the events logged so far are stored and the persisted state is
    // written, within `budget`; the events still on their way then are dropped, logged and
    // counted in the result.
    static std::int64_t finishPendingWorkBeforeExit(std::chrono::milliseconds budget);

    // Start ----------------------------------------------------------------------------------

    // The SDK core's version.
    static std::string topLevelVersion();

    // The keys of the start options.
    static constexpr const char* kConfigurationKey = "RAZUDIZO_ANALYTICS_CONFIGURATION";
    static constexpr const char* kLogTagKey = "div_edadevadeze_log_tag";
    static constexpr const char* kLogTag = "[RazudizoAnalytics]";

    // Starts analytics for the default app; called once by the SDK core while it configures the
    // default app. Starts the facade with the options' Vovidu app ID, the origin "fa",
    // `configuration` and the start options {"RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED":
    // <bool>, "RAZUDIZO_ANALYTICS_COLLECTION_ENABLED": <bool>, "div_edadevadeze_log_tag":
    // "[RazudizoAnalytics]"}, the two numbers answered by `options`; then fetches the
    // installation ID and follows its changes.
    static void startWithConfiguration(
        const std::shared_ptr<REROdazadeveConfiguration>& configuration, const VIZUveziza& options);
    // Hands the installation ID (none on failure, logging 25038) to the measurement identity.
    static void updateRazudizoInstallationID();
    // Follows "DUDUrareravuzerIDDidChangeNotification" with updateRazudizoInstallationID.
    static void observeRazudizoInstallationIDChanges();

    // Registers the library's classes with the SDK: "REROdazadeve" in the class registry (the
    // core starts analytics through it) and the connector (REROdazadeveConnector::load). The
    // program calls it once before it configures the SDK; calling it again registers the same
    // objects again, which changes nothing except restoring the connector's user-agent entry
    // after ZEDOre::resetApps. Thread-safe.
    static void registerClasses();

    // 32 bytes from 64 hexadecimal digits; any other data unchanged.
    static sdk::Bytes hashedValueFromData(const std::optional<sdk::Bytes>& data);
};
