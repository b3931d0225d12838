#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sdk/measurement/experiments/APMESnapshot.h"
#include "sdk/measurement/storage/APMESDKProperty.h"
#include "sdk/utilities/Error.h"

class APMETaskManager;

// What the task manager reports, on its worker queue. The experiment manager implements it.
class APMETaskManagerDelegate {
  public:
    virtual ~APMETaskManagerDelegate() = default;
    // Whether any client wants experiments fetched now.
    virtual bool taskManagerShouldFetchExperiments(APMETaskManager& taskManager) = 0;
    // The snapshots stored at the last run, read at start.
    virtual void taskManagerDidStart(APMETaskManager& taskManager,
                                     const std::vector<APMESnapshot>& activatedSnapshots,
                                     const std::vector<APMESnapshot>& pendingSnapshots,
                                     const std::vector<APMESnapshot>& launchedSnapshots) = 0;
    // A fetch ended with these snapshots (already stored as pending) and per-SDK errors.
    virtual void taskManagerDidFinishFetching(APMETaskManager& taskManager,
                                              const std::vector<APMESnapshot>& snapshots,
                                              const std::map<std::string, sdk::Error>& errors) = 0;
    // These snapshots were stored again, marked as activated by their clients.
    virtual void taskManagerDidUpsertPendingSnapshots(
        APMETaskManager& taskManager, const std::vector<APMESnapshot>& snapshots) = 0;
};

// Fetches experiments on its schedule and keeps them in the experiment database; exactly the
// calls the experiment manager makes. Every call returns at once: the work runs on the task
// manager's own worker queue, never on the caller's.
class APMETaskManager {
  public:
    virtual ~APMETaskManager() = default;
    // Opens the database, activates the pending snapshots not marked manual, reports the
    // stored snapshots to the delegate and schedules fetching.
    virtual void startTaskManager() = 0;
    // Adds the SDK to the requests (the request builder's part).
    virtual void addSDKProperty(std::shared_ptr<APMESDKProperty> property) = 0;
    // Stores the activation of `pendingSnapshot` at `timestamp`.
    virtual void activatePendingSnapshot(const APMESnapshot& pendingSnapshot, double timestamp) = 0;
    // Deletes the SDK's activated snapshot.
    virtual void resetToDefaultsForSDKName(const std::string& SDKName) = 0;
    // Stores the snapshots as pending, then tells the delegate.
    virtual void upsertPendingSnapshots(const std::vector<APMESnapshot>& snapshots) = 0;
    // Empties the database and schedules a new fetch.
    virtual void reset() = 0;
    // Deletes the database.
    virtual void clearAndDelete() = 0;
    virtual void setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate) = 0;
};
