#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/experiments/APMEDatabase.h"
#include "sdk/measurement/experiments/APMETaskManager.h"
#include "tests/sdk/measurement/experiments/ExperimentTestSupport.h"

namespace exptest {

// A task manager that fetches nothing: it records the manager's calls and runs them on the
// real experiment database, on a worker queue of its own, as the fetching one does.
class RecordingTaskManager final : public APMETaskManager {
  public:
    void startTaskManager() override {
        run("start", [this] {
            database_ = APMEDatabase::initWithPath(databasePath());
            auto delegate = delegate_.lock();
            if (!database_ || !delegate)
                return;
            sdk::Error error;
            auto activated = database_->fetchAllActivatedSnapshots(&error);
            auto pending = database_->fetchAllPendingSnapshots(&error);
            auto launched = database_->fetchAllLaunchedSnapshots(&error);
            delegate->taskManagerDidStart(*this, activated.value_or(std::vector<APMESnapshot>{}),
                                          pending.value_or(std::vector<APMESnapshot>{}),
                                          launched.value_or(std::vector<APMESnapshot>{}));
        });
    }
    void addSDKProperty(std::shared_ptr<APMESDKProperty> property) override {
        run("add " + property->name(), [] {});
    }
    void activatePendingSnapshot(const APMESnapshot& snapshot, double timestamp) override {
        run("activate " + snapshot.SDKName(), [this, snapshot, timestamp] {
            sdk::Error error;
            EXPECT_TRUE(database_->activateSnapshot(&snapshot, timestamp, &error))
                << error.ToString();
        });
    }
    void resetToDefaultsForSDKName(const std::string& name) override {
        run("reset " + name, [this, name] {
            sdk::Error error;
            EXPECT_TRUE(database_->deleteActivatedExperimentsOfSDKName(name, &error));
        });
    }
    void upsertPendingSnapshots(const std::vector<APMESnapshot>& snapshots) override {
        run("upsert", [this, snapshots] {
            sdk::Error error;
            EXPECT_TRUE(database_->upsertPendingExperimentSnapshots(snapshots, &error));
            if (auto delegate = delegate_.lock())
                delegate->taskManagerDidUpsertPendingSnapshots(*this, snapshots);
        });
    }
    void reset() override {
        run("reset", [this] { database_->reset(); });
    }
    void clearAndDelete() override {
        run("clearAndDelete", [this] { database_->closeAndDelete(); });
    }
    void setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate) override {
        delegate_ = std::move(delegate);
    }

    // The calls made so far, in order.
    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // Waits for the work queued so far.
    void drain() {
        queue_->sync([] {});
    }

  private:
    void run(std::string call, std::function<void()> work) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
        }
        queue_->async(std::move(work));
    }

    const platform::QueueRef queue_ =
        platform::DispatchQueue::createSerial("APMExperimentWorkerQueue");
    std::unique_ptr<APMEDatabase> database_;  // used on queue_ only
    std::weak_ptr<APMETaskManagerDelegate> delegate_;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;  // guarded by mutex_
};

}  // namespace exptest
