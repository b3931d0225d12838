#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/app/ApplicationDelegate.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/storekit/StoreTransaction.h"
#include "sdk/measurement/attribution/APMPurchaseTransaction.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/APMValue.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

// The measurement facade between the public interface and the engine. It starts the engine
// once, keeps the caller-side state that must exist before the engine does (the class-wide
// state below: flags, persisted keys in the analytics defaults, listeners, the interceptor), and
// turns every call into ordered work.
//
// Design notes.
// Queues: a timestamp lock (clock read, consent snapshot and enqueue of public events),
// "APMAnalyticsOperationQueue" (one operation at a time, made suspended) and
// "APMAnalyticsQueue" (where every facade block runs). An operation's only work is to post its
// block to the serial queue, so blocks reach it in the order they were queued.
// States: not started --startWithAppID (first)--> started. Later starts change nothing beyond
// their checks and log tag.
// Invariants:
//   1. The operation queue stays suspended until the end of the first start; the engine's
//      creation is posted to the serial queue before it is unsuspended, so every call queued
//      earlier reaches the engine after its creation, in call order.
//   2. A public event's timestamp is read and its operation queued under one lock, so
//      operations carry non-decreasing timestamps. Every event carries the consent in force
//      when it was queued, and is written under it.
//   3. Listeners and the interceptor are read and written on the serial queue only.
//
// Thread-safety: every member may be called from any thread. The load timestamp is guarded by a
// mutex; the defaults lock themselves; flags are atomics.
class APMAnalytics {
  public:
    APMAnalytics() = delete;

    // Takes a public event instead of the engine: origin, name, parameters and timestamp.
    using EventInterceptor =
        std::function<void(const std::string& origin, const std::string& name,
                           const APMRawParameters& parameters, double timestamp)>;
    // Told of every event the engine takes in (a copy), on the serial queue.
    using LogEventListener = std::function<void(const APMEvent& event)>;
    // Names a listener for its removal.
    using ListenerToken = std::int64_t;
    // Answers a session ID (0 with an error when there is none).
    using SessionIDCompletion = std::function<void(std::int64_t sessionID, sdk::Error error)>;

    // The notification posted once, when the first start begins.
    static constexpr const char* kWillStartNotification = "kREROdazadeveWillStartNotification";
    // Keys of the start options.
    static constexpr const char* kCollectionEnabledKey = "RAZUDIZO_ANALYTICS_COLLECTION_ENABLED";
    static constexpr const char* kCollectionDeactivatedKey =
        "RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED";
    static constexpr const char* kLogTagKey = "div_edadevadeze_log_tag";
    static constexpr const char* kSafelistedEventsKey = "safelisted_events";
    static constexpr const char* kSetEnabledNotification =
        "REROdazadeveConfigurationSetEnabledNotification";

    // Queues -------------------------------------------------------------------------------------

    // The serial queue "APMAnalyticsQueue", made on first use.
    static const platform::QueueRef& queue();
    static void dispatchAsyncOnSerialQueue(platform::Block block);
    // True inside a block of the serial queue.
    static bool isCurrentQueueSerialQueue();
    // Queues `block` through the timestamp queue and the operation queue to the serial queue:
    // blocks reach it in the order they were queued, and none before the end of the first start.
    static void queueOperationWithBlock(platform::Block block);
    // Queues the same way; then, unless the operation queue is suspended, waits until everything
    // queued so far has been posted to the serial queue, suspends the operation queue, and
    // resumes it 0.5 s later from the serial queue.
    static void queueOperationWithBlockThenWait(platform::Block block);
    static void unsuspendOperationQueue();

    // Before the process ends: waits until the events queued so far are stored by the engine,
    // then writes the engine's persisted state, all within `budget`. Events still on their way
    // when it runs out are dropped: their number is logged (25061) and returned.
    // REQUIRES: not on the serial queue or the engine's worker queue.
    static std::int64_t finishPendingWorkBeforeExit(std::chrono::milliseconds budget);
    // Events queued for the engine and not yet handled by it.
    static std::int64_t eventsInFlight();

    // Start --------------------------------------------------------------------------------------

    // Starts measurement for `appID` with the start `origin` ("fa" from the SDK core). The
    // option "RAZUDIZO_ANALYTICS_CONFIGURATION" is an object and comes as `configuration`
    // (null for none): its set-enabled notification switches collection. The first call makes
    // the engine on the serial queue and lets the queued calls flow; later calls only check and
    // set the log tag.
    static void startWithAppID(const std::string& appID, const std::string& origin,
                               const sdk::Value::Dictionary& options,
                               std::shared_ptr<const void> configuration = nullptr);
    // Whether the first start has run.
    static bool isStarted();

    // Event intake -------------------------------------------------------------------------------

    // The application's event (origin "app").
    static void logEventWithName(const std::string& name, const APMRawParameters& parameters);
    // A public event: an invalid or reserved name logs the error event 2 or 13 instead.
    static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                   const APMRawParameters& parameters);
    // An internal event: no name check.
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           const APMRawParameters& parameters);
    // The internal event at a given time (seconds since 1970).
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           double timestamp, const APMRawParameters& parameters);
    // The timestamped path: the clock is read when the call is made.
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                   const std::string& name, const APMRawParameters& parameters);
    // Queues the event with its own timestamp and switches.
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                   const std::string& name, const APMRawParameters& parameters,
                                   double timestamp, bool ignoreEnabled, bool ignoreInterceptor);
    // The shared instance's internal-event entry: an "am" event's string "_aeid" must be a
    // decimal number and becomes its 64-bit integer (else 25024, kept as given).
    static void logInternalEventFromInstance(const std::string& origin, const std::string& name,
                                             APMRawParameters parameters);
    // The error event "_err" (origin "auto") for `code` with the details of `name` and `value`;
    // nothing for code 0.
    static void logErrorEventWithDetails(std::int64_t code, std::string_view name,
                                         std::int32_t maxLength, const sdk::Value* value);

    // Settings -----------------------------------------------------------------------------------

    // Sets (a string) or removes (none) the public user property `name` with origin "app";
    // "allow_personalized_ads" switches personalised ads instead.
    static void setUserPropertyString(const std::optional<sdk::Value>& value,
                                      const std::string& name);
    // A number user property with origin "auto"; a non-number is ignored.
    static void setUserAttributeNumber(const sdk::Value& value, const std::string& name);
    // The shared instance's entry: any valid internal name and value, any origin of 1-32
    // characters; none removes.
    static void setInternalUserProperty(const std::optional<sdk::Value>& value,
                                        const std::string& name, const std::string& origin);
    static void removeInternalUserAttributeForName(const std::string& name);
    // A string sets "_id"; none removes "_id" and "_lair"; anything else logs 25004.
    static void setUserID(const std::optional<sdk::Value>& userID);
    static void setAnalyticsEnabled(bool enabled, bool persistSetting = false);
    // Whether collection is enabled as the facade knows it.
    static bool isEnabled();
    static void setSessionTimeoutInterval(double seconds);
    // Answers on the global queue; a missing completion logs 25050.
    static void sessionIDWithCompletion(SessionIDCompletion completion);
    // None while analytics storage is denied; else the ID a reset chose, else the identity's.
    static std::optional<std::string> appInstanceID();
    // A new app instance ID, a new first open; the engine wipes its data.
    static void resetAnalyticsData();
    // User data for on-device conversion measurement.
    static void setUserData(sdk::Value::Dictionary userData);
    static void setDefaultEventParameters(std::optional<sdk::Value::Dictionary> parameters);

    // Consent ------------------------------------------------------------------------------------

    static void setConsent(const sdk::Value::Dictionary& consent);
    // Source by key: "consent_settings_tcf" 5, "consent_settings_3p" 10, any other 30.
    static void setConsent(const sdk::Value::Dictionary& consent, std::string_view key);
    // Applies the stored consent of the highest source present; nothing when none is stored.
    static void loadPersistedConsentSettings();

    // Listeners and hooks ------------------------------------------------------------------------

    static void setLogEventInterceptor(EventInterceptor interceptor);
    // The listener's token; none (25012) for an empty listener.
    static std::optional<ListenerToken> addLogEventListener(LogEventListener listener);
    static void removeLogEventListener(std::optional<ListenerToken> token);
    // Tells every listener of `event` from the serial queue.
    static void notifyEventListeners(const APMEvent& event);
    static void setOpenURLListener(std::function<void(const std::string& url)> listener);
    // The stored user properties (name -> number or string), passed to `callback` on `queue`;
    // an empty dictionary while collection is disabled (25008). No callback logs 25006; no
    // queue logs 25007 and answers an empty dictionary on the main queue.
    static void userPropertiesIncludingInternal(
        bool includeInternal, platform::QueueRef queue,
        std::function<void(sdk::Value::Dictionary)> callback);
    // The most user properties `origin` may set, passed to `callback` on `queue`. An empty
    // origin, no queue or no callback is refused (25009, 25010, 25011).
    static void maxUserPropertiesForOrigin(const std::string& origin, platform::QueueRef queue,
                                           std::function<void(std::int32_t)> callback);
    // An opened URL: its server-side tagging switch at once, then, on the serial queue, the
    // engine's campaign handling and the open-URL listener. Nothing on this platform opens
    // URLs in the app; the app or tests call it.
    static void handleOpenURL(const std::string& url);
    // A continued user activity: the link of a web-browsing one goes to the engine's campaign
    // handling from the serial queue.
    static void handleUserActivity(const std::optional<platform::UserActivity>& activity);

    // Purchases (APMAnalyticsPurchases.cpp) ------------------------------------------------------

    // The payment queue's transactions: while collection is enabled, the engine drops the known
    // duplicates and the purchase reporter reports the rest. Queued behind earlier calls. No
    // payment queue reaches an app on this platform; tests call it.
    static void paymentQueueUpdatedTransactions(
        std::vector<platform::StoreTransaction> transactions);
    // One transaction the app passes in field by field, handed unchanged to the purchase
    // reporter (dates in seconds since 1970).
    static void logTransactionWithProductID(APMPurchaseTransaction transaction);
    // Makes the shared purchase reporter log its events through logInternalEventWithOrigin
    // (once; the start and both purchase roads call it).
    static void connectPurchaseReporter();

    // The suite of the analytics defaults.
    static constexpr std::string_view kSuiteName = "APMAnalyticsSuiteName";
    // The consent source while none is stored.
    static constexpr std::int64_t kNoConsentSource = 100;

    // The analytics defaults, made on first use.
    static APMUserDefaults& analyticsDefaults();

    // When the library was loaded (seconds since 1970): the first time it is asked unless set;
    // resetAnalyticsData sets it to now.
    static double loadTimestamp();
    static void setLoadTimestamp(double timestamp);

    // "reset_retry_count": resets asked for and not yet done. A value below 1 removes the key.
    static std::int64_t resetRetryCount();
    static void setResetRetryCount(std::int64_t count);
    // "need_first_open_after_reset".
    static bool needFirstOpenAfterReset();
    static void setNeedFirstOpenAfterReset(bool need);
    static void removeNeedFirstOpenAfterReset();
    // "app_instance_id_after_reset": the ID a reset chose and the engine has not applied yet.
    static std::optional<std::string> appInstanceIDAfterReset();
    static void setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID);
    // "deferred_analytics_collection": the engine's record of the first enable (0) or disable
    // (1); no value until then.
    static std::optional<sdk::Value> deferredAnalyticsCollection();
    static void setDeferredAnalyticsCollection(const std::optional<sdk::Value>& value);
    // "deferred_consent_reset".
    static std::optional<sdk::Value> deferredResetOnDeniedConsent();
    static void setDeferredResetOnDeniedConsent(const std::optional<sdk::Value>& value);
    static void removeDeferredResetOnDeniedConsent();

    // The stored consent sets: "consent_settings_tcf" (source 5), "consent_settings_3p" (10 and
    // 20), "consent_settings" (30 and 40), "consent_settings_on_start" (the start options').
    // Entries that are not strings are left out; no value when the key holds no dictionary.
    static std::optional<APMConsentSettings> consentSettingsTCF();
    static std::optional<APMConsentSettings> consentSettings3P();
    static std::optional<APMConsentSettings> consentSettings1P();
    static std::optional<APMConsentSettings> consentSettings1PStart();
    static void setConsentSettings1PStart(const std::optional<APMConsentSettings>& settings);
    static void removeStartUpConsentSettings();
    // "consent_source", or kNoConsentSource when none is stored.
    static std::int64_t persistedConsentSource();
    // Stores `settings` under "consent_settings_tcf" for source 5, "consent_settings_3p" for
    // other sources below 21, else "consent_settings", and the source under "consent_source".
    static void persistConsentSettings(const APMConsentSettings& settings, std::int64_t source);
    // Removes every consent key, then clears the consent state.
    static void clearConsent();
};
