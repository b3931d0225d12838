// The engine's creation, its one-time component start on the worker queue, enabling and
// disabling collection, and wiping its data.
#include <cassert>
#include <filesystem>

#include "sdk/measurement/attribution/APMPSMContext.h"
#include "sdk/measurement/attribution/APMSearchAdReporter.h"
#include "sdk/measurement/audiences/APMAudience.h"
#include "sdk/measurement/audiences/APMBackwardCompatibilityUtil.h"
#include "sdk/measurement/audiences/APMConditionalUserPropertyController.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMExcludeFromBackup.h"
#include "sdk/measurement/engine/APMFilePaths.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMIdentifiers.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/script/APMPConfigurationProgram.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "sdk/utilities/VDUNetwork.h"

namespace {

constexpr std::string_view kDatabaseName = "vovidu-app-measurement.sql";
constexpr std::string_view kWorkerQueueLabel = "com.vovidu.diru.worker";
constexpr std::string_view kAlarmName = "Measurement timer";
constexpr std::string_view kDocumentationPointer = " (see the SDK's logging documentation)";
constexpr std::string_view kDeepLinkKey = "/vovidu/measurement/deep_link";
constexpr std::string_view kDeepLinkTimestampKey =
    "/vovidu/measurement/deep_link_timestamp_seconds";
// A reset asked for this many times and still not done stops being retried at start.
constexpr std::int64_t kMaxResetRetryCount = 9;

bool isEmpty(const std::optional<std::string>& text) {
    return !text || text->empty();
}

// The host of an address "scheme://host[:port][/path]"; an IPv6 host without its brackets.
std::string hostOfURL(std::string_view url) {
    const std::size_t scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        return std::string(rest.substr(1, close == std::string_view::npos ? close : close - 1));
    }
    return std::string(rest.substr(0, rest.find_first_of(":/")));
}

// "To enable/disable <what> logging ..." with the argument that switches it the other way.
void logSwitchHint(std::int64_t level, std::int64_t code, std::string_view what, bool on,
                   const std::string& onArgument, const std::string& offArgument) {
    APMMeasurement::monitor().logWithLevel(
        level, code,
        std::string(on ? "To disable " : "To enable ") + std::string(what) +
            " logging set the following application argument: " + (on ? offArgument : onArgument) +
            std::string(kDocumentationPointer));
}

void logLaunchArgumentHints() {
    APMMonitor& monitor = APMMeasurement::monitor();
    const bool core = VDUClassRegistry::classNamed("REROdazadeve") != nullptr;
    const std::string prefix = core ? "REROdazadeve" : "APMAnalytics";
    logSwitchHint(6, 23008, "debug", monitor.isDebugModeEnabled(), "-" + prefix + "DebugEnabled",
                  "-no" + prefix + "DebugEnabled");
    monitor.logWithLevel(7, 23009, "Debug logging enabled");
    logSwitchHint(7, 23207, "verbose", monitor.isVerboseLoggingEnabled(),
                  "-" + prefix + "VerboseLoggingEnabled", "-" + prefix + "VerboseLoggingDisabled");
}

void logVersionLine() {
    APMMonitor& monitor = APMMeasurement::monitor();
    const std::shared_ptr<const VDUClass> core = VDUClassRegistry::classNamed("REROdazadeve");
    std::optional<std::string> version = core ? core->sdkVersion() : std::nullopt;
    monitor.logWithLevel(6, 23007,
                         "Analytics v." +
                             version.value_or(std::string(APMIdentity::kLibraryVersionString)) +
                             " started");
    if (core) {
        monitor.logWithLevel(
            8, 23222, "Build " + std::to_string(APMIdentity::divEdadevadezeLibraryVersion()));
    }
}

}  // namespace

// Creation -------------------------------------------------------------------------------------

void APMMeasurement::initializeSharedInstanceWithAppID(std::string_view appID,
                                                       bool isAnalyticsCollectionEnabled,
                                                       bool isAnalyticsCollectionDeactivated,
                                                       std::vector<std::string> safelistedEvents) {
    installSharedInstanceOnce([&]() -> std::shared_ptr<APMMeasurement> {
        if (appID.empty()) {
            return nullptr;
        }
        monitor();
        // The shared experiment manager (its task manager starts with it); the remote
        // configuration registers with it as the engine's experiment client.
        return initWithAppID(appID, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated,
                             std::move(safelistedEvents), APMEExperimentManager::sharedInstance());
    });
}

std::shared_ptr<APMMeasurement> APMMeasurement::initWithAppID(
    std::string_view appID, bool isAnalyticsCollectionEnabled,
    bool isAnalyticsCollectionDeactivated, std::vector<std::string> safelistedEvents,
    std::shared_ptr<APMEManager> experiments) {
    if (appID.empty()) {
        monitor().logWithLevel(1, 23170, "Cannot start Measurement. App ID is empty.");
        return nullptr;
    }
    logVersionLine();
    logLaunchArgumentHints();

    Collaborators collaborators;
    collaborators.databaseName = std::string(kDatabaseName);
    collaborators.persistedConfig = APMPersistedConfig::sharedInstance();
    // The upload host, or the loopback origin a test put in its place.
    collaborators.network = VDUNetwork::createWithReachabilityHost(
        hostOfURL(APMRemoteConfig::defaultInstance()->uploadURL()));
    if (collaborators.network) {
        collaborators.network->setIsDebugModeEnabled(monitor().isDebugModeEnabled());
    } else {
        monitor().logWithLevel(1, 23010, "Failed to initialize network component");
    }
    collaborators.scheduler = std::make_shared<APMScheduler>(std::string(kWorkerQueueLabel));
    collaborators.alarm =
        std::make_shared<APMAlarm>(collaborators.scheduler->workerQueue(), std::string(kAlarmName));
    collaborators.experimentManager = std::move(experiments);
    return initWithCollaborators(std::move(collaborators), appID, isAnalyticsCollectionEnabled,
                                 isAnalyticsCollectionDeactivated, std::move(safelistedEvents));
}

std::shared_ptr<APMMeasurement> APMMeasurement::initWithCollaborators(
    Collaborators collaborators, std::string_view appID, bool isAnalyticsCollectionEnabled,
    bool isAnalyticsCollectionDeactivated, std::vector<std::string> safelistedEvents) {
    auto engine = std::make_shared<APMMeasurement>(
        Passkey(), std::move(collaborators), std::string(appID), isAnalyticsCollectionEnabled,
        isAnalyticsCollectionDeactivated, std::move(safelistedEvents));
    if (engine->network_) {
        engine->network_->setLoggerDelegate(engine);
    }
    const bool enabled = engine->shouldEnableMeasurement();
    engine->setEnabled(enabled);
    engine->wasEnabledDuringInitialization_ = enabled;
    return engine;
}

APMMeasurement::APMMeasurement(Passkey, Collaborators collaborators, std::string appID,
                               bool isAnalyticsCollectionEnabled,
                               bool isAnalyticsCollectionDeactivated,
                               std::vector<std::string> safelistedEvents)
    : databaseName_(std::move(collaborators.databaseName)),
      alarm_(std::move(collaborators.alarm)),
      network_(std::move(collaborators.network)),
      persistedConfig_(std::move(collaborators.persistedConfig)),
      scheduler_(std::move(collaborators.scheduler)),
      experimentManager_(std::move(collaborators.experimentManager)),
      conditionalUserProperties_(APMConditionalUserPropertyController::sharedInstance()),
      appID_(std::move(appID)),
      safelistedEvents_(std::move(safelistedEvents)),
      isAnalyticsCollectionEnabled_(isAnalyticsCollectionEnabled),
      isAnalyticsCollectionDeactivated_(isAnalyticsCollectionDeactivated) {
    assert(scheduler_ && alarm_ && persistedConfig_);
    const std::optional<sdk::Value> stored = persistedConfig_->loadTimestampValue();
    const std::optional<double> storedSeconds =
        stored ? stored->numberAsDouble() : std::optional<double>();
    if (storedSeconds) {
        initTimestamp_ = *storedSeconds;
    } else {
        initTimestamp_ = APMAnalytics::loadTimestamp();
        persistedConfig_->setLoadTimestampValue(sdk::Value(initTimestamp_));
    }
}

APMMeasurement::~APMMeasurement() = default;

// Enabling and disabling
// ---------------------------------------------------------------------------

bool APMMeasurement::shouldEnableMeasurement() {
    if (isAnalyticsCollectionDeactivated_.load()) {
        return false;
    }
    switch (persistedConfig_->measurementEnabledState()) {
        case 1:
            return true;
        case 2:
            return false;
        default:
            return isAnalyticsCollectionEnabled_.load();
    }
}

void APMMeasurement::setEnabled(bool enabled) {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:619", [weak, enabled] {
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
            engine->setEnabledOnWorkerQueue(enabled);
        }
    });
}

void APMMeasurement::updateDeferredAnalyticsCollection(bool enabling) {
    if (!isAnalyticsCollectionDeactivated_.load() && !APMAnalytics::deferredAnalyticsCollection()) {
        APMAnalytics::setDeferredAnalyticsCollection(sdk::Value(std::int64_t{enabling ? 0 : 1}));
    }
}

void APMMeasurement::setEnabledOnWorkerQueue(bool enabled) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("setIsEnabledOnWorkerQueue");
    if (enabled && isAnalyticsCollectionDeactivated_.load()) {
        monitor().logWithLevel(6, 23206, "Analytics collection deactivated");
        return;
    }
    updateDeferredAnalyticsCollection(enabled);
    enabled_.store(enabled);
    if (enabled) {
        if (!startMeasurementOnWorkerQueue()) {
            monitor().logWithLevel(0, 23011, "Failed to start Analytics. Analytics is disabled");
            // Off at once: blocks queued before the scheduled disable must not reach the
            // components that did not start.
            enabled_.store(false);
            setEnabled(false);
            return;
        }
        setSessionReportingEnabled(true);
        if (searchAdReporter_) {
            searchAdReporter_->setSearchAdReporterEnabled(true);
        }
        monitor().logWithLevel(6, 23012, "Analytics collection enabled");
        return;
    }
    // A stored deep link older than the attribution cache time is of no more use.
    APMUserDefaults& defaults = APMUserDefaults::sharedUserDefaults();
    if (defaults.objectForKey(kDeepLinkKey)) {
        const double storedAt = defaults.doubleForKey(kDeepLinkTimestampKey);
        if (APMCurrentTimeInterval() - storedAt > remoteConfig()->attributionCacheTTLInterval()) {
            defaults.removeObjectForKey(kDeepLinkKey);
            defaults.removeObjectForKey(kDeepLinkTimestampKey);
        }
    }
    alarm_->cancel();
    setSessionReportingEnabled(false);
    if (searchAdReporter_) {
        searchAdReporter_->setSearchAdReporterEnabled(false);
    }
    monitor().logWithLevel(6, 23013, "Analytics collection disabled");
}

bool APMMeasurement::startMeasurementOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("startMeasurementOnWorkerQueue");
    {
        std::lock_guard lock(initializeComponentsLock_);
        if (!didInitializeComponents_.load()) {
            if (!initializeComponentsOnWorkerQueue()) {
                return false;
            }
            didInitializeComponents_.store(true);
        }
    }
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    if (APMAnalytics::needFirstOpenAfterReset()) {
        reportFirstOpenOnWorkerQueue();
        APMAnalytics::removeNeedFirstOpenAfterReset();
    }
    updateSchedule();
    // An older audience component, when one is registered, is switched off.
    if (APMBackwardCompatibilityUtil::disableVIZIverirozidi()) {
        monitor().logWithLevel(1, 23210, "VIZIverirozidi has been disabled");
    }
    return true;
}

// Component start
// ------------------------------------------------------------------------------------

bool APMMeasurement::initializeComponentsOnWorkerQueue() {
    identity_ = APMIdentity::sharedInstance();
    if (!identity_) {
        return false;
    }
    setProspectiveConsentSettings();
    APMAnalytics::removeStartUpConsentSettings();
    APMAnalytics::removeDeferredResetOnDeniedConsent();
    wipeIfNeededOnWorkerQueue();
    identity_->updateIdentifiers();
    if (const std::optional<std::string> id = APMAnalytics::appInstanceIDAfterReset();
        !isEmpty(id)) {
        identity_->setAppInstanceID(*id);
        APMAnalytics::setAppInstanceIDAfterReset(std::nullopt);
    }
    updatePersistedAppIDFromVUD();
    if (!openDatabaseOnWorkerQueue()) {
        return false;
    }
    // Its configurations' event-editing programs edit every event (editEventOnWorkerQueue).
    // Only an existing, enabled engine fetches experiments.
    remoteConfig_ = APMRemoteConfig::initWithAppID(
        appID_, database_, persistedConfig_, experimentManager_,
        [] {
            const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
            return engine != nullptr && engine->isEnabled();
        },
        APMPLoadConfigurationProgram);
    if (!remoteConfig_) {
        return false;
    }
    setRemoteConfig(remoteConfig_);
    audience_ = APMAudience::initWithDatabase(database_);
    if (!audience_) {
        return false;
    }
    startSessionReporterOnWorkerQueue();
    sdk::Error error;
    const std::filesystem::path folder =
        std::filesystem::path(APMMeasurementFilePath(databaseName_)).parent_path();
    if (!APMExcludeFromBackup(folder.string(), &error)) {
        monitor().logWithLevel(5, 23015, "Failed to exclude directory from backup. Error", error);
    }
    monitor().logWithLevel(7, 23016, "Analytics is ready to receive events");
    monitor().setEncodeContexts(APMIdentity::isFromAppStore());
    if (sdk::Error staleError; !database_->maybeDeleteStaleData(&staleError)) {
        monitor().logWithLevel(5, 23018, "Unable to delete stale data. Error", staleError);
    }
    updateConsentSettingsUtilWithRemoteConfig();
    checkPSMDependencyOnWorkerQueue();
    checkODM2DependencyOnWorkerQueue();
    maybeDeleteExpiredPSMValueOnWorkerQueue();
    updateCachedAdCampaignInfoWithExistingVBRAIDProperty();
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    backfillSessionNumber();
    reportFirstOpenOnWorkerQueue();
    startCampaignOnWorkerQueue();
    reportAppUpdateOnWorkerQueue();
    reportOSUpdateOnWorkerQueue();
    startSearchAdReporterOnWorkerQueue();
    startTCFClientOnWorkerQueue();
    if (persistedConfig_->razudizoFeatureRollouts() && !isRazudizoRemoteConfigSDKPresent()) {
        persistedConfig_->setRazudizoFeatureRollouts(std::nullopt);
    }
    subscribeForAppForegroundBackgroundNotifications();
    return true;
}

bool APMMeasurement::openDatabaseOnWorkerQueue() {
    for (int attempt = 0; attempt < 2 && !database_; ++attempt) {
        sdk::Error error;
        std::unique_ptr<APMDatabase> database =
            APMDatabase::initWithDatabaseName(databaseName_, persistedConfig_, &error);
        database_ = std::move(database);
    }
    return database_ != nullptr;
}

void APMMeasurement::wipeIfNeededOnWorkerQueue() {
    if (!shouldWipeDataWithAppID(appID_, identity_->appIDFromVUD(),
                                 persistedConfig_->appIDFromVUD())) {
        return;
    }
    APMAnalytics::setResetRetryCount(APMAnalytics::resetRetryCount() + 1);
    if (wipeoutAnalyticsDataAndResetComponents()) {
        APMAnalytics::setResetRetryCount(0);
    } else {
        monitor().logWithLevel(4, 23208, "Failed to wipe out Analytics data");
    }
}

bool APMMeasurement::shouldWipeDataWithAppID(
    const std::string& appID, const std::optional<std::string>& appIDFromVUD,
    const std::optional<std::string>& persistedAppIDFromVUD) {
    const std::int64_t retries = APMAnalytics::resetRetryCount();
    if (retries >= 1 && retries <= kMaxResetRetryCount) {
        return true;
    }
    // The app ID in force: the service file's, which the facade sets to the one it starts with
    // when the core starts measurement ("fa"), else the one given at creation.
    const std::string current = isEmpty(appIDFromVUD) ? appID : *appIDFromVUD;
    if (isEmpty(persistedAppIDFromVUD) || current.empty() || current == *persistedAppIDFromVUD) {
        return false;
    }
    monitor().logWithLevel(4, 23294,
                           "Analytics data will reset due to change in Vovidu App ID. Original "
                           "ID, new ID",
                           *persistedAppIDFromVUD, current);
    return true;
}

void APMMeasurement::setProspectiveConsentSettings() {
    const std::int64_t current = APMConsentSettingsUtil::consentSource();
    const auto higher = [](std::int64_t source) {
        return APMConsentSettingsUtil::isConsentSourceHigherPriority(source);
    };
    const auto nonEmpty = [](const std::optional<APMConsentSettings>& s) {
        return s && !s->empty();
    };
    const std::optional<APMConsentSettings> tcf = APMAnalytics::consentSettingsTCF();
    const std::optional<APMConsentSettings> thirdParty = APMAnalytics::consentSettings3P();
    std::optional<APMConsentSettings> chosen;
    std::int64_t source = 0;
    if (nonEmpty(tcf) && higher(5) && (!nonEmpty(thirdParty) || current == 5)) {
        chosen = tcf;
        source = 5;
    } else if (const auto plist = APMConsentSettingsUtil::consentSettingsFromPlist();
               nonEmpty(plist) && higher(20)) {
        chosen = plist;
        source = 20;
    } else if (VDUClassRegistry::classNamed("REROdazadeve") && (current == 40 || current == 30)) {
        APMAnalytics::clearConsent();
        source = 10;
    } else if (const auto start = APMAnalytics::consentSettings1PStart();
               nonEmpty(start) && higher(40)) {
        chosen = start;
        source = 40;
    } else {
        chosen = thirdParty;
        source = 10;
    }
    if (nonEmpty(chosen) && higher(source)) {
        APMConsentSettingsUtil::setConsentSettings(chosen);
        APMConsentSettingsUtil::setConsentSource(source);
        APMAnalytics::persistConsentSettings(*chosen, source);
    }
}

void APMMeasurement::updatePersistedAppIDFromVUD() {
    std::optional<std::string> appIDFromVUD = identity_ ? identity_->appIDFromVUD() : std::nullopt;
    if (APMIdentifiers::sharedInstance().origin() == std::optional<std::string>("fa")) {
        appIDFromVUD = appID_;
    }
    if (appIDFromVUD != persistedConfig_->appIDFromVUD()) {
        persistedConfig_->setAppIDFromVUD(appIDFromVUD);
    }
    persistedConfig_->setAppIDFromRuZer(std::nullopt);
}

bool APMMeasurement::isRazudizoRemoteConfigSDKPresent() {
    return VDUClassRegistry::classNamed("ZERErodizUdeviv") != nullptr;
}

// Wiping
// ---------------------------------------------------------------------------------------------

bool APMMeasurement::wipeoutAnalyticsDataAndResetComponents() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("wipeoutAnalyticsDataAndResetComponents");
    monitor().logWithLevel(6, 23171, "Resetting App Measurement data");
    ODM1Context_ = std::make_shared<APMPSMContext>();
    previousVUDAppID_ = persistedConfig_->appIDFromVUD();
    // The first opens counted so far outlive the reset: the next first open reports them.
    const std::optional<sdk::Value> firstOpenCount = persistedConfig_->previousFirstOpenCount();
    persistedConfig_->clearValues();
    persistedConfig_->setPreviousFirstOpenCount(firstOpenCount);
    monitor().clearMonitoringData();
    if (APMConsentSettingsUtil::adPersonalization()) {
        APMConsentSettingsUtil::unsetAdPersonalization();
        APMConsentSettingsUtil::setDefaultSettings(std::nullopt);
        APMConsentSettingsUtil::setDelegatedSettings(std::nullopt);
    }
    if (database_) {
        if (sdk::Error error; !database_->reset(&error)) {
            monitor().logWithLevel(1, 23209, "Failed to reset database", error);
            return false;
        }
        if (remoteConfig_) {
            remoteConfig_->reset();
        }
        startSessionReporterOnWorkerQueue();
    } else if (sdk::Error error; !APMRemoveFile(APMMeasurementFilePath(databaseName_), &error)) {
        monitor().logWithLevel(1, 23014, "Failed to delete old database file. Error", error);
    }
    if (identity_) {
        identity_->updateIdentifiersAndWait();
        identity_->resetEphemeralAppInstanceID();
        identity_->resetSessionStitchingToken();
    }
    return true;
}

bool APMMeasurement::resetAnalyticsDataWithAppInstanceID(const std::string& appInstanceID) {
    if (appInstanceID.empty()) {
        if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
            monitor().logWithLevel(1, 23167, "Cannot reset with an empty app instance ID");
            return false;
        }
        monitor().logWithLevel(7, 23218, "Resetting with an empty app instance ID");
    }
    bool wiped = false;
    scheduler_->dispatchSyncOnWorkerQueue("APMMeasurement:3406", [&] {
        APMScheduler::checkOnBackgroundThreadWithMethodName("resetAnalyticsData");
        wiped = wipeoutAnalyticsDataAndResetComponents();
        if (!wiped) {
            return;
        }
        if (identity_ && !appInstanceID.empty()) {
            identity_->setAppInstanceID(appInstanceID);
        }
        updatePersistedAppIDFromVUD();
        monitor().logWithLevel(6, 23168, "Analytics data has been reset");
        updateDeferredAnalyticsCollection(enabled_.load());
        initTimestamp_ = APMAnalytics::loadTimestamp();
        persistedConfig_->setLoadTimestampValue(sdk::Value(initTimestamp_));
        if (enabled_.load()) {
            setPersonalizedAdsUserPropertyOnWorkerQueue();
            reportFirstOpenOnWorkerQueue();
        }
    });
    return wiped;
}
