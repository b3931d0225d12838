#include "sdk/measurement/experiments/APMEExperimentManager.h"

#include <string>

#include "sdk/measurement/engine/APMMonitorContext.h"
#include "sdk/measurement/experiments/APMEFetchTaskManager.h"
#include "sdk/measurement/experiments/APMEMonitor.h"
#include "sdk/measurement/experiments/APMPBFlagConversions.h"

namespace {

// The measurement library version the experiments service is told of.
constexpr std::string_view kLibraryVersion = "10000000";

}  // namespace

APMEExperimentManager::APMEExperimentManager(Passkey, std::shared_ptr<APMETaskManager> taskManager)
    : taskManager_(std::move(taskManager)),
      queue_(platform::DispatchQueue::createSerial("APMEExperimentSerialQueue")) {}

std::shared_ptr<APMEExperimentManager> APMEExperimentManager::sharedInstance() {
    // Never destroyed: its queues may still run while the process exits.
    static const auto* const instance = new std::shared_ptr<APMEExperimentManager>(
        initWithTaskManager(APMEFetchTaskManager::create()));
    return *instance;
}

std::shared_ptr<APMEExperimentManager> APMEExperimentManager::initWithTaskManager(
    std::shared_ptr<APMETaskManager> taskManager) {
    auto manager = std::make_shared<APMEExperimentManager>(Passkey(), std::move(taskManager));
    manager->taskManager_->setDelegate(manager);
    manager->taskManager_->startTaskManager();
    return manager;
}

std::int64_t APMEExperimentManager::version() {
    if (kLibraryVersion.size() < 4)
        return 0;
    return std::stoll(std::string(kLibraryVersion.substr(0, kLibraryVersion.size() - 3)));
}

void APMEExperimentManager::dispatchAsyncOnSerialQueue(std::function<void()> block) {
    queue_->async([block = std::move(block)] {
        try {
            block();
        } catch (...) {
            APMEMonitor::logWithLevel(1, 800017, "Exception on async Experimentation serial queue",
                                      {APMCaughtException::current()});
        }
    });
}

void APMEExperimentManager::dispatchSyncOnSerialQueue(const std::function<void()>& block) {
    try {
        queue_->sync(block);
    } catch (...) {
        APMEMonitor::logWithLevel(1, 800018, "Exception on sync Experimentation serial queue",
                                  {APMCaughtException::current()});
    }
}

std::shared_ptr<APMEClient> APMEExperimentManager::registerSDKProperty(
    std::shared_ptr<APMESDKProperty> property,
    const std::map<std::string, sdk::Value>& defaultFlags) {
    if (!property) {
        APMEMonitor::logWithLevel(0, 800000, "Cannot register client with a nil SDK property");
        return nullptr;
    }
    const std::string name = property->name();
    if (name.empty()) {
        APMEMonitor::logWithLevel(0, 800001, "Cannot register experiment client with no SDK name");
        return nullptr;
    }
    auto flags = std::make_shared<Flags>();
    for (const auto& [flagName, value] : defaultFlags) {
        std::unique_ptr<APMPBFlag> flag = APMPBFlagWithNameValue(flagName, value);
        if (!flag) {
            APMEMonitor::logWithLevel(
                0, 800002, "Cannot register experiment client invalid flags. Flag name, value",
                {flagName, value});
            return nullptr;
        }
        flags->emplace(flagName, std::move(*flag));
    }
    auto client =
        APMEExperimentClient::initWithSDKProperty(property.get(), defaultFlags, weak_from_this());
    if (!client) {
        APMEMonitor::logWithLevel(1, 800004, "Cannot register client. SDK name", {name});
        return nullptr;
    }
    dispatchAsyncOnSerialQueue([this, self = shared_from_this(), name, client, flags, property] {
        if (registeredClientsBySDKName_.objectForKey(name)) {
            APMEMonitor::logWithLevel(3, 800003,
                                      "Registered an SDK that has already registered. Default "
                                      "flags will be overwritten. SDK name",
                                      {name});
        }
        registeredClientsBySDKName_.setObject(client, name);
        defaultFlagsBySDKName_.setObject(std::shared_ptr<const Flags>(flags), name);
        taskManager_->addSDKProperty(property);
        APMEMonitor::logWithLevel(8, 800005, "Registered client", {name});
    });
    return client;
}

std::shared_ptr<APMEExperimentClient> APMEExperimentManager::clientForSDKName(
    std::string_view SDKName) {
    if (SDKName.empty()) {
        APMEMonitor::logWithLevel(0, 800007, "Cannot find the client for empty SDK Name");
        return nullptr;
    }
    std::shared_ptr<APMEExperimentClient> client;
    dispatchSyncOnSerialQueue([&] {
        client = registeredClientsBySDKName_.objectForKey(std::string(SDKName)).value_or(nullptr);
    });
    return client;
}

void APMEExperimentManager::reset() {
    dispatchAsyncOnSerialQueue([this, self = shared_from_this()] {
        taskManager_->reset();
        activatedSnapshotsBySDKName_.removeAllObjects();
        pendingSnapshotsBySDKName_.removeAllObjects();
        launchedSnapshotsBySDKName_.removeAllObjects();
    });
}

void APMEExperimentManager::clearAndDelete() {
    dispatchAsyncOnSerialQueue([this, self = shared_from_this()] {
        taskManager_->clearAndDelete();
        activatedSnapshotsBySDKName_.removeAllObjects();
        pendingSnapshotsBySDKName_.removeAllObjects();
        launchedSnapshotsBySDKName_.removeAllObjects();
    });
}

APMEExperimentManager::SnapshotRef APMEExperimentManager::snapshotFor(const Snapshots& dictionary,
                                                                      const std::string& SDKName) {
    return dictionary.objectForKey(SDKName).value_or(nullptr);
}
