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

#include "platform/app/ApplicationDelegate.h"
#include "sdk/measurement/audiences/APMConditionalUserPropertyEngine.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/utilities/Date.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUNetwork.h"
#include "sdk/utilities/VDUNetworkLoggerDelegate.h"
#include "sdk/utilities/VDUNotificationCenter.h"

class APMAlarm;
class APMAudience;
class APMAudienceTimestampsCache;
class APMConditionalUserPropertyController;
class APMDailyCounts;
class APMDatabase;
class APMEManager;
class APMEvent;
class APMEventAggregates;
class APMIdentity;
class APMConversionService;
class APMPrivateSetMembershipClient;
class APMPrivateSetMembershipClientClass;
class APMPSMContext;
class ODCConversionService;
class APMPersistedConfig;
class APMRawEventData;
class APMRemoteConfig;
class APMScheduler;
class APMSearchAdReporter;
class APMTCFClient;
class APMSessionReporter;
class APMUserAttribute;
class VDUNetwork;
struct APMConsentSnapshot;
namespace platform {
struct StoreTransaction;
}

// The measurement engine: one shared instance per process that owns the event store, the
// persisted and remote configuration, the network client, the worker queue, the upload alarm and
// the identity, and takes every event through its pipeline on the worker queue.
//
// Where the code lives: every member is defined in this folder (the library
// sdk_measurement_engine, which stands on the stores and the subsystems), one file per concern:
//   static helpers, shared instance     APMMeasurement.cpp
//   creation, start, enable, reset      APMMeasurementLifecycle.cpp
//   event pipeline on the worker queue  APMMeasurementEventHandling.cpp, ...EventEditing.cpp
//   writing events                      APMMeasurementEventWriting.cpp
//   bundling and sampling               APMMeasurementBundling.cpp, ...BundleContents.cpp,
//                                       ...RawEventMetadata.cpp, ...Sampling.cpp
//   reports and event entry             APMMeasurementReports.cpp, ...EventEntry.cpp
//   user properties, default params     APMMeasurementUserProperties.cpp,
//                                       ...DefaultEventParameters.cpp, ...PersonalizedAds.cpp
//   uploads and their schedule          APMMeasurementUpload.cpp, ...UploadSchedule.cpp,
//                                       ...NetworkLog.cpp
//   sessions                            APMMeasurementSessions.cpp
//   remote configuration fetch          APMMeasurementRemoteConfigFetch.cpp
//   campaigns and deep links            APMMeasurementCampaign.cpp, ...CampaignLinks.cpp,
//                                       ...DeferredDeepLink.cpp
//   search ads, TCF consent             APMMeasurementSearchAds.cpp, ...TCF.cpp
//   on-device conversion                APMMeasurementOnDeviceConversion.cpp,
//                                       ...ConversionService.cpp
// Conditional user properties live in the audiences (APMConditionalUserPropertyController); the
// engine serves them as their APMConditionalUserPropertyEngine, whose provider, the shared
// instance, provideConditionalUserPropertyEngine installs.
// The monitor, the configuration in force and the preview headers are the process-wide ones
// the layers below keep (APMMonitor::shared, APMRemoteConfig::current); the engine hands them
// out under its own names.
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
                       public VDUNetworkReachabilityDelegate,
                       public APMConditionalUserPropertyEngine,
                       public std::enable_shared_from_this<APMMeasurement> {
  public:
    // Static helpers (no engine needed) -----------------------------------------------------------

    // The engine's one monitor (APMMonitor::shared()), made on first use and alive for the rest
    // of the process. Safe from any thread.
    static APMMonitor& monitor();

    // The remote configuration in force (APMRemoteConfig::current()): the engine's once it has
    // started (the engine installs it with setRemoteConfig), else
    // APMRemoteConfig::defaultInstance(). Never null. Safe from any thread.
    static std::shared_ptr<APMRemoteConfig> remoteConfig();
    // Installs the engine's configuration; null goes back to the default instance.
    static void setRemoteConfig(std::shared_ptr<APMRemoteConfig> remoteConfig);

    // Whether the engine's shared instance exists. Any thread.
    static bool hasSharedInstance();
    // The shared instance, or null before initializeSharedInstance... made it. Any thread.
    static std::shared_ptr<APMMeasurement> sharedInstance();
    // Makes the shared instance the engine the conditional user properties work with, asked anew
    // on each use. Idempotent; the facade calls it when it registers, the engine before it makes
    // its shared instance. Any thread.
    static void provideConditionalUserPropertyEngine();

    // The server-side-tagging preview headers set from a debug-mode link; none until set.
    // Safe from any thread.
    static std::optional<std::map<std::string, std::string>> STGWPreviewHeaders();
    static void setSTGWPreviewHeaders(std::optional<std::map<std::string, std::string>> headers);

    // Creation ------------------------------------------------------------------------------------

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
    void writeEventOnWorkerQueue(APMEvent event) override;

    // Event writing (worker queue) --------------------------------------------------------------

    void writeFilteredEventOnWorkerQueue(APMEvent event) override;
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

    // Bundling and sampling (worker queue) --------------------------------------------------------
    // (APMMeasurementBundling.cpp, APMMeasurementBundleContents.cpp, APMMeasurementSampling.cpp)

    // Makes at most one bundle of the oldest raw-event group, in one transaction: a contiguous
    // run of one hour within the count and size limits, re-checked, enriched, sampled, queued,
    // and the run deleted. True when it made progress (a bundle queued, or a run rejected or
    // sampled out entirely); the caller repeats while it does. False when there was nothing to
    // do, the components have not started, or the pass failed and rolled back (the same run is
    // tried again next time).
    bool bundleRawEvents();
    // The run of raw events of `fingerprint` that the next bundle takes, in row order; no
    // value on a database error.
    std::optional<std::vector<APMRawEventData>> rawEventsWithMetadataFingerprint(
        std::int64_t fingerprint);
    // Removes the rejected rows from `rows`, then applies the conversion and real-time limits
    // of the day. The events to bundle; empty when every row was rejected (the run is deleted
    // then); no value on a database error.
    std::optional<std::vector<APMEvent>> processRawEvents(std::vector<APMRawEventData>& rows,
                                                          std::int64_t fingerprint);
    // Marks a custom conversion and counts a public conversion against the day's limit (over
    // it the mark goes). Whether the counts changed.
    bool checkConversion(APMEvent& event, APMDailyCounts& dailyCounts);
    // Real-time and conversion events against the day's real-time limits. Whether the counts
    // changed.
    bool checkRealtime(APMEvent& event, APMDailyCounts& dailyCounts);
    // A reserved public name the app may log ("ad_impression") as its internal event.
    static APMEvent internalEventFromPublicEvent(const APMEvent& event);
    // Snapshots or restores the events table when analytics storage consent changed since the
    // last bundle.
    void handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& metadata);
    // Session-start clears and the engagement time of the rows; failures end the step only.
    void evaluationTimeFromRawEvents(const std::vector<APMRawEventData>& rows,
                                     APMPBMeasurementBundle& bundle);
    // Adds `engagementMs` to "_lte" (or "_se" when session scoped) in the database and in the
    // bundle's user attributes. False for a negative time or a database error.
    bool updateUserEngagement(std::int64_t engagementMs, APMPBMeasurementBundle& bundle,
                              bool sessionScoped);
    // Each event with its customer type and previous time; its aggregates counted and stored.
    // No value on a database or audience error.
    std::optional<std::vector<APMEvent>> eventsAfterUpdatingEventAggregates(
        std::vector<APMEvent> events, APMAudienceTimestampsCache& cache,
        bool allowEventFilterEvaluation);
    // A purchase with "_ct" = "new" or "returning" when customer types are enabled.
    APMEvent purchaseEventWithCustomerTypeParam(const APMEvent& event);
    // The previous-bundle times and running indices of the bundle, advanced in "app_metadata".
    bool updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                    double bundleEndTimestamp);
    // Experiment IDs, monitor data, configuration version, app ID fallback, start and end.
    void addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                     double bundleEndTimestamp);

    // The events that survive sampling, in order, with "_sr"/"_efs" where due; the per-name
    // sampling state is written back. No value with `error` on a database error.
    std::optional<std::vector<APMPBEvent>> sampleEvents(std::vector<APMPBEvent> events,
                                                        sdk::Error* error);
    // Sampling is on and the event's name has a rate above 1 (a rate of 1 or less logs 23154).
    bool canEventBeSampled(const APMPBEvent& event);
    // True with probability 1/rate.
    bool isEventBundledAfterRoll(std::uint32_t rate);
    // The analytics account's day of `seconds`: (seconds + offsetMinutes x 60) / 86400
    // truncated toward zero, saturating at the int32 range (NaN gives 0).
    static std::int32_t accountDayNumber(double seconds, std::int32_t offsetMinutes);

    // Reports, event entry, user properties and default event parameters ------------------------
    // (core/APMMeasurementReports.cpp, EventEntry, UserProperties, DefaultEventParameters and
    // PersonalizedAds). Members that schedule say "any thread"; the rest run on the worker queue.

    // Takes a public event instead of the engine: origin, name, parameters (screen parameters
    // included) and timestamp.
    using EventInterceptor =
        std::function<void(const std::string& origin, const std::string& name,
                           const APMRawParameters& parameters, double timestamp)>;
    // The facade's event as it reaches the engine.
    struct EventEntry {
        std::string origin;
        bool isPublicEvent = false;
        std::string name;
        APMRawParameters parameters;
        double timestamp = 0;
        bool enabled = false;
        bool ignoreEnabled = false;
        bool ignoreInterceptor = false;
        EventInterceptor interceptor;
        APMRawParameters addedScreenParameters;
        // The consent in force when the event was logged; none: the consent when it is written.
        std::shared_ptr<const APMConsentSnapshot> consent;
    };

    // Any thread: handleEventOnWorkerQueue (block "APMMeasurement:2582"); none logs 23048.
    void logEvent(std::optional<APMEvent> event);
    // Any thread: logEventOnWorkerQueueWithOrigin (block "APMMeasurement:2476").
    void logEventWithOrigin(EventEntry entry);
    // Adds the default event parameters (not with ignoreInterceptor, not to "_err"), makes the
    // event (failure logs 23219) and hands it on: to the pipeline without listeners when
    // collection is off and not ignored, or for an ad event; to the interceptor for a public
    // event when one is given and not ignored; else to the pipeline and the listeners.
    void logEventOnWorkerQueueWithOrigin(EventEntry entry);
    // Before the process ends: the facade's events that reach the worker queue from now on are
    // dropped unhandled. Any thread.
    void stopTakingEvents() { takesEvents_ = false; }
    // The facade's events the worker queue has handled (stored, or refused by its rules). Any
    // thread.
    std::int64_t eventEntriesHandled() const { return eventEntriesHandled_; }
    void logEventOnWorkerQueue(APMEvent event, bool notifyListeners);

    // (ms / 1 h) x 1 h + 1 h: a time on the hour still moves on by one hour.
    static std::int64_t timestampMillisRoundedUpToNextHour(std::int64_t milliseconds);
    // Whether this install began with the version it runs now: yes, as the app has always
    // shipped with this library.
    static bool isVersionSameAsOriginalVersion() { return true; }
    // First opens counted before the last data reset, as a decimal string ("0" when none);
    // stored as a number in the persisted configuration.
    std::string previousFirstOpenCount();
    void setPreviousFirstOpenCount(std::string_view count);
    // "_fot"'s last-set time, else the earliest last-set time of any user property; 0 when
    // there are none (23124) or they cannot be read (23123).
    double firstOpenTimestamp();
    // Clears the campaign link stored in the standard user defaults and reports it
    // (handleOpenURLOnWorkerQueue with its extra parameters); nothing when none is stored.
    void reportStoredCampaignEventOnWorkerQueue(std::optional<std::int64_t> clickTimestampMillis);
    // Any thread: the user data for on-device conversion measurement (block
    // "APMMeasurement:3367").
    void setUserData(sdk::Value::Dictionary userData);
    // Any thread: keeps the purchased transactions that are not known duplicates by the purchase
    // reporter's fingerprint (known ones log 23141; one without a fingerprint is kept with
    // 23139) and passes them to `callback` on the global queue (block "APMMeasurement:3838").
    void filterPurchaseTransactions(
        std::vector<platform::StoreTransaction> transactions,
        std::function<void(std::vector<platform::StoreTransaction>)> callback);

    // Any thread: set or remove a user property on the worker queue (blocks
    // "APMMeasurement:3011", "APMMeasurement:2966"); none logs 23079 or 23074.
    void setUserAttribute(std::optional<APMUserAttribute> attribute);
    void removeUserAttribute(std::optional<APMUserAttribute> attribute);
    // Nothing while collection is off (23081); else setUserPropertyInDatabaseOnWorkerQueue.
    void setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute);
    // Stores the property within its origin's limit; false (nothing stored) when it is refused
    // (23084) or cannot be read or written (23082, 23085).
    bool setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute);
    void removeUserAttributeOnWorkerQueue(const APMUserAttribute& attribute);
    // Any thread: the stored property of that name (none when absent or unreadable, 23089),
    // passed to `callback` on the worker queue (block "APMMeasurement:3152").
    void userAttributeWithName(std::string name,
                               std::function<void(std::optional<APMUserAttribute>)> callback);
    // Any thread: the stored properties as name -> number or string, on the worker queue (block
    // "APMMeasurement:3207"); without internal ones, invalid public ones are left out (23092).
    // An unreadable store gives an empty dictionary (23091).
    void userPropertiesIncludingInternal(bool includeInternal,
                                         std::function<void(sdk::Value::Dictionary)> callback);
    // Any thread: 25, the most user properties of a non-public origin, on the global queue.
    void maxUserPropertiesForOrigin(std::string_view origin,
                                    std::function<void(std::int32_t)> callback);
    bool hasUserPropertyUserIDOnWorkerQueue();

    // Any thread: handleSetDefaultEventParametersOnWorkerQueue with shouldBackfillEvents (block
    // "APMMeasurement:2590").
    void setDefaultEventParameters(std::optional<sdk::Value::Dictionary> parameters);
    // Merges `parameters` into the stored defaults (none empties them; a null value removes its
    // entry), at most maxPublicEventParams; with `backfillEvents` the raw events stored since
    // the engine's load gain them too.
    void handleSetDefaultEventParametersOnWorkerQueue(
        const std::optional<sdk::Value::Dictionary>& parameters, bool backfillEvents);
    // Whether raw events exist and none since the load came from the app.
    bool shouldBackfillEvents();
    // Adds `parameters` (never over an event's own) to every stored raw event `eventFilter`
    // accepts.
    void backfillEventsWithParameters(
        const APMRawParameters& parameters, bool isPublic,
        const std::function<bool(const APMRawEventData&)>& eventFilter);
    // The stored defaults with `parameters` written over them.
    APMRawParameters parametersWithAddedDefaultEventParameters(const APMRawParameters& parameters);
    // Where the session-ID back-fill starts: the first stored "_f", else `sessionID` - 15 s.
    double backfillStartTimestampForSessionID(double sessionID);

    // Whether personalised ads are to be off (the "_npa" value); none when nothing says.
    std::optional<bool> shouldDisableAdPersonalization();
    void updateAdPersonalizationConsentFromNPAValue(std::optional<std::int64_t> value);
    bool shouldUpdateNPAUserProperty() const { return shouldUpdateNPAUserProperty_; }
    void setShouldUpdateNPAUserProperty(bool value) { shouldUpdateNPAUserProperty_ = value; }
    // The Info.plist switch "VOVIDU_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED"; yes when
    // it is absent or not a number. Any thread.
    static bool shouldAllowAdNetworkRegistration();

    // Upload scheduling and upload (worker queue; APMMeasurementUploadSchedule.cpp,
    // APMMeasurementUpload.cpp) ------------------------------------------------------------------
    //
    // Upload states: idle (no alarm), scheduled (alarm pending), in flight (uploadingBundleIDs_
    // non-empty and isNetworkRequestPending_ set), suspended (suspendedUploadTimestamp_ non-zero,
    // for one hour of uptime). A pending alarm is only ever moved earlier by updateSchedule.
    // Only one request, an upload or a configuration fetch, is in flight at a time.

    // A queued bundle and its row ID in "queue".
    using QueuedBundle = std::pair<std::shared_ptr<APMPBMeasurementBundle>, std::int64_t>;

    // When the next upload should run, in seconds since 1970; 0 when none should (no data, or
    // the retries after the last failure are used up).
    double nextUploadingTime();
    // One upload attempt: bundles the raw events, sends the leading queued bundles that may
    // share one batch and hands the answer to networkUploadCompletionHandlerWithResponse.
    void uploadData();
    // uploadData when the network is connected and there is data, else updateSchedule.
    void uploadDataOrRegisterAlarm();
    // What the app's resigning active does: uploadDataOrRegisterAlarm when
    // mayUploadBeforeSchedule, else updateSchedule (which keeps a pending alarm that is not
    // later than the plan).
    void uploadOnFocusLossOrRegisterAlarm();
    // Whether an upload may run now, ahead of the alarm: no back-off is in force, no upload
    // succeeded within the upload interval (the real-time one when real-time data waits), and no
    // upload failed since the latest data arrived (its retries keep their own times).
    bool mayUploadBeforeSchedule();
    // Whether "queue" or "raw_events" holds a row; false when a check fails (logged).
    bool hasDataToUpload();
    // Whether neither this engine nor the network has a request in flight.
    bool isNetworkReadyForRequest();
    // The leading rows of `bundlesToUpload` that may share one batch: the same app ID (tag 14)
    // and no other non-empty value of the given device identifier. Giving both identifiers logs
    // 23042 and returns no rows.
    std::vector<QueuedBundle> filteredBundlesWithCompatibleAppID(
        const std::string& appID, const std::optional<std::string>& resettableDeviceID,
        const std::optional<std::string>& vendorDeviceID,
        const std::vector<QueuedBundle>& bundlesToUpload);
    // Records the row IDs of the batch in flight; an empty list (23046) or a batch already in
    // flight (23047) leaves the record unchanged.
    void setUploadInProgressWithBundleIDs(const std::vector<std::int64_t>& bundleIDs);
    // The upload's answer: 200 and 204 delete the sent rows, any other answer counts a retry on
    // them (503 and 429 also start a back-off).
    void networkUploadCompletionHandlerWithResponse(const VDUNetwork::Response& response,
                                                    const sdk::Error& error);
    void incrementRetryCounter();
    // False (logged 23122) when the rows cannot be deleted.
    bool removeBundlesFromDatabaseWithIDs(const std::vector<std::int64_t>& bundleIDs);
    // VDUNetworkReachabilityDelegate: plans the upload again on the worker queue. Any thread.
    void reachabilityDidChange() override;
    // Writes the persisted configuration to disk (nothing else runs in the background here).
    void terminateBackgroundTask();
    bool shouldUseBackgroundSession() const { return false; }
    double suspendedUploadTimestamp() const { return suspendedUploadTimestamp_; }
    const std::vector<std::int64_t>& uploadingBundleIDs() const { return uploadingBundleIDs_; }
    // Seconds since boot, counting suspend (APMSystemUptime); 0 when the clock cannot be read.
    static double systemUptime();

    // Sessions (APMMeasurementSessions.cpp) -----------------------------------------------------

    // The session reporter: null before the component start; a wipe replaces it. Any thread.
    std::shared_ptr<APMSessionReporter> sessionReporter() const;
    // An event in an expired session starts one at `timestamp`: a new session number, "_sid"
    // and "_sno" stored, and the session start "_s" handled ("_aib" = 1 when in the background
    // and the configuration allows it). Nothing while the session lasts.
    void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground);
    // Any thread: the reporter's session timeout (block "APMMeasurement:1565").
    void setSessionTimeoutInterval(double seconds);
    // Answers the current session ID, or a code 13 error ("Analytics deallocated", "Analytics
    // disabled", "Session expired", "Session ID not found"), on the worker queue. Any thread
    // (block "APMMeasurement:3360").
    using SessionIDCompletion = std::function<void(std::optional<std::int64_t>, sdk::Error)>;
    void sessionIDWithCompletion(SessionIDCompletion completion);
    // Hands the configuration's session settings and parameter limits to the session and
    // screen-view reporters, which work off the worker queue.
    void refreshActivitySettingsOnWorkerQueue();

    // Remote configuration fetch (worker queue; APMMeasurementRemoteConfigFetch.cpp) ------------

    // Starts a conditional GET of the configuration (the stored validators are sent only when
    // the library version that stored them is this one).
    void fetchRemoteConfig();
    // The fetch's answer: stores a configuration of this app, records the fetch time, or counts
    // a failure like a failed upload.
    void networkRemoteConfigFetchCompletionHandler(const VDUNetwork::Response& response,
                                                   const VDUNetwork::Data& data,
                                                   const sdk::Error& error);
    // The application became active: when the configuration asks for it, fetches a
    // configuration older than a week. Any thread (the notification's).
    void handleAppDidBecomeActiveEvent(const VDUNotification& notification);
    // The application will resign active: writes the persisted configuration to disk (23144)
    // and, behind every earlier facade call, uploads or sets the alarm on the worker queue
    // (block "APMMeasurement:4025"). Any thread (the notification's).
    void handleAppWillResignActiveEvent(const VDUNotification& notification);

    // Campaign links, the deferred deep link and the server-side tagging preview ----------------
    // (APMMeasurementCampaign.cpp, APMMeasurementCampaignLinks.cpp,
    // APMMeasurementDeferredDeepLink.cpp). A campaign link becomes one "_cmp" (or "_cmpx") event,
    // its click data the persisted AdCampaignInfo and "_vbraid". Deferred deep link states
    // (persisted):
    //   not asked --success--> retrieved (deferredDeepLinkRetrievalComplete 0)
    //   not asked --failure--> retry count + 1 --count at the limit--> given up (complete 1)

    // Query parameters of a campaign link, by key.
    using CampaignURLParameters = std::map<std::string, std::string, std::less<>>;

    // The URL of a web-browsing activity; none for no activity (23003) or another kind of
    // activity or one without a URL (23006). Any thread.
    static std::optional<std::string> deepLinkFromUserActivity(
        const std::optional<platform::UserActivity>& activity);
    // A URL opened after the first open: refused on the worker queue (23163), else
    // handleOpenURL without a click time. Any thread but the worker queue.
    void handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds);
    // Ignores an empty URL; else the debug-mode URL handling, then handleDeepLink. Any thread.
    void handleOpenURL(const std::string& url, std::optional<std::int64_t> clickTimestampMillis,
                       double eventTimestampInSeconds);
    // Schedules handleOpenURLOnWorkerQueue without extra parameters (block
    // "APMMeasurement:502"). Any thread.
    void handleDeepLink(const std::string& url, std::optional<std::int64_t> clickTimestampMillis,
                        double eventTimestampInSeconds);
    // The engine's debug-mode URL handling: the server-side tagging switch. Any thread.
    static void handleDebugModeWithURL(const std::string& url);
    // The campaign event of `url` whose query (over the string extras) holds campaign keys;
    // the number extras join its parameters. Stores the click data and "_vbraid".
    void handleOpenURLOnWorkerQueue(const std::string& url,
                                    std::optional<std::int64_t> clickTimestampMillis,
                                    double eventTimestampInSeconds,
                                    const sdk::Value::Dictionary& extraParameters);
    // Whether a campaign key has a non-empty value, or any key begins with "cad_".
    static bool isValidCampaignURLParamDictionary(const CampaignURLParameters& parameters);
    // Whether click identifiers may be kept: always before tracking authorisation existed or
    // with a device ID; else only when tracking is authorised.
    bool shouldAllowClickID();
    // The gates of the deferred deep link request, first failing one wins (23193-23197,
    // 23252); the retry limit also marks the retrieval complete.
    bool shouldAllowRequestDeferredDeepLink();
    // GETs the deferred deep link (23198 for an invalid address); its answer on the worker
    // queue counts a retry (23199) or marks the retrieval done and hands a link on.
    void requestDeferredDeepLink();
    // The request's address for the identity, consent and configuration in force.
    std::string deferredDeepLinkRequestURL();
    // The reply's JSON object when it holds a valid "deeplink" URL; none for an empty reply
    // (23201), bad JSON (23202) or anything else. Any thread.
    static std::optional<sdk::Value::Dictionary> deepLinkInfoFromResponseData(
        const VDUNetwork::Data& data);
    // Hands the reply's link to the app delegate on the main queue; when it takes it, the
    // campaign event follows on the worker queue (block "APMMeasurement:424").
    void handleDeferredDeepLinkInfo(const sdk::Value::Dictionary& info);
    // Offers `url` to the application's delegate as a continued web-browsing activity; whether
    // the delegate took it. Main thread. (`extraInfo` has no place in an activity here.)
    static bool sendDeepLinkURLToAppDelegateOnMainThread(const std::string& url,
                                                         const sdk::Value::Dictionary& extraInfo);
    // "stgw_debug_enable" of the URL's query: "1" switches the monitor's tagging debug mode on
    // with the preview header of "stgw_preview_key" (none without a key), "0" off without one.
    // Any thread.
    static void handleSTGWDebugModeWithURL(const std::string& url);
    // The launch options of the finished-launching notification: an activity's link is stored
    // for attribution, else the launch URL, whose tagging switch is applied. Any thread.
    static void handleStoredURLAfterAppLaunchWithNotification(const VDUNotification& notification);
    // Once per process: observes the finished-launching notification, which makes the
    // screen-view reporter (so that it hears the first activation) and hands its user info to
    // handleStoredURLAfterAppLaunchWithNotification. Any thread.
    static void subscribeForAppDidFinishLaunchingNotifications();
    // Start step: reports a stored campaign link; else requests the deferred deep link now or,
    // with an expired configuration, after the next configuration fetch.
    void startCampaignOnWorkerQueue();
    bool shouldRequestDeferredDeepLinkAfterConfigFetch() const {
        return shouldRequestDeferredDeepLinkAfterConfigFetch_;
    }

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
    const std::shared_ptr<APMDatabase>& database() const override { return database_; }
    const std::shared_ptr<APMIdentity>& identity() const { return identity_; }
    const std::shared_ptr<VDUNetwork>& network() const { return network_; }
    const std::shared_ptr<APMPersistedConfig>& persistedConfig() const { return persistedConfig_; }
    const std::shared_ptr<APMRemoteConfig>& remoteConfigInstance() const { return remoteConfig_; }
    const std::shared_ptr<APMScheduler>& scheduler() const override { return scheduler_; }
    // Null until the start made one, and when none was made (search ads done or given up).
    const std::shared_ptr<APMSearchAdReporter>& searchAdReporter() const {
        return searchAdReporter_;
    }
    const std::vector<std::string>& safelistedEvents() const { return safelistedEvents_; }
    const std::string& appID() const { return appID_; }
    double initTimestamp() const { return initTimestamp_; }
    // Any thread.
    bool isEnabled() const override { return enabled_.load(); }
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
    // The TCF client, made by the start (null before); worker queue.
    const std::shared_ptr<APMTCFClient>& tcfClient() const { return tcfClient_; }
    // Applies the consent-management platform's "IABTCF_" keys when they changed since they
    // were last applied (nothing before the start made the client); worker queue.
    void tcfClientSetConsentFromData();

    // The audience evaluation, made at component start (null before).
    const std::shared_ptr<APMAudience>& audience() const { return audience_; }
    // The conditional user properties the write path times out, expires and triggers
    // (APMConditionalUserPropertyController's shared instance); never null.
    const std::shared_ptr<APMConditionalUserPropertyController>& conditionalUserProperties() const {
        return conditionalUserProperties_;
    }
    // On-device conversion measurement (worker queue) ---------------------------------------------
    // (APMMeasurementOnDeviceConversion.cpp, APMMeasurementConversionService.cpp)

    // Start: a fresh context when a client library is present (23253); without one, 23254 when
    // the user has request counters.
    void checkPSMDependencyOnWorkerQueue();
    // The first input of "email_address", "phone_number", "hashed_email_address",
    // "hashed_phone_number" that passes its checks makes the client; then a query.
    void initiateODM1ProtocolWithUserData(const sdk::Value::Dictionary& userData);
    // The gates of a new initiation in order: library (23233), first-open window (23261), a
    // request in progress (23235), starts per run (23236), a match found (23237), retries
    // (23238).
    bool shouldRetrievePSMResponse();
    bool shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress);
    bool shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber);
    bool shouldRetrievePSMResponseWithHashedIdentifier(const sdk::Bytes& hashedIdentifier);
    // A client of the library for one input; null when the library has none for it.
    std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithEmailAddress(
        const std::string& emailAddress);
    std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithPhoneNumber(
        const std::string& phoneNumber);
    std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithHashedEmailAddress(
        const sdk::Bytes& hashedEmailAddress);
    std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithHashedPhoneNumber(
        const sdk::Bytes& hashedPhoneNumber);
    // The client's address with the request counter, the first open and the debug key.
    std::optional<std::string> PSMRequestURL();
    // Posts the current client's query, or postpones it while the network is busy (23232).
    void retrievePSMResponse();
    // The next try after PSMRetryInterval x 2^retries, or 23231 when retries are used up.
    void maybeSchedulePSMRetry();
    void handlePSMValueOnWorkerQueue(const std::string& value, bool isSessionValue);
    void incrementPSMCountOnWorkerQueueWithName(std::string_view name);
    // Start: removes a match older than 90 days with its counters, or restores its
    // "odm1_value" row.
    void maybeDeleteExpiredPSMValueOnWorkerQueue();
    // The client library in the class registry (the deprecated name first); null when none.
    std::shared_ptr<const APMPrivateSetMembershipClientClass> PSMClientClass();
    bool isAPMPrivateSetMembershipClientLinked();

    std::shared_ptr<const ODCConversionService> conversionServiceClass();
    bool isAdsOnDeviceConversionLinked();
    bool isAlphaAppAdsOnDeviceConversionLinked();
    bool isVoviduAdsOnDeviceConversionLinked();
    // Linked, switched on by the configuration (23275) and ad storage not denied (23276).
    bool isAdsOnDeviceConversionEnabled();
    std::shared_ptr<APMConversionService> conversionServiceFromReflection();
    // The first open; none when it was not recorded.
    std::optional<sdk::Date> firstLaunchDate();
    void checkODM2DependencyOnWorkerQueue();
    // After each configuration fetch: asks the service for its value (or clears the stored one
    // when the service is not enabled).
    void updateAdsOnDeviceConversionMeasurement();
    void handleAdsOnDeviceConversionValue(const std::optional<std::string>& value,
                                          const std::optional<sdk::Error>& error);

    // Null until a client library was found.
    const std::shared_ptr<APMPSMContext>& ODM1Context() const { return ODM1Context_; }
    void setODM1Context(std::shared_ptr<APMPSMContext> context) {
        ODM1Context_ = std::move(context);
    }
    const std::shared_ptr<APMConversionService>& conversionService() const {
        return conversionService_;
    }
    void setConversionService(std::shared_ptr<APMConversionService> service) {
        conversionService_ = std::move(service);
    }

    // Tests fix the sampling draw and run blocks on the worker queue through it
    // (tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h).
    friend class APMMeasurementTestPeer;

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
    // previousFirstOpenCount + 1 (stored as a number), after a first open was stored.
    void countFirstOpen();
    // The local day number of now.
    std::int32_t currentDay();
    // Upload timing inputs (APMMeasurementUploadSchedule.cpp): the latest stored event or
    // bundle time, 0 when none (a failed query logs 23029 or 23030); the upload interval, the
    // real-time one in debug mode or when real-time data is stored.
    double latestDataTime();
    double uploadIntervalForStoredData();

    // Bundling steps (APMMeasurementBundling.cpp). The run a bundling pass takes: its group,
    // last row and the earliest and latest time of its events (seconds).
    struct RawEventRun {
        std::int64_t fingerprint = 0;
        std::int64_t lastRowID = 0;
        double start = 0;
        double end = 0;
    };
    // The pass inside its transaction; false rolls it back. Sets `progress` when a bundle was
    // queued or a run deleted.
    bool bundleOldestRunOnWorkerQueue(bool& progress);
    // Enriches, samples and queues the run's events; true when the bundle was queued (or the
    // run sampled out) and the run deleted.
    bool queueBundleOnWorkerQueue(APMPBMeasurementBundle& bundle, const RawEventRun& run,
                                  const std::vector<APMRawEventData>& rows,
                                  std::vector<APMEvent> events);
    bool addAudienceResults(APMPBMeasurementBundle& bundle, APMAudienceTimestampsCache& cache,
                            double evaluationTime);
    bool insertBundleAndDeleteRun(const APMPBMeasurementBundle& bundle, const RawEventRun& run,
                                  bool isRealtime);

    // The sampling step of sampleEvents (APMMeasurementSampling.cpp): whether `event` survives
    // sampling, kept unsampled, kept by the roll ("_sr") or kept as the first of its account
    // day ("_sr", "_efs"); its name's `state` records the outcome.
    bool sampleEvent(APMPBEvent& event, APMEventAggregates& state, std::int32_t offsetMinutes);

    // Start and enable steps, each defined with the concern it serves: the upload schedule
    // (APMMeasurementUploadSchedule.cpp), the first-open, app-update and OS-update reports
    // (APMMeasurementReports.cpp), personalised ads and the consent defaults
    // (APMMeasurementPersonalizedAds.cpp), sessions (APMMeasurementSessions.cpp), the session ID
    // default parameter (APMMeasurementDefaultEventParameters.cpp), user properties
    // (APMMeasurementUserProperties.cpp) and the foreground/background observers
    // (APMMeasurementRemoteConfigFetch.cpp).
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
    void updateCachedAdCampaignInfoWithExistingVBRAIDProperty();
    void subscribeForAppForegroundBackgroundNotifications();
    // Start step 16 (APMMeasurementSearchAds.cpp): makes, enables and starts the reporter.
    void startSearchAdReporterOnWorkerQueue();
    // Start step 17 (APMMeasurementTCF.cpp): makes the TCF client for the configuration's DMA
    // region and applies its data.
    void startTCFClientOnWorkerQueue();
    // Whether the session has expired (false before the component start).
    bool isSessionExpired();
    void logErrorEvent(std::int64_t errorCode, std::string_view name, std::int32_t maxLength);
    // Step 9 of the pipeline: the event through the configuration's event-editing program.
    EventEditingResult editEventOnWorkerQueue(const APMEvent& event);
    void notifyEventListeners(const APMEvent& event);

    // Reports and user properties: the stored user property of that name (none when absent, or
    // with `error` set when the store cannot be read), its write and its removal.
    std::optional<APMUserAttribute> storedUserAttributeWithName(std::string_view name,
                                                                sdk::Error* error);
    bool storeUserAttribute(const APMUserAttribute& attribute, sdk::Error* error);
    bool deleteStoredUserAttribute(std::string_view name, sdk::Error* error);
    // Sets the "auto" property `name` (last set at `lastSet`) and checks that it is stored;
    // false logs `queryCode` (unreadable) or `setCode` (not stored).
    bool setReportedUserAttribute(std::string_view name, APMValue value, double lastSet,
                                  std::int64_t queryCode, std::string_view queryMessage,
                                  std::int64_t setCode, std::string_view setMessage);
    // The first-open event and, unless redundant engagement removal is on, its engagement.
    void logFirstOpenEventsOnWorkerQueue(std::int64_t previousCount, std::int64_t firstInstall);
    // Stores a changed version, logging `eventName` with the old one as `parameterName`.
    void reportVersionChangeOnWorkerQueue(
        const std::optional<std::string>& stored, const std::optional<std::string>& current,
        const std::function<void(const std::optional<std::string>&)>& store,
        std::string_view eventName, std::string_view parameterName);
    // On-device conversion helpers: the answer to a query posted with `context` and `client`,
    // and the "_fx" event announcing a value from `source` ("psm", "psm_cads").
    void handlePSMResponse(const std::shared_ptr<APMPSMContext>& context,
                           const std::shared_ptr<APMPrivateSetMembershipClient>& client,
                           const std::string& counterName, bool isSessionRequest,
                           const VDUNetwork::Response& response, const VDUNetwork::Data& data,
                           const sdk::Error& error);
    void writeOnDeviceConversionEventOnWorkerQueue(std::string_view source);
    // The context, made when a client library is present; null without one.
    APMPSMContext* PSMContextIfLinked();

    // Upload and configuration fetch helpers.
    // The queried rows completed with their upload-time fields, cut where the consent changes:
    // the batch and its row IDs.
    std::pair<APMPBMeasurementBatch, std::vector<std::int64_t>> uploadBatchFromRows(
        std::vector<QueuedBundle> rows, std::int64_t nowMilliseconds);
    // The storing block of a fetched configuration; false rolls its transaction back.
    bool storeFetchedRemoteConfig(const sdk::Bytes& body);
    // Arms the upload alarm for `next` (seconds since 1970), no earlier than the end of a
    // back-off, unless it is already due no later.
    void scheduleUploadAt(double next);
    // The upload's address and headers (server-side tagging when enabled); none, logging
    // 23263, when tagging is enabled without an address.
    std::optional<std::pair<std::string, VDUNetwork::Headers>> uploadEndpoint();
    // Records `bundleIDs` as in flight and posts `payload`; the answer goes to
    // networkUploadCompletionHandlerWithResponse.
    void postUploadBatch(const std::string& url, const VDUNetwork::Headers& headers,
                         const sdk::Bytes& payload, const std::vector<std::int64_t>& bundleIDs,
                         double now);
    // Records a failed upload or fetch at `now` (503 and 429 also start a back-off).
    void recordUploadFailureWithCode(long code, double now);

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
    std::shared_ptr<APMSearchAdReporter> searchAdReporter_;
    std::shared_ptr<APMTCFClient> tcfClient_;
    mutable std::mutex sessionReporterMutex_;
    std::shared_ptr<APMSessionReporter> sessionReporter_;  // guarded by sessionReporterMutex_
    std::shared_ptr<APMEManager> experimentManager_;
    std::shared_ptr<APMAudience> audience_;
    std::shared_ptr<APMConditionalUserPropertyController> conditionalUserProperties_;
    std::shared_ptr<APMPSMContext> ODM1Context_;
    std::shared_ptr<APMConversionService> conversionService_;
    // Set once both the conversion service and the deprecated client library were found: the
    // deprecated library then counts as absent.
    bool deprecatedPSMClientRefused_ = false;
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
    // Bundling: the sampling draw a test fixed (APMMeasurementTestPeer::setSamplingDraw).
    std::optional<bool> samplingDrawIsZero_;
    // While a logged event is handled: the consent it was logged under, which the raw-event
    // metadata of what it writes carries instead of the consent of the moment.
    std::shared_ptr<const APMConsentSnapshot> writingConsent_;
    std::atomic<bool> takesEvents_{true};
    std::atomic<std::int64_t> eventEntriesHandled_{0};

    // Removed with the engine: the become-active and will-resign-active observations.
    VDUObserverToken appDidBecomeActiveObserver_;
    VDUObserverToken appWillResignActiveObserver_;
};
