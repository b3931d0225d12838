#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUNetworkLoggerDelegate.h"

class APMAlarm;
class APMAttributionStartSeam;
class APMAudienceSeam;
class APMConditionalUserPropertySeam;
class APMDailyCounts;
class APMDatabase;
class APMEManager;
class APMEvent;
class APMIdentity;
class APMLifetimeValueSeam;
class APMOnDeviceConversionSeam;
class APMPersistedConfig;
class APMRemoteConfig;
class APMScheduler;
class APMUserAttribute;
class VDUNetwork;

// The measurement engine: one shared instance per process that owns the event store, the
// persisted and remote configuration, the network client, the worker queue, the upload alarm and
// the identity, and takes every event through its pipeline on the worker queue.
//
// Where the code lives. This header and the static helpers that the engine's foundations and the
// stores use without an engine (monitor, preview headers, the shared-instance slot) belong to
// the library sdk_measurement_engine (this folder). Everything else is defined in the library
// sdk_measurement_engine_core (sdk/measurement/engine/core), which links the stores, one .cpp
// per concern named "APMMeasurement<Concern>.cpp" (Lifecycle, EventHandling, EventWriting,
// RawEventMetadata, ...). remoteConfig() and setRemoteConfig() are defined with APMRemoteConfig.
//
// Design notes.
// States of the instance:
//   created --setEnabled(true), first start ok--> started (components initialised, enabled)
//   created --setEnabled(false)--> created (nothing opened: no database file)
//   started --setEnabled(false)--> started, disabled (components kept)
//   started, disabled --setEnabled(true)--> started (only the post-start steps run again)
//   a failed start leaves `didInitializeComponents` false; the next enable tries again.
// Invariants:
//   1. The shared instance is made at most once per process (initializeSharedInstance...).
//   2. `didInitializeComponents_` is set only after every component step succeeded, under
//      initializeComponentsLock_; database_, remoteConfig_ and identity_ are then non-null.
//   3. Methods whose names end in OnWorkerQueue, and everything behind them, run on the worker
//      queue (scheduler_->workerQueue()); the members they touch are used from there only.
//      enabled_ and the collection flags are atomics because other threads read them.
//
// Thread-safety: the static members are safe from any thread. Instance members run on the
// worker queue unless their comment says "any thread".
class APMMeasurement : public VDUNetworkLoggerDelegate,
                       public std::enable_shared_from_this<APMMeasurement> {
  public:
    // Static helpers (engine foundations; no engine needed) ---------------------------------------

    // The engine's one monitor, made on first use and alive for the rest of the process.
    // Safe from any thread.
    static APMMonitor& monitor();

    // The remote configuration in force: the engine's once it has started (the engine installs
    // it with setRemoteConfig), else APMRemoteConfig::defaultInstance(). Never null. Safe from
    // any thread. (Defined with APMRemoteConfig, in the storage library.)
    static std::shared_ptr<APMRemoteConfig> remoteConfig();
    // Installs the engine's configuration; null goes back to the default instance.
    static void setRemoteConfig(std::shared_ptr<APMRemoteConfig> remoteConfig);

    // Whether the engine's shared instance exists. Any thread.
    static bool hasSharedInstance();
    // The shared instance, or null before initializeSharedInstance... made it. Any thread.
    static std::shared_ptr<APMMeasurement> sharedInstance();

    // The server-side-tagging preview headers set from a debug-mode link; none until set.
    // Safe from any thread.
    static std::optional<std::map<std::string, std::string>> STGWPreviewHeaders();
    static void setSTGWPreviewHeaders(std::optional<std::map<std::string, std::string>> headers);

    // Creation (sdk_measurement_engine_core)
    // -------------------------------------------------------

    // Once per process: with a non-empty app ID, makes the shared instance (on the caller's
    // thread) and starts enabling or disabling it on the worker queue. Later calls change
    // nothing, whatever their app ID. Any thread.
    static void initializeSharedInstanceWithAppID(std::string_view appID,
                                                  bool isAnalyticsCollectionEnabled,
                                                  bool isAnalyticsCollectionDeactivated,
                                                  std::vector<std::string> safelistedEvents);

    // The engine's collaborators made by initWithAppID.
    struct Collaborators {
        std::string databaseName;
        std::shared_ptr<APMPersistedConfig> persistedConfig;
        std::shared_ptr<VDUNetwork> network;
        std::shared_ptr<APMScheduler> scheduler;
        std::shared_ptr<APMAlarm> alarm;
        std::shared_ptr<APMEManager> experimentManager;
    };

    // Logs the version line and the launch-argument hints, makes the network client, the
    // scheduler with the worker queue "com.vovidu.diru.worker" and the alarm "Measurement timer",
    // then the designated initialiser. Null (logging 23170) for an empty app ID.
    static std::shared_ptr<APMMeasurement> initWithAppID(std::string_view appID,
                                                         bool isAnalyticsCollectionEnabled,
                                                         bool isAnalyticsCollectionDeactivated,
                                                         std::vector<std::string> safelistedEvents,
                                                         std::shared_ptr<APMEManager> experiments);
    // The designated initialiser: stores everything, takes the init timestamp and calls
    // setEnabled(shouldEnableMeasurement()). REQUIRES: scheduler, alarm and persistedConfig set.
    static std::shared_ptr<APMMeasurement> initWithCollaborators(
        Collaborators collaborators, std::string_view appID, bool isAnalyticsCollectionEnabled,
        bool isAnalyticsCollectionDeactivated, std::vector<std::string> safelistedEvents);

    ~APMMeasurement() override;
    APMMeasurement(const APMMeasurement&) = delete;
    APMMeasurement& operator=(const APMMeasurement&) = delete;

    // Lifecycle ----------------------------------------------------------------------------------

    // Deactivated: false; else the persisted measurement-enabled state (1 true, 2 false), else
    // the app's setting at creation. Any thread.
    bool shouldEnableMeasurement();
    // Schedules setEnabledOnWorkerQueue (block "APMMeasurement:619"). Any thread.
    void setEnabled(bool enabled);
    void setEnabledOnWorkerQueue(bool enabled);
    // The one-time component start and the steps after it; false when the start failed.
    bool startMeasurementOnWorkerQueue();
    bool shouldWipeDataWithAppID(const std::string& appID,
                                 const std::optional<std::string>& appIDFromVUD,
                                 const std::optional<std::string>& persistedAppIDFromVUD);
    void setProspectiveConsentSettings();
    void updatePersistedAppIDFromVUD();
    // Clears the persisted state, the monitor's data and the database (or deletes its file
    // when the database was never opened). False when the database cannot be reset.
    bool wipeoutAnalyticsDataAndResetComponents();
    // Wipes synchronously on the worker queue and stores `appInstanceID`. Any thread except the
    // worker queue.
    bool resetAnalyticsDataWithAppInstanceID(const std::string& appInstanceID);
    // Whether a class named "ZERErodizUdeviv" exists.
    static bool isRazudizoRemoteConfigSDKPresent();

    // Event pipeline (worker queue) -------------------------------------------------------------

    // An event the engine made itself: default event parameters (none for "_err", no "cad_"
    // ones for "_cmp"), then handleEventOnWorkerQueue.
    void handleInternalEventOnWorkerQueue(APMEvent event);
    // Enabled, safelist, session, duplicates, event editing, write, upload schedule.
    void handleEventOnWorkerQueue(APMEvent event);
    std::optional<APMEvent> eventAfterSafelistingEvent(APMEvent event);
    void processSessionFromEvent(const APMEvent& event);
    // False: drop the event (a duplicate subscription).
    bool dedupeSubscriptionEvent(const APMEvent& event);
    // True: drop the event (a session-start rollouts event seen before).
    bool shouldDropDuplicatedSessionStartWithRolloutEvent(const APMEvent& event);
    std::optional<APMEvent> appExceptionEventWithRazudizoFeatureRollouts(APMEvent event);
    void writeSessionStartEventOnWorkerQueue(const APMEvent& event);
    // Conditional user properties, then writeFilteredEventOnWorkerQueue for the event and each
    // event they triggered.
    void writeEventOnWorkerQueue(APMEvent event);

    // Event writing (worker queue) --------------------------------------------------------------

    void writeFilteredEventOnWorkerQueue(APMEvent event);
    bool updateLifetimeValueWithEvent(const APMEvent& event);
    // True: store the event. Counts it in `dailyCounts` either way.
    bool shouldProcessEvent(const APMEvent& event, APMDailyCounts& dailyCounts, bool isPublicEvent);
    bool isRealtimeEvent(APMEvent& event, APMDailyCounts& dailyCounts);
    void maybeAddDebugAndRealtimeParameters(APMEvent& event);
    // Aggregates, metadata and the raw-event row; false rolls the event's transaction back.
    bool writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime);
    std::unique_ptr<APMPBMeasurementBundle> createRawEventMetadataWithUserAttributes(
        const std::vector<APMUserAttribute>& userAttributes);
    void logFirstOpenConsentedEvent(double timestamp);

    // Network log bridge (any thread) ------------------------------------------------------------

    void VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                 const std::optional<std::string>& message,
                                 const std::vector<sdk::Value>& contexts) override;
    void VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                 const std::optional<std::string>& message,
                                 const sdk::Value& context) override;
    void VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                 const std::optional<std::string>& message) override;
    // The monitor level of a network level: 3-7 become 1, 4, 3, 6, 7; any other 3.
    static std::int64_t monitorLevelFromNetworkLevel(std::int64_t level);

    // Accessors ----------------------------------------------------------------------------------

    const std::shared_ptr<APMAlarm>& alarm() const { return alarm_; }
    const std::shared_ptr<APMDatabase>& database() const { return database_; }
    const std::shared_ptr<APMIdentity>& identity() const { return identity_; }
    const std::shared_ptr<VDUNetwork>& network() const { return network_; }
    const std::shared_ptr<APMPersistedConfig>& persistedConfig() const { return persistedConfig_; }
    const std::shared_ptr<APMRemoteConfig>& remoteConfigInstance() const { return remoteConfig_; }
    const std::shared_ptr<APMScheduler>& scheduler() const { return scheduler_; }
    const std::vector<std::string>& safelistedEvents() const { return safelistedEvents_; }
    const std::string& appID() const { return appID_; }
    double initTimestamp() const { return initTimestamp_; }
    // Any thread.
    bool isEnabled() const { return enabled_.load(); }
    bool didInitializeComponents() const { return didInitializeComponents_.load(); }
    bool wasEnabledDuringInitialization() const { return wasEnabledDuringInitialization_; }
    bool isAnalyticsCollectionEnabled() const { return isAnalyticsCollectionEnabled_.load(); }
    void setIsAnalyticsCollectionEnabled(bool v) { isAnalyticsCollectionEnabled_.store(v); }
    bool isAnalyticsCollectionDeactivated() const {
        return isAnalyticsCollectionDeactivated_.load();
    }
    void setIsAnalyticsCollectionDeactivated(bool v) { isAnalyticsCollectionDeactivated_.store(v); }
    bool isNetworkRequestPending() const { return isNetworkRequestPending_; }
    void setIsNetworkRequestPending(bool v) { isNetworkRequestPending_ = v; }
    void setSuspendedUploadTimestamp(double v) { suspendedUploadTimestamp_ = v; }

    // Seams for subsystems 10, 11 (see core/APMMeasurementSeams.h); never null.
    const std::shared_ptr<APMAudienceSeam>& audience() const { return audience_; }
    const std::shared_ptr<APMConditionalUserPropertySeam>& conditionalUserProperties() const {
        return conditionalUserProperties_;
    }
    const std::shared_ptr<APMLifetimeValueSeam>& lifetimeValue() const { return lifetimeValue_; }
    const std::shared_ptr<APMOnDeviceConversionSeam>& onDeviceConversion() const {
        return onDeviceConversion_;
    }

    // Test hooks ---------------------------------------------------------------------------------

    // Runs `block` on the worker thread and waits for it (and so for every block queued
    // before). REQUIRES: not on the worker queue.
    void TEST_runOnWorkerQueueAndWait(const std::function<void()>& block);
    // Replaces a seam; null keeps the current one. Call before the first event.
    void TEST_setSeams(std::shared_ptr<APMConditionalUserPropertySeam> conditionalUserProperties,
                       std::shared_ptr<APMLifetimeValueSeam> lifetimeValue,
                       std::shared_ptr<APMOnDeviceConversionSeam> onDeviceConversion);

    // What the configuration's event-editing program made of one event.
    struct EventEditingResult {
        // Set when the program failed: the unedited event is written.
        std::optional<sdk::Error> error;
        // The edited event, when the program changed it.
        std::optional<APMEvent> editedEvent;
        // Events the program asked to log, in order; origin from their "_o" (else "app").
        struct CreatedEvent {
            std::string name;
            double timestamp = 0;
            APMRawParameters parameters;
        };
        std::vector<CreatedEvent> createdEvents;
    };

  private:
    struct Passkey {
        explicit Passkey() = default;
    };

  public:
    // Use initWithCollaborators.
    APMMeasurement(Passkey, Collaborators collaborators, std::string appID,
                   bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
                   std::vector<std::string> safelistedEvents);

  private:
    // Installs the instance that `make` returns unless one was installed before; whether this
    // call installed it. (Engine foundations: the slot lives with hasSharedInstance.)
    static bool installSharedInstanceOnce(
        const std::function<std::shared_ptr<APMMeasurement>()>& make);

    // The component start of startMeasurementOnWorkerQueue, under initializeComponentsLock_.
    bool initializeComponentsOnWorkerQueue();
    bool openDatabaseOnWorkerQueue();
    void wipeIfNeededOnWorkerQueue();
    // Sets "deferred_analytics_collection" (0 enabling, 1 disabling) unless set or deactivated.
    void updateDeferredAnalyticsCollection(bool enabling);
    // The stored user attributes, internal ones included; no value with `error` on failure.
    std::optional<std::vector<APMUserAttribute>> storedUserAttributes(sdk::Error* error);
    // The transaction of writeFilteredEventOnWorkerQueue.
    bool writeEventTransaction(APMEvent& event);
    // The ad campaign, on-device measurement and linked-features fields of the metadata.
    void addStoredMetadataFields(APMPBMeasurementBundle& metadata);
    // previousFirstOpenCount + 1 ("%lld"), after a first open was stored.
    void countFirstOpen();
    // The local day number of now.
    std::int32_t currentDay();

    // Hooks that later parts of the engine fill in (APMMeasurementHooks.cpp): each does nothing
    // until then.
    void updateSchedule();
    void reportFirstOpenOnWorkerQueue();
    void setPersonalizedAdsUserPropertyOnWorkerQueue();
    void reportAppUpdateOnWorkerQueue();
    void reportOSUpdateOnWorkerQueue();
    void updateConsentSettingsUtilWithRemoteConfig();
    void backfillSessionNumber();
    void backfillSessionID(const sdk::Value& sessionID, const sdk::Value& sessionNumber);
    void setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    void startSessionReporterOnWorkerQueue();
    void setSessionReportingEnabled(bool enabled);
    void updateCachedAdCampaignInfoWithExistingGBRAIDProperty();
    void subscribeForAppForegroundBackgroundNotifications();
    // Whether the session has expired (false until sessions exist).
    bool isSessionExpired();
    void logErrorEvent(std::int64_t errorCode, std::string_view name, std::int32_t maxLength);
    // Step 9 of the pipeline: the event through the configuration's event-editing program.
    EventEditingResult editEventOnWorkerQueue(const APMEvent& event);
    void notifyEventListeners(const APMEvent& event);

    const std::string databaseName_;
    std::atomic<bool> didInitializeComponents_{false};
    std::mutex initializeComponentsLock_;
    std::shared_ptr<APMAlarm> alarm_;
    std::shared_ptr<APMDatabase> database_;
    std::shared_ptr<APMIdentity> identity_;
    std::shared_ptr<VDUNetwork> network_;
    std::shared_ptr<APMPersistedConfig> persistedConfig_;
    std::shared_ptr<APMRemoteConfig> remoteConfig_;
    std::shared_ptr<APMScheduler> scheduler_;
    std::shared_ptr<APMEManager> experimentManager_;
    std::shared_ptr<APMAudienceSeam> audience_;
    std::shared_ptr<APMAttributionStartSeam> attributionStart_;
    std::shared_ptr<APMConditionalUserPropertySeam> conditionalUserProperties_;
    std::shared_ptr<APMLifetimeValueSeam> lifetimeValue_;
    std::shared_ptr<APMOnDeviceConversionSeam> onDeviceConversion_;
    std::vector<std::int64_t> uploadingBundleIDs_;
    std::optional<std::string> previousVUDAppID_;
    double initTimestamp_ = 0;
    double suspendedUploadTimestamp_ = 0;
    const std::string appID_;
    const std::vector<std::string> safelistedEvents_;
    bool foundAdPersonalizationPlistFlag_ = false;
    bool shouldUpdateNPAUserProperty_ = false;
    bool shouldRequestDeferredDeepLinkAfterConfigFetch_ = false;
    std::atomic<bool> enabled_{false};
    bool wasEnabledDuringInitialization_ = false;
    std::atomic<bool> isAnalyticsCollectionEnabled_;
    std::atomic<bool> isAnalyticsCollectionDeactivated_;
    bool isNetworkRequestPending_ = false;
    // The user's language for the raw-event metadata, read once: it comes from the process's
    // locale variables, and asking again logs (and samples) a missing one for every event.
    std::optional<std::optional<std::string>> userDefaultLanguage_;
};
