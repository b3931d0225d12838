#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/experiments/APMEMonitor.h"
#include "sdk/measurement/experiments/APMPBFlagConversions.h"

namespace {

// Activated snapshots older than this (seconds) are stale.
constexpr double kStaleInterval = 259200;

}  // namespace

std::optional<sdk::Value> APMEExperimentManager::flagValueForFlagName(std::string_view flagName,
                                                                      std::string_view SDKName) {
    if (SDKName.empty()) {
        APMEMonitor::logWithLevel(0, 800010, "Cannot retrieve flag value for empty SDK name");
        return std::nullopt;
    }
    if (flagName.empty()) {
        APMEMonitor::logWithLevel(0, 800011, "Cannot retrieve flag value for empty flag name");
        return std::nullopt;
    }
    std::optional<sdk::Value> value;
    dispatchSyncOnSerialQueue(
        [&] { value = lookUpFlag(std::string(flagName), std::string(SDKName)); });
    return value;
}

std::optional<sdk::Value> APMEExperimentManager::lookUpFlag(const std::string& flagName,
                                                            const std::string& SDKName) {
    if (!registeredClientsBySDKName_.objectForKey(SDKName)) {
        APMEMonitor::logWithLevel(3, 800012, "SDK is not registered yet", {SDKName});
        return std::nullopt;
    }
    std::shared_ptr<const Flags> defaults =
        defaultFlagsBySDKName_.objectForKey(SDKName).value_or(nullptr);
    if (!defaults) {
        APMEMonitor::logWithLevel(3, 800013,
                                  "Cannot get flag for unregistered SDK. SDK name, flag name",
                                  {SDKName, flagName});
        return std::nullopt;
    }
    SnapshotRef activated = snapshotFor(activatedSnapshotsBySDKName_, SDKName);
    APMEMonitor::logWithLevel(
        8, 800015, "Looking for activated flag. SDK name, flag name, activated snapshot",
        {SDKName, flagName, activated ? sdk::Value(activated->SDKName()) : sdk::Value()});
    if (const APMPBFlag* flag = activated ? activated->flagByName(flagName) : nullptr)
        return APMPBFlagValueObject(flag);
    SnapshotRef launched = snapshotFor(launchedSnapshotsBySDKName_, SDKName);
    const APMPBFlag* launchedFlag = launched ? launched->flagByName(flagName) : nullptr;
    APMEMonitor::logWithLevel(
        8, 800016,
        "Cannot find activated flag. Looking for launched flag. SDK name, flag name, launched flag",
        {SDKName, flagName, APMPBFlagValueObject(launchedFlag).value_or(sdk::Value())});
    if (launchedFlag != nullptr)
        return APMPBFlagValueObject(launchedFlag);
    auto defaultFlag = defaults->find(flagName);
    if (defaultFlag != defaults->end()) {
        std::optional<sdk::Value> value = APMPBFlagValueObject(&defaultFlag->second);
        APMEMonitor::logWithLevel(8, 800019,
                                  "Cannot find launched flag. Returned the default flag value. "
                                  "SDK name, flag name, default flag",
                                  {SDKName, flagName, value.value_or(sdk::Value())});
        return value;
    }
    APMEMonitor::logWithLevel(8, 800014, "No default flag value. SDK name, flag name",
                              {SDKName, flagName});
    return std::nullopt;
}

bool APMEExperimentManager::activateSnapshotOfSDK(std::string_view SDKName, sdk::Error* error) {
    if (SDKName.empty()) {
        APMSetErrorWithCode(error, 1, "SDK name cannot be empty");
        APMEMonitor::logWithLevel(3, 800022,
                                  "Cannot activate a pending snapshot for an empty SDK name");
        return false;
    }
    bool activated = false;
    dispatchSyncOnSerialQueue([&] { activated = activatePending(std::string(SDKName)); });
    if (activated)
        APMEMonitor::logWithLevel(8, 800028, "Successfully activated a snapshot of SDK", {SDKName});
    return activated;
}

bool APMEExperimentManager::activatePending(const std::string& SDKName) {
    SnapshotRef pending = snapshotFor(pendingSnapshotsBySDKName_, SDKName);
    if (!pending) {
        APMEMonitor::logWithLevel(3, 800023, "No pending snapshot to activate. SDK name",
                                  {SDKName});
        return false;
    }
    const double now = APMECurrentTimestamp();
    std::optional<APMESnapshot> activated = APMESnapshot::initWithSDKName(SDKName, {});
    if (!activated)
        return false;
    activated->setTimestamp(now);
    for (const APMEExperiment& experiment : pending->experiments()) {
        if (experiment.experimentID() == 0) {
            if (auto launched = APMESnapshot::initWithSDKName(SDKName, {experiment})) {
                launchedSnapshotsBySDKName_.setObject(
                    std::make_shared<const APMESnapshot>(std::move(*launched)), SDKName);
            }
        } else {
            activated->addFlags(experiment.flags(), experiment.experimentID());
        }
    }
    activatedSnapshotsBySDKName_.setObject(
        std::make_shared<const APMESnapshot>(std::move(*activated)), SDKName);
    pendingSnapshotsBySDKName_.removeObjectForKey(SDKName);
    taskManager_->activatePendingSnapshot(*pending, now);
    return true;
}

int APMEExperimentManager::activatedSnapshotStatusOfSDKName(std::string_view SDKName) {
    if (SDKName.empty()) {
        APMEMonitor::logWithLevel(0, 800024, "Cannot check activated snapshot for empty SDK Name");
        return -1;
    }
    int status = -1;
    dispatchSyncOnSerialQueue([&] {
        const std::string name(SDKName);
        if (!registeredClientsBySDKName_.objectForKey(name))
            return;
        SnapshotRef activated = snapshotFor(activatedSnapshotsBySDKName_, name);
        if (!activated || activated->timestamp() <= std::numeric_limits<double>::epsilon()) {
            status = -2;
            return;
        }
        status =
            std::fabs(APMECurrentTimestamp() - activated->timestamp()) > kStaleInterval ? 1 : 0;
    });
    return status;
}

void APMEExperimentManager::resetToDefaultsOfSDKName(std::string_view SDKName) {
    if (SDKName.empty()) {
        APMEMonitor::logWithLevel(0, 800025, "Cannot reset to defaults for empty SDK Name");
        return;
    }
    dispatchSyncOnSerialQueue([&] {
        const std::string name(SDKName);
        if (!registeredClientsBySDKName_.objectForKey(name)) {
            APMEMonitor::logWithLevel(0, 800026,
                                      "Cannot reset to defaults for unregistered SDK name", {name});
            return;
        }
        activatedSnapshotsBySDKName_.removeObjectForKey(name);
        taskManager_->resetToDefaultsForSDKName(name);
        APMEMonitor::logWithLevel(8, 800027, "Reset all experiments to default. SDK name", {name});
    });
}

std::vector<std::int64_t> APMEExperimentManager::experimentIDs() {
    std::vector<std::int64_t> ids;
    dispatchSyncOnSerialQueue([&] {
        for (const std::string& name : registeredClientsBySDKName_.allKeys()) {
            auto client = registeredClientsBySDKName_.objectForKey(name).value_or(nullptr);
            if (!client || !client->SDKProperty().diversionKey().empty())
                continue;
            if (SnapshotRef activated = snapshotFor(activatedSnapshotsBySDKName_, name)) {
                for (const APMEExperiment& experiment : activated->experiments())
                    ids.push_back(experiment.experimentID());
            }
        }
    });
    std::sort(ids.begin(), ids.end());
    return ids;
}
