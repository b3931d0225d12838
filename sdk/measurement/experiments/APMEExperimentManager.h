#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/experiments/APMEExperimentClient.h"
#include "sdk/measurement/experiments/APMESnapshot.h"
#include "sdk/measurement/experiments/APMETaskManager.h"
#include "sdk/measurement/storage/APMEManager.h"
#include "sdk/utilities/VDUMutableDictionary.h"

// The experiment manager: SDKs register under a name with default flags and get a client; the
// manager keeps each SDK's pending, activated and launched snapshots, answers flag lookups
// (activated, then launched, then default), activates a pending snapshot when the client asks
// and tells clients of new snapshots. Fetching and storage belong to the task manager, whose
// delegate the manager is.
//
// Thread-safety: all state lives on the serial queue "APMEExperimentSerialQueue".
// Registration, notification and resets are asynchronous on it; lookups, activation, status
// and experiment IDs wait for it (callers must not be on it). A block that throws there is
// caught and logged (800017 async, 800018 sync).
class APMEExperimentManager final : public APMEManager,
                                    public APMETaskManagerDelegate,
                                    public std::enable_shared_from_this<APMEExperimentManager> {
  public:
    using Flags = std::map<std::string, APMPBFlag, std::less<>>;

    // The shared experiment manager over the fetching task manager, made and started on first
    // use; the engine hands it to its remote configuration.
    static std::shared_ptr<APMEExperimentManager> sharedInstance();
    // A manager over `taskManager`, made its delegate and started at once.
    static std::shared_ptr<APMEExperimentManager> initWithTaskManager(
        std::shared_ptr<APMETaskManager> taskManager);

    // The measurement library version without its last three digits.
    static std::int64_t version();

    std::shared_ptr<APMEClient> registerSDKProperty(
        std::shared_ptr<APMESDKProperty> property,
        const std::map<std::string, sdk::Value>& defaultFlags) override;
    // The client registered under the name; empty name: 800007 and none.
    std::shared_ptr<APMEExperimentClient> clientForSDKName(std::string_view SDKName);
    std::optional<sdk::Value> flagValueForFlagName(std::string_view flagName,
                                                   std::string_view SDKName);
    bool activateSnapshotOfSDK(std::string_view SDKName, sdk::Error* error);
    // -1 no client (or an empty name), -2 no activated snapshot, 1 one older than three days,
    // 0 otherwise.
    int activatedSnapshotStatusOfSDKName(std::string_view SDKName);
    void resetToDefaultsOfSDKName(std::string_view SDKName);
    std::vector<std::int64_t> experimentIDs() override;
    void reset() override;
    void clearAndDelete();

    void dispatchAsyncOnSerialQueue(std::function<void()> block);
    void dispatchSyncOnSerialQueue(const std::function<void()>& block);

    // APMETaskManagerDelegate.
    bool taskManagerShouldFetchExperiments(APMETaskManager& taskManager) override;
    void taskManagerDidStart(APMETaskManager& taskManager,
                             const std::vector<APMESnapshot>& activatedSnapshots,
                             const std::vector<APMESnapshot>& pendingSnapshots,
                             const std::vector<APMESnapshot>& launchedSnapshots) override;
    void taskManagerDidFinishFetching(APMETaskManager& taskManager,
                                      const std::vector<APMESnapshot>& snapshots,
                                      const std::map<std::string, sdk::Error>& errors) override;
    void taskManagerDidUpsertPendingSnapshots(APMETaskManager& taskManager,
                                              const std::vector<APMESnapshot>& snapshots) override;

    // Public only for std::make_shared; use initWithTaskManager.
    struct Passkey {
        explicit Passkey() = default;
    };
    APMEExperimentManager(Passkey, std::shared_ptr<APMETaskManager> taskManager);

  private:
    // Tests read the held snapshots and the task manager through it.
    friend class APMEExperimentManagerTestPeer;

    using SnapshotRef = std::shared_ptr<const APMESnapshot>;
    using Snapshots = VDUMutableDictionary<std::string, SnapshotRef>;

    std::optional<sdk::Value> lookUpFlag(const std::string& flagName, const std::string& SDKName);
    bool activatePending(const std::string& SDKName);
    void storeFetchedSnapshots(const std::vector<APMESnapshot>& snapshots,
                               const std::map<std::string, sdk::Error>& errors);
    static void storeByName(Snapshots& dictionary, const std::vector<APMESnapshot>& snapshots);
    SnapshotRef snapshotFor(const Snapshots& dictionary, const std::string& SDKName);

    Snapshots activatedSnapshotsBySDKName_;
    Snapshots pendingSnapshotsBySDKName_;
    Snapshots launchedSnapshotsBySDKName_;
    const std::shared_ptr<APMETaskManager> taskManager_;
    VDUMutableDictionary<std::string, std::shared_ptr<APMEExperimentClient>>
        registeredClientsBySDKName_;
    VDUMutableDictionary<std::string, std::shared_ptr<const Flags>> defaultFlagsBySDKName_;
    const platform::QueueRef queue_;
};
