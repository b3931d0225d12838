#include "sdk/measurement/experiments/APMEExperimentClient.h"

#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/experiments/APMEMonitor.h"

std::shared_ptr<APMEExperimentClient> APMEExperimentClient::initWithSDKProperty(
    const APMESDKProperty* property, std::map<std::string, sdk::Value> defaultFlags,
    std::weak_ptr<APMEExperimentManager> manager) {
    if (property == nullptr) {
        APMEMonitor::logWithLevel(0, 830000, "Cannot initialize the client with nil property");
        return nullptr;
    }
    return std::make_shared<APMEExperimentClient>(*property, std::move(defaultFlags),
                                                  std::move(manager));
}

std::optional<sdk::Value> APMEExperimentClient::valueForFlag(std::string_view flagName) {
    if (flagName.empty()) {
        APMEMonitor::logWithLevel(0, 830002, "Cannot get value for empty flag name");
        return std::nullopt;
    }
    auto manager = manager_.lock();
    return manager ? manager->flagValueForFlagName(flagName, SDKName()) : std::nullopt;
}

std::optional<sdk::Value> APMEExperimentClient::objectForKeyedSubscript(std::string_view flagName) {
    return valueForFlag(flagName);
}

bool APMEExperimentClient::activateLatestSnapshot(sdk::Error* error) {
    auto manager = manager_.lock();
    return manager && manager->activateSnapshotOfSDK(SDKName(), error);
}

void APMEExperimentClient::setDelegate(std::weak_ptr<APMEClientDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<APMEClientDelegate> APMEExperimentClient::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

bool APMEExperimentClient::hasStaleSnapshot() {
    auto manager = manager_.lock();
    return manager && manager->activatedSnapshotStatusOfSDKName(SDKName()) == 1;
}

void APMEExperimentClient::resetToDefaults() {
    if (auto manager = manager_.lock())
        manager->resetToDefaultsOfSDKName(SDKName());
}
