#pragma once

#include <memory>
#include <string>

#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/experiments/APMESnapshot.h"
#include "sdk/measurement/experiments/APMETaskManager.h"

// What tests reach of APMEExperimentManager beyond its public interface.
class APMEExperimentManagerTestPeer {
  public:
    // The snapshots `manager` holds for `SDKName`, or null; each waits for the manager's queue.
    // REQUIRES: not called on that queue.
    static std::shared_ptr<const APMESnapshot> activatedSnapshot(APMEExperimentManager& manager,
                                                                 const std::string& SDKName) {
        return snapshotOnQueue(manager, manager.activatedSnapshotsBySDKName_, SDKName);
    }
    static std::shared_ptr<const APMESnapshot> pendingSnapshot(APMEExperimentManager& manager,
                                                               const std::string& SDKName) {
        return snapshotOnQueue(manager, manager.pendingSnapshotsBySDKName_, SDKName);
    }
    static std::shared_ptr<const APMESnapshot> launchedSnapshot(APMEExperimentManager& manager,
                                                                const std::string& SDKName) {
        return snapshotOnQueue(manager, manager.launchedSnapshotsBySDKName_, SDKName);
    }

    // The task manager `manager` was made with.
    static const std::shared_ptr<APMETaskManager>& taskManager(
        const APMEExperimentManager& manager) {
        return manager.taskManager_;
    }

  private:
    static std::shared_ptr<const APMESnapshot> snapshotOnQueue(
        APMEExperimentManager& manager, const APMEExperimentManager::Snapshots& dictionary,
        const std::string& SDKName) {
        APMEExperimentManager::SnapshotRef result;
        manager.dispatchSyncOnSerialQueue(
            [&] { result = manager.snapshotFor(dictionary, SDKName); });
        return result;
    }
};
