#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/experiments/APMEDatabase.h"
#include "sdk/measurement/experiments/APMETaskManager.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/utilities/VDUNetwork.h"

// The task manager that fetches from the experiments service: one fetch every 4 hours, retries
// after failures 30 minutes to 16 hours apart (six at most), 12 hours of quiet after a 429 or
// 503. Its times live in the "APMExperimentSuiteName" defaults so the schedule survives
// restarts. All work runs on its serial worker queue; the delegate is called there.
class APMEFetchTaskManager final : public APMETaskManager,
                                   public std::enable_shared_from_this<APMEFetchTaskManager> {
  public:
    static constexpr std::string_view kSuccessKey = "APMExperimentFetchSuccessTimestamp";
    static constexpr std::string_view kFailureKey = "APMExperimentFetchFailureTimestamp";
    static constexpr std::string_view kBackoffKey = "APMExperimentFetchBackoffTimestamp";
    static constexpr std::string_view kServiceHost = "experiments.vovidu.invalid";
    static constexpr std::string_view kErrorDomain =
        "com.vovidu.vud.measurement.experiment.ErrorDomain";

    // The parts a task manager is made of; tests pass their own.
    struct Parts {
        platform::QueueRef queue;
        std::shared_ptr<APMAlarm> alarm;
        std::shared_ptr<VDUNetwork> network;
        std::shared_ptr<APMUserDefaults> persistedStorage;
        std::string databasePath;
        double initTimestamp = 0;
        // The address requests go to ("<scheme>://<host>[:<port>]/sdk-exp"); empty: the
        // service's own address, or the SDK's overridden origin when one is set at the fetch.
        std::string serviceURL;
    };

    // The standard parts: the worker queue, the alarm, the network, the suite, the database
    // path, now, and the service's own address.
    static std::shared_ptr<APMEFetchTaskManager> create();
    static std::shared_ptr<APMEFetchTaskManager> initWithParts(Parts parts);

    // APMETaskManager.
    void startTaskManager() override;
    void addSDKProperty(std::shared_ptr<APMESDKProperty> property) override;
    void activatePendingSnapshot(const APMESnapshot& pendingSnapshot, double timestamp) override;
    void resetToDefaultsForSDKName(const std::string& SDKName) override;
    void upsertPendingSnapshots(const std::vector<APMESnapshot>& snapshots) override;
    void reset() override;
    void clearAndDelete() override;
    void setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate) override;

    // The next fetch time from the last success and failure times (0 when absent); 0 means no
    // further fetch. The first call since init never returns earlier than now + 10 s.
    // Worker queue only.
    double fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure);
    // Worker queue only.
    void scheduleFetchingExperimentsOnWorkerQueue();
    // Posts the request; the reply is handled on the worker queue.
    void fetchExperiments();
    void handleFetchingExperimentsResponse(const VDUNetwork::Response& response,
                                           const VDUNetwork::Data& data, const sdk::Error& error);

    // The snapshots of a reply (field 1, else those of its SDK responses); null gives no value.
    static std::optional<std::vector<APMESnapshot>> experimentSnapshotsFromExperimentResponse(
        const APMPBExperimentResponse* response);
    // SDK name to error for every SDK response with a non-zero status; no value without any.
    static std::optional<std::map<std::string, sdk::Error>> errorsFromExperimentResponse(
        const APMPBExperimentResponse* response);
    static std::optional<std::vector<APMESnapshot>> experimentSnapshotsFromData(
        const sdk::Bytes& data);

    void dispatchAsyncOnWorkerQueue(std::function<void()> block);
    void dispatchSyncOnWorkerQueue(const std::function<void()>& block);

    bool hasMadeInitialFetch() const { return hasMadeInitialFetch_; }
    double initializationTimestamp() const { return initializationTimestamp_; }

  private:
    explicit APMEFetchTaskManager(Parts parts);

    void startTaskManagerOnWorkerQueue();
    void fetchAllSnapshotsOnWorkerQueue();
    void postponeFetchExperiments();
    void removeFetchTimes();
    std::shared_ptr<APMETaskManagerDelegate> delegate();

    const std::shared_ptr<APMAlarm> alarm_;
    const std::shared_ptr<VDUNetwork> network_;
    const std::shared_ptr<APMUserDefaults> persistedStorage_;
    const platform::QueueRef workerQueue_;
    std::unique_ptr<APMEDatabase> database_;  // worker queue
    const std::string databasePath_;
    const std::string serviceURL_;
    bool hasMadeInitialFetch_ = false;  // worker queue
    mutable std::mutex delegateMutex_;
    std::weak_ptr<APMETaskManagerDelegate> delegate_;  // guarded by delegateMutex_
    const double initializationTimestamp_;
};
