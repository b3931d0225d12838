#include "sdk/measurement/experiments/APMEExperimentRequestBuilder.h"

#include <utility>
#include <vector>

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/experiments/APMEMonitor.h"
#include "sdk/measurement/experiments/APMEnvironmentInfo.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"

namespace {

namespace AP = apmpb::AppProperty;
namespace CP = apmpb::ClientProperty;

APMEExperimentEnvironment defaultEnvironment() {
    APMEExperimentEnvironment environment;
    environment.language = APMEnvironmentInfo::sharedInstance().userDefaultLanguage();
    environment.bundleIdentifier = platform::Bundle::mainBundleIdentifier();
    environment.isFromAppStore = VDUAppEnvironmentUtil::isFromAppStore();
    // The measurement identity's diversion key (APMIdentity::diversionKey), kept in the persisted
    // configuration.
    if (const auto persistedConfig = APMPersistedConfig::sharedInstance())
        environment.measurementDiversionKey = persistedConfig->diversionKeyCreatingIfNeeded();
    return environment;
}

}  // namespace

APMEExperimentRequestBuilder::APMEExperimentRequestBuilder()
    : environmentProvider_(defaultEnvironment) {}

APMEExperimentRequestBuilder& APMEExperimentRequestBuilder::sharedInstance() {
    static APMEExperimentRequestBuilder& instance =
        *new APMEExperimentRequestBuilder();  // lives for the process
    return instance;
}

void APMEExperimentRequestBuilder::addSDKProperty(std::shared_ptr<APMESDKProperty> property) {
    if (property == nullptr) {
        APMEMonitor::logWithLevel(2, 880000, "Cannot add an empty SDK property.");
        return;
    }
    std::lock_guard lock(mutex_);
    std::string name = property->name();
    clientPropertyBySDKName_[std::move(name)] = std::move(property);
}

void APMEExperimentRequestBuilder::setEnvironmentProvider(EnvironmentProvider provider) {
    std::lock_guard lock(mutex_);
    environmentProvider_ = provider ? std::move(provider) : EnvironmentProvider(defaultEnvironment);
}

APMEExperimentEnvironment APMEExperimentRequestBuilder::environment() const {
    EnvironmentProvider provider;
    {
        std::lock_guard lock(mutex_);
        provider = environmentProvider_;
    }
    return provider();
}

APMPBAppProperty APMEExperimentRequestBuilder::appPropertyProto() const {
    return appPropertyProto(environment());
}

APMPBAppProperty APMEExperimentRequestBuilder::appPropertyProto(
    const APMEExperimentEnvironment& environment) {
    APMPBAppProperty app;
    APMPBSetString(&app, AP::kPlatform, "macos");
    if (environment.language)
        APMPBSetString(&app, AP::kLanguage, *environment.language);
    APMPBSetString(&app, AP::kBundleId, environment.bundleIdentifier);
    APMPBSetBool(&app, AP::kIsFromAppStore, environment.isFromAppStore);
    APMPBSetInt64(&app, AP::kLibraryVersion, APMEExperimentManager::version());
    return app;
}

APMPBExperimentRequest APMEExperimentRequestBuilder::request() const {
    const APMEExperimentEnvironment env = environment();
    std::vector<std::shared_ptr<APMESDKProperty>> properties;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [name, property] : clientPropertyBySDKName_)
            properties.push_back(property);
    }
    APMPBExperimentRequest request;
    const APMPBAppProperty app = appPropertyProto(env);
    APMPBSetMessage(&request, apmpb::ExperimentRequest::kAppProperty, &app);
    APMPBRepeatedArray clients;
    for (const auto& property : properties) {
        if (auto client = proto(*property, env.measurementDiversionKey))
            clients.emplace_back(std::move(client));
    }
    if (!clients.empty())
        APMPBSetRepeated(&request, apmpb::ExperimentRequest::kClientProperties, clients);
    return request;
}

std::shared_ptr<APMPBClientProperty> APMEExperimentRequestBuilder::proto(
    const APMESDKProperty& property, const std::string& measurementDiversionKey) {
    const std::string& diversionKey =
        property.diversionKey().empty() ? measurementDiversionKey : property.diversionKey();
    if (diversionKey.empty()) {
        APMEMonitor::logWithLevel(1, 860001, "Diversion key is empty", {property.name()});
        return nullptr;
    }
    auto client = std::make_shared<APMPBClientProperty>();
    APMPBSetString(client.get(), CP::kName, property.name());
    APMPBSetString(client.get(), CP::kDiversionId, diversionKey + "-" + property.name());
    APMPBSetInt64(client.get(), CP::kVersion, property.version());
    APMPBSetString(client.get(), CP::kAppId, property.appID());

    std::map<std::string, std::string> custom = property.customProperties();
    if (const auto delegate = property.delegate().lock()) {
        for (auto& [name, value] : delegate->dynamicCustomPropertiesForSDKProperty(property))
            custom.insert_or_assign(name, value);
    }
    APMPBRepeatedArray customProperties;
    for (const auto& [name, value] : custom) {
        auto entry = std::make_shared<APMPBCustomProperty>();
        APMPBSetString(entry.get(), apmpb::CustomProperty::kKey, name);
        APMPBSetString(entry.get(), apmpb::CustomProperty::kValue, value);
        customProperties.emplace_back(std::move(entry));
    }
    if (!customProperties.empty())
        APMPBSetRepeated(client.get(), CP::kCustomProperties, customProperties);
    return client;
}
