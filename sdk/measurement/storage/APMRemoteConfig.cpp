#include "sdk/measurement/storage/APMRemoteConfig.h"

#include <cmath>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMLibraryVersion.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

APMMonitor& monitor() {
    return APMMonitor::shared();
}

struct InstalledConfig {
    std::mutex mutex;
    std::shared_ptr<APMRemoteConfig> config;  // guarded by mutex
};

InstalledConfig& installedConfig() {
    static InstalledConfig* const shared = new InstalledConfig();  // lives for the whole process
    return *shared;
}

struct PreviewHeaders {
    std::mutex mutex;
    std::optional<std::map<std::string, std::string>> headers;  // guarded by mutex
};

PreviewHeaders& previewHeaders() {
    static PreviewHeaders* const shared = new PreviewHeaders();  // lives for the whole process
    return *shared;
}

}  // namespace

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::current() {
    {
        InstalledConfig& installed = installedConfig();
        std::lock_guard lock(installed.mutex);
        if (installed.config) {
            return installed.config;
        }
    }
    return defaultInstance();
}

void APMRemoteConfig::setCurrent(std::shared_ptr<APMRemoteConfig> remoteConfig) {
    InstalledConfig& installed = installedConfig();
    std::lock_guard lock(installed.mutex);
    installed.config = std::move(remoteConfig);
}

std::optional<std::map<std::string, std::string>> APMRemoteConfig::STGWPreviewHeaders() {
    PreviewHeaders& p = previewHeaders();
    std::lock_guard lock(p.mutex);
    return p.headers;
}

void APMRemoteConfig::setSTGWPreviewHeaders(
    std::optional<std::map<std::string, std::string>> headers) {
    PreviewHeaders& p = previewHeaders();
    std::lock_guard lock(p.mutex);
    p.headers = std::move(headers);
}

// Creation ------------------------------------------------------------------------------------

APMRemoteConfig::APMRemoteConfig(std::string appID, const std::shared_ptr<APMDatabase>& database,
                                 std::shared_ptr<APMPersistedConfig> persistedConfig,
                                 std::shared_ptr<APMEManager> experimentManager,
                                 std::function<bool()> shouldFetchExperiments,
                                 EventEditingLoader eventEditingLoader)
    : appID_(std::move(appID)),
      database_(database),
      persistedConfig_(std::move(persistedConfig)),
      experimentManager_(std::move(experimentManager)),
      shouldFetchExperiments_(std::move(shouldFetchExperiments)),
      eventEditingLoader_(std::move(eventEditingLoader)) {}

APMRemoteConfig::~APMRemoteConfig() = default;

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::defaultInstance() {
    static const std::shared_ptr<APMRemoteConfig> shared = [] {
        std::shared_ptr<APMRemoteConfig> config(
            new APMRemoteConfig(std::string(), nullptr, nullptr, nullptr, nullptr, nullptr));
        config->start(nullptr);
        return config;
    }();
    return shared;
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppID(
    std::string_view appID, const std::shared_ptr<APMDatabase>& database,
    std::shared_ptr<APMPersistedConfig> persistedConfig,
    std::shared_ptr<APMEManager> experimentManager, std::function<bool()> shouldFetchExperiments,
    EventEditingLoader eventEditingLoader) {
    if (appID.empty()) {
        monitor().logWithLevel(1, 29000,
                               "Cannot init remote configuration without valid Vovidu App ID");
        return nullptr;
    }
    if (!database) {
        monitor().logWithLevel(1, 29001, "Cannot init remote configuration without valid database");
        return nullptr;
    }
    return initWithAppID(appID, database, nullptr, std::move(persistedConfig),
                         std::move(experimentManager), std::move(shouldFetchExperiments),
                         std::move(eventEditingLoader));
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppID(
    std::string_view appID, const std::shared_ptr<APMDatabase>& database,
    const APMPBMeasurementConfig* measurementConfig,
    std::shared_ptr<APMPersistedConfig> persistedConfig,
    std::shared_ptr<APMEManager> experimentManager, std::function<bool()> shouldFetchExperiments,
    EventEditingLoader eventEditingLoader) {
    std::shared_ptr<APMRemoteConfig> config(new APMRemoteConfig(
        std::string(appID), database, std::move(persistedConfig), std::move(experimentManager),
        std::move(shouldFetchExperiments), std::move(eventEditingLoader)));
    config->start(measurementConfig);
    return config;
}

void APMRemoteConfig::start(const APMPBMeasurementConfig* measurementConfig) {
    registerWithExperimentManager();
    isDefaultInstance_ = database_.expired() && appID_.empty();
    if (isDefaultInstance_) {
        return;
    }
    if (measurementConfig != nullptr) {
        updateMeasurementConfig(measurementConfig);
        return;
    }
    remoteConfigProto_ = measurementConfigFromDatabase();
    if (remoteConfigProto_) {
        parseRemoteConfigFromMeasurementConfig(remoteConfigProto_.get());
    }
}

void APMRemoteConfig::registerWithExperimentManager() {
    if (experimentManager_) {
        sdkProperty_ = std::make_shared<APMESDKProperty>("div_edadevadeze");
        sdkProperty_->setVersion(APMLibraryVersion());
        sdkProperty_->setDelegate(weak_from_this());
        experimentClient_ = experimentManager_->registerSDKProperty(sdkProperty_, {});
        if (experimentClient_) {
            experimentClient_->setDelegate(weak_from_this());
        }
    }
    if (experimentClient_) {
        sdk::Error error;
        if (!experimentClient_->activateLatestSnapshot(&error) && !error.ok()) {
            monitor().logWithLevel(2, 29023, "Cannot activate stale snapshot. Error", error);
        }
        updateCachedExperimentFlags();
    }
}

// Configuration -------------------------------------------------------------------------------

bool APMRemoteConfig::updateMeasurementConfig(const APMPBMeasurementConfig* config) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("updateMeasurementConfig:");
    if (isDefaultInstance_) {
        monitor().logWithLevel(2, 29002, "Cannot update the default measurement configuration");
        return false;
    }
    if (config == nullptr) {
        monitor().logWithLevel(5, 29003, "Cannot set empty measurement config to database");
        return false;
    }
    if (APMPBGetString(config, apmpb::MeasurementConfig::kAppId).value_or("") != appID_) {
        monitor().logWithLevel(2, 29004,
                               "Cannot set measurement config when Vovidu App ID does not match");
        return false;
    }
    const std::shared_ptr<APMDatabase> database = database_.lock();
    sdk::Error error;
    if (!database || !database->updateRemoteConfig(config, &error)) {
        if (!database) {
            error = apm_errorWithCode(2, "Database not open.");
        }
        monitor().logWithLevel(1, 29005, "Cannot store config into the database", error);
        return false;
    }
    remoteConfigProto_ = APMPBMeasurementConfig::initWithMessageInfo(config->messageInfo());
    parseRemoteConfigFromMeasurementConfig(remoteConfigProto_.get());
    return true;
}

std::unique_ptr<APMPBMeasurementConfig> APMRemoteConfig::measurementConfigFromDatabase() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("measurementConfigFromDatabase");
    if (isDefaultInstance_) {
        monitor().logWithLevel(2, 29015,
                               "Cannot retrieve a measurement configuration from the database for "
                               "the default instance");
        return nullptr;
    }
    const std::shared_ptr<APMDatabase> database = database_.lock();
    sdk::Error error;
    std::unique_ptr<APMPBMeasurementConfig> config =
        database ? database->queryMeasurementConfigWithError(&error) : nullptr;
    if (!config && !error.ok()) {
        monitor().logWithLevel(2, 29016, "Cannot retrieve configuration data from database. Error",
                               error);
    } else if (!config) {
        monitor().logWithLevel(7, 29017,
                               "Configuration was not found in database. The configuration will "
                               "be fetched from the network when necessary");
    }
    return config;
}

void APMRemoteConfig::parseRemoteConfigFromMeasurementConfig(const APMPBMeasurementConfig* config) {
    if (config == nullptr) {
        monitor().logWithLevel(2, 29012,
                               "Cannot parse empty measurement config. Using default values");
        return;
    }
    if (APMPBGetString(config, apmpb::MeasurementConfig::kAppId).value_or("") != appID_) {
        return;
    }
    cacheSettings(*config);
    cacheEventConfigs(*config);
    if (APMPBHasField(config, apmpb::MeasurementConfig::kVersion)) {
        monitor().logWithLevel(7, 29014, "Successfully parsed a configuration. Version",
                               APMPBGetInt64(config, apmpb::MeasurementConfig::kVersion));
    }
    // Every setting is taken before the programs load: a program that fails to load turns
    // event editing off, but must not leave the previous privacy settings in force.
    cacheDataControls(*config);
    cacheConsent(*config);
    cachePSMSettings(*config);
    loadPrograms(*config);
}

void APMRemoteConfig::cacheSettings(const APMPBMeasurementConfig& config) {
    cachedValueByRemoteConfigKeys_.removeAllObjects();
    const auto settings =
        APMPBGetRepeated<APMPBSetting>(&config, apmpb::MeasurementConfig::kSettings);
    for (const APMPBRepeatedElement& element : settings.value_or(APMPBRepeatedArray{})) {
        const NANOMessageBase* setting = std::get<1>(element).get();
        const std::optional<std::string> value = APMPBGetString(setting, apmpb::Setting::kValue);
        // An empty value is skipped (29019) like a missing one.
        cacheValue(value && !value->empty() ? std::optional<sdk::Value>(*value) : std::nullopt,
                   APMPBGetString(setting, apmpb::Setting::kName).value_or(""));
    }
}

void APMRemoteConfig::cacheEventConfigs(const APMPBMeasurementConfig& config) {
    cachedEventConfigByEventName_.removeAllObjects();
    const auto eventConfigs =
        APMPBGetRepeated<APMPBEventConfig>(&config, apmpb::MeasurementConfig::kEventConfig);
    const auto& publicNames = APMPublicEventNameMap();
    for (const APMPBRepeatedElement& element : eventConfigs.value_or(APMPBRepeatedArray{})) {
        auto eventConfig = std::static_pointer_cast<const APMPBEventConfig>(std::get<1>(element));
        const std::string name =
            APMPBGetString(eventConfig.get(), apmpb::EventConfig::kName).value_or("");
        if (name.empty()) {
            monitor().logWithLevel(
                5, 29013, "Cannot cache event configuration with an empty configuration name");
            continue;
        }
        const auto internal = publicNames.find(name);
        cachedEventConfigByEventName_.setObject(
            std::move(eventConfig), internal != publicNames.end() ? internal->second : name);
    }
}

void APMRemoteConfig::cacheDataControls(const APMPBMeasurementConfig& config) {
    cachedDataControls_.clear();
    const auto controls =
        APMPBGetRepeated<APMPBDataControl>(&config, apmpb::MeasurementConfig::kDataControls);
    for (const APMPBRepeatedElement& element : controls.value_or(APMPBRepeatedArray{})) {
        if (auto name = APMPBGetString(std::get<1>(element).get(), apmpb::DataControl::kName)) {
            cachedDataControls_.push_back(std::move(*name));
        }
    }
}

void APMRemoteConfig::cachePSMSettings(const APMPBMeasurementConfig& config) {
    const std::unique_ptr<APMPBPsmSetting> psm =
        APMPBGetMessage<APMPBPsmSetting>(&config, apmpb::MeasurementConfig::kPsmSetting);
    if (!psm) {
        return;
    }
    const std::pair<std::int32_t, std::string_view> fields[] = {
        {apmpb::PsmSetting::kPsmPrefixEmail, "measurement.psm_prefix_email"},
        {apmpb::PsmSetting::kPsmPrefixPhone, "measurement.psm_prefix_phone"},
        {apmpb::PsmSetting::kPsmSigninDelay, "measurement.psm_signin_delay"},
    };
    for (const auto& [slot, key] : fields) {
        if (APMPBHasField(psm.get(), slot)) {
            // Taken as they are: these numbers skip the settings' range checks.
            cacheValue(sdk::Value(static_cast<std::int32_t>(APMPBGetInt32(psm.get(), slot))), key);
        }
    }
}

void APMRemoteConfig::reset() {
    cachedValueByRemoteConfigKeys_.removeAllObjects();
    cachedEventConfigByEventName_.removeAllObjects();
    cachedDataControls_.clear();
    cachedExperimentFlags_.removeAllObjects();
    cachedConsentDefaults_.removeAllObjects();
    cachedConsentDelegations_.removeAllObjects();
    cachedCorePlatformServices_.clear();
    cachedRegionalDefaults_.removeAllObjects();
    isDMARegion_ = true;
    if (!isDefaultInstance_) {
        remoteConfigProto_.reset();
    }
    if (experimentManager_) {
        experimentManager_->reset();
    }
}

std::int64_t APMRemoteConfig::version() const {
    if (!remoteConfigProto_ ||
        !APMPBHasField(remoteConfigProto_.get(), apmpb::MeasurementConfig::kVersion)) {
        return -1;
    }
    return APMPBGetInt64(remoteConfigProto_.get(), apmpb::MeasurementConfig::kVersion);
}

bool APMRemoteConfig::isExpired() {
    if (isDefaultInstance_) {
        monitor().logWithLevel(
            2, 29007, "Cannot fetch the last update timestamp from the default configuration");
        return false;
    }
    const double age = std::fabs(APMCurrentTimeInterval() - lastRemoteConfigUpdateTimestamp());
    return age >= remoteConfigCacheTimeInterval();
}

double APMRemoteConfig::lastRemoteConfigUpdateTimestamp() {
    if (isDefaultInstance_) {
        monitor().logWithLevel(
            2, 29008,
            "Cannot fetch the last configuration update timestamp from the default instance");
        return 0;
    }
    const std::shared_ptr<APMDatabase> database = database_.lock();
    sdk::Error error;
    const std::optional<double> timestamp =
        database ? database->lastRemoteConfigUpdateTimestamp(&error) : std::nullopt;
    if (!error.ok()) {
        monitor().logWithLevel(4, 29009,
                               "Failed to query last configuration update timestamp. Error", error);
    }
    return timestamp.value_or(0);
}

// Events --------------------------------------------------------------------------------------

std::shared_ptr<const APMPBEventConfig> APMRemoteConfig::eventConfigWithName(
    std::string_view name) {
    if (name.empty()) {
        monitor().logWithLevel(5, 29006, "Cannot find event config with empty event name");
        return nullptr;
    }
    return cachedEventConfigByEventName_.objectForKey(std::string(name)).value_or(nullptr);
}

bool APMRemoteConfig::isEventBlocklisted(std::string_view name) {
    const auto config = eventConfigWithName(name);
    if (config && APMPBGetBool(config.get(), apmpb::EventConfig::kBlocklisted)) {
        return true;
    }
    return APMIsPublicName(name) ? blocklistPublic() : blocklistInternal();
}

bool APMRemoteConfig::isEventCustomConversion(std::string_view name) {
    const auto config = eventConfigWithName(name);
    return config && APMPBGetBool(config.get(), apmpb::EventConfig::kCustomConversion);
}

bool APMRemoteConfig::eventHasSamplingRate(std::string_view name) {
    const auto config = eventConfigWithName(name);
    return config && APMPBHasField(config.get(), apmpb::EventConfig::kSamplingRate);
}

std::int32_t APMRemoteConfig::samplingRateForEvent(std::string_view name) {
    const auto config = eventConfigWithName(name);
    if (!config) {
        return 1;
    }
    const auto rate =
        static_cast<std::int32_t>(APMPBGetInt32(config.get(), apmpb::EventConfig::kSamplingRate));
    return rate >= 2 && rate <= 65535 ? rate : 1;
}

// Experiments ---------------------------------------------------------------------------------

void APMRemoteConfig::clientDidReceiveNewSnapshot(APMEClient& /*client*/) {
    std::lock_guard lock(snapshotMutex_);
    ++snapshotsReceived_;
}

void APMRemoteConfig::clientDidReceiveFetchError(APMEClient& /*client*/, const sdk::Error& error) {
    if (!error.ok()) {
        monitor().logWithLevel(2, 29025, "Cannot fetch experiment. Error", error);
    }
}

bool APMRemoteConfig::shouldFetchExperimentsForClient(APMEClient& /*client*/) {
    return shouldFetchExperiments_ && shouldFetchExperiments_();
}

bool APMRemoteConfig::activateNewSnapshot() {
    std::uint64_t received = 0;
    {
        std::lock_guard lock(snapshotMutex_);
        received = snapshotsReceived_;
        if (received == snapshotsActivated_ || !experimentClient_) {
            return false;
        }
    }
    sdk::Error error;
    if (!experimentClient_->activateLatestSnapshot(&error)) {
        monitor().logWithLevel(2, 29024, "Cannot activate snapshot. Error", error);
        return false;
    }
    updateCachedExperimentFlags();
    std::lock_guard lock(snapshotMutex_);
    snapshotsActivated_ = received;
    return true;
}

void APMRemoteConfig::updateCachedExperimentFlags() {
    if (!experimentClient_) {
        return;
    }
    cachedExperimentFlags_.setObject(
        experimentClient_->objectForKeyedSubscript("customer_type_enabled"),
        "customer_type_enabled");
}

bool APMRemoteConfig::customerTypeEnabled() {
    const std::optional<sdk::Value> flag =
        cachedExperimentFlags_.objectForKey("customer_type_enabled");
    if (flag && flag->numberAsBool()) {
        return *flag->numberAsBool();
    }
    return boolValueFromCacheWithKey("measurement.customer_type_enabled", true);
}

bool APMRemoteConfig::sessionStitchingTokenFeatureEnabled() {
    if (experimentClient_) {
        const std::optional<sdk::Value> flag =
            experimentClient_->objectForKeyedSubscript("session_stitching_token_feature_enabled");
        if (flag && flag->numberAsBool()) {
            return *flag->numberAsBool();
        }
    }
    return boolValueFromCacheWithKey("measurement.session_stitching_token_enabled", false);
}

std::vector<std::int64_t> APMRemoteConfig::experimentIDs() {
    return experimentManager_ ? experimentManager_->experimentIDs() : std::vector<std::int64_t>{};
}
