#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/experiments/APMEMonitor.h"

using Operation = APMEClientDelegate::Operation;

bool APMEExperimentManager::taskManagerShouldFetchExperiments(APMETaskManager& /*taskManager*/) {
    for (const std::string& name : registeredClientsBySDKName_.allKeys()) {
        auto client = registeredClientsBySDKName_.objectForKey(name).value_or(nullptr);
        if (!client)
            continue;
        auto delegate = client->delegate();
        if (!delegate || !delegate->respondsTo(Operation::kShouldFetchExperiments) ||
            delegate->shouldFetchExperimentsForClient(*client))
            return true;
    }
    return false;
}

void APMEExperimentManager::storeByName(Snapshots& dictionary,
                                        const std::vector<APMESnapshot>& snapshots) {
    for (const APMESnapshot& snapshot : snapshots)
        dictionary.setObject(std::make_shared<const APMESnapshot>(snapshot), snapshot.SDKName());
}

void APMEExperimentManager::taskManagerDidStart(
    APMETaskManager& /*taskManager*/, const std::vector<APMESnapshot>& activatedSnapshots,
    const std::vector<APMESnapshot>& pendingSnapshots,
    const std::vector<APMESnapshot>& launchedSnapshots) {
    dispatchAsyncOnSerialQueue(
        [this, self = shared_from_this(), activatedSnapshots, pendingSnapshots, launchedSnapshots] {
            storeByName(activatedSnapshotsBySDKName_, activatedSnapshots);
            storeByName(pendingSnapshotsBySDKName_, pendingSnapshots);
            storeByName(launchedSnapshotsBySDKName_, launchedSnapshots);
        });
}

void APMEExperimentManager::taskManagerDidFinishFetching(
    APMETaskManager& /*taskManager*/, const std::vector<APMESnapshot>& snapshots,
    const std::map<std::string, sdk::Error>& errors) {
    if (snapshots.empty() && errors.empty())
        APMEMonitor::logWithLevel(3, 800020, "No pending snapshots to notify the clients");
    dispatchAsyncOnSerialQueue([this, self = shared_from_this(), snapshots, errors] {
        storeFetchedSnapshots(snapshots, errors);
    });
}

void APMEExperimentManager::storeFetchedSnapshots(const std::vector<APMESnapshot>& snapshots,
                                                  const std::map<std::string, sdk::Error>& errors) {
    std::vector<APMESnapshot> takenByClients;
    for (APMESnapshot snapshot : snapshots) {
        auto client =
            registeredClientsBySDKName_.objectForKey(snapshot.SDKName()).value_or(nullptr);
        auto delegate = client ? client->delegate() : nullptr;
        if (delegate && delegate->respondsTo(Operation::kDidReceiveNewSnapshot)) {
            snapshot.setManuallyActivated(true);
            takenByClients.push_back(snapshot);
        }
        pendingSnapshotsBySDKName_.setObject(std::make_shared<const APMESnapshot>(snapshot),
                                             snapshot.SDKName());
    }
    for (const auto& [name, error] : errors) {
        auto client = registeredClientsBySDKName_.objectForKey(name).value_or(nullptr);
        auto delegate = client ? client->delegate() : nullptr;
        if (delegate && delegate->respondsTo(Operation::kDidReceiveFetchError))
            delegate->clientDidReceiveFetchError(*client, error);
    }
    if (!takenByClients.empty())
        taskManager_->upsertPendingSnapshots(takenByClients);
}

void APMEExperimentManager::taskManagerDidUpsertPendingSnapshots(
    APMETaskManager& /*taskManager*/, const std::vector<APMESnapshot>& snapshots) {
    for (const APMESnapshot& snapshot : snapshots) {
        auto client =
            registeredClientsBySDKName_.objectForKey(snapshot.SDKName()).value_or(nullptr);
        auto delegate = client ? client->delegate() : nullptr;
        if (delegate && delegate->respondsTo(Operation::kDidReceiveNewSnapshot)) {
            platform::QueueRef queue = delegate->queue();
            if (!queue)
                queue = platform::DispatchQueue::main();
            queue->async([delegate, client] { delegate->clientDidReceiveNewSnapshot(*client); });
        } else {
            APMEMonitor::logWithLevel(0, 800021,
                                      "Cannot notify new snapshot for SDK because the delegate "
                                      "does not implement -clientDidReceiveNewSnapshot:",
                                      {snapshot.SDKName()});
        }
    }
}
