#include "sdk/measurement/experiments/APMEFetchTaskManager.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "platform/dispatch/Clock.h"
#include "sdk/measurement/engine/APMFilePaths.h"
#include "sdk/measurement/experiments/APMEExperimentRequestBuilder.h"
#include "sdk/measurement/experiments/APMEMonitor.h"
#include "sdk/utilities/Date.h"

namespace {

constexpr double kFetchInterval = 14400.0;
constexpr double kFirstFetchDelay = 10.0;
constexpr double kRetryInterval = 1800.0;
constexpr int kMaxRetries = 6;
constexpr double kBackoffInterval = 43200.0;
constexpr double kEpsilon = 2.220446049250313e-16;

double now() {
    return std::chrono::duration<double>(platform::wallClockNow().time_since_epoch()).count();
}

}  // namespace

std::shared_ptr<APMEFetchTaskManager> APMEFetchTaskManager::create() {
    Parts parts;
    parts.queue = platform::DispatchQueue::createSerial("APMExperimentWorkerQueue");
    parts.alarm = std::make_shared<APMAlarm>(parts.queue, "APMExperimentAlarm");
    parts.network = VDUNetwork::createWithReachabilityHost(kServiceHost);
    parts.persistedStorage = std::make_shared<APMUserDefaults>("APMExperimentSuiteName");
    parts.databasePath = APMMeasurementFilePath("vovidu_experimentation_database.sql");
    parts.initTimestamp = now();
    return initWithParts(std::move(parts));
}

std::shared_ptr<APMEFetchTaskManager> APMEFetchTaskManager::initWithParts(Parts parts) {
    return std::shared_ptr<APMEFetchTaskManager>(new APMEFetchTaskManager(std::move(parts)));
}

APMEFetchTaskManager::APMEFetchTaskManager(Parts parts)
    : alarm_(std::move(parts.alarm)),
      network_(std::move(parts.network)),
      persistedStorage_(std::move(parts.persistedStorage)),
      workerQueue_(std::move(parts.queue)),
      databasePath_(std::move(parts.databasePath)),
      serviceURL_(std::move(parts.serviceURL)),
      initializationTimestamp_(parts.initTimestamp) {}

void APMEFetchTaskManager::dispatchAsyncOnWorkerQueue(std::function<void()> block) {
    workerQueue_->async([block = std::move(block)] {
        try {
            block();
        } catch (...) {
            APMEMonitor::logWithLevel(1, 820026, "Exception on async worker queue",
                                      {APMCaughtException::current()});
        }
    });
}

void APMEFetchTaskManager::dispatchSyncOnWorkerQueue(const std::function<void()>& block) {
    try {
        workerQueue_->sync(block);
    } catch (...) {
        APMEMonitor::logWithLevel(1, 820027, "Exception on sync worker queue",
                                  {APMCaughtException::current()});
    }
}

void APMEFetchTaskManager::setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate) {
    std::lock_guard lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<APMETaskManagerDelegate> APMEFetchTaskManager::delegate() {
    std::lock_guard lock(delegateMutex_);
    return delegate_.lock();
}

void APMEFetchTaskManager::addSDKProperty(std::shared_ptr<APMESDKProperty> property) {
    APMEExperimentRequestBuilder::sharedInstance().addSDKProperty(std::move(property));
}

double APMEFetchTaskManager::fetchTimeFromLastSuccessfulTimestamp(double lastSuccess,
                                                                  double lastFailure) {
    const double current = now();
    // A success time in the future is mirrored into the past.
    const double success = current - std::fabs(lastSuccess - current);
    const double base = success + kFetchInterval;
    if (!hasMadeInitialFetch_) {
        hasMadeInitialFetch_ = true;
        return std::max(base, current + kFirstFetchDelay);
    }
    if (!(lastFailure > 0))
        return base;
    double t = success == 0 ? initializationTimestamp_ : base;
    for (int i = 0; i < kMaxRetries; ++i) {
        t += std::ldexp(kRetryInterval, i);
        if (t > lastFailure)
            return t;
    }
    return 0;
}

void APMEFetchTaskManager::scheduleFetchingExperimentsOnWorkerQueue() {
    const double success = persistedStorage_->doubleForKey(kSuccessKey);
    const double failure = persistedStorage_->doubleForKey(kFailureKey);
    double fetch = fetchTimeFromLastSuccessfulTimestamp(success, failure);
    if (std::fabs(fetch) < kEpsilon) {
        persistedStorage_->removeObjectForKey(kSuccessKey);
        APMEMonitor::logWithLevel(
            2, 820024, "Network attempted too many times. Will not schedule new network.");
        return;
    }
    const double current = now();
    if (const auto scheduled = alarm_->scheduledTimestamp()) {
        // The alarm keeps its due time on the system clock; carried over to this clock.
        const double due = scheduled->timeIntervalSince1970() == 0
                               ? 0
                               : current + (scheduled->timeIntervalSince1970() -
                                            sdk::Date::now().timeIntervalSince1970());
        if (due != 0 && fetch >= due) {
            APMEMonitor::logWithLevel(
                8, 820017,
                "Do not schedule a fetch task. Task already exists. Will be executed in seconds",
                {due - current});
            return;
        }
    }
    const double backoff = persistedStorage_->doubleForKey(kBackoffKey);
    if (std::fabs(backoff) >= kEpsilon && current - backoff < kBackoffInterval)
        fetch = std::max(backoff + kBackoffInterval, fetch);
    double delay = fetch - current;
    if (delay < 0 || std::fabs(delay) < kEpsilon)
        delay = 0.001;
    std::weak_ptr<APMEFetchTaskManager> weak = weak_from_this();
    alarm_->runAfterDelay(delay, [weak] {
        const auto self = weak.lock();
        if (!self)
            return;
        const auto delegate = self->delegate();
        if (delegate && !delegate->taskManagerShouldFetchExperiments(*self))
            self->postponeFetchExperiments();
        else
            self->fetchExperiments();
    });
}

void APMEFetchTaskManager::removeFetchTimes() {
    persistedStorage_->removeObjectForKey(kBackoffKey);
    persistedStorage_->removeObjectForKey(kFailureKey);
    persistedStorage_->removeObjectForKey(kSuccessKey);
}

void APMEFetchTaskManager::postponeFetchExperiments() {
    persistedStorage_->setDouble(now(), kSuccessKey);
    persistedStorage_->removeObjectForKey(kFailureKey);
    persistedStorage_->removeObjectForKey(kBackoffKey);
    scheduleFetchingExperimentsOnWorkerQueue();
}

void APMEFetchTaskManager::startTaskManager() {
    std::weak_ptr<APMEFetchTaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak] {
        if (const auto self = weak.lock())
            self->startTaskManagerOnWorkerQueue();
    });
}

void APMEFetchTaskManager::startTaskManagerOnWorkerQueue() {
    database_ = APMEDatabase::initWithPath(databasePath_);
    if (database_ == nullptr)
        return;
    fetchAllSnapshotsOnWorkerQueue();
    scheduleFetchingExperimentsOnWorkerQueue();
}

void APMEFetchTaskManager::fetchAllSnapshotsOnWorkerQueue() {
    const bool started = database_->performTransaction([this] {
        sdk::Error error;
        if (!database_->deleteStaleActivatedSnapshots(&error)) {
            APMEMonitor::logWithLevel(1, 820006, "Cannot delete stale activated snapshots. Error",
                                      {error});
            return false;
        }
        if (!database_->activatePendingSnapshotsAutomatically(&error)) {
            APMEMonitor::logWithLevel(
                1, 820007, "Cannot activate pending snapshots automatically. Error", {error});
            return false;
        }
        return true;
    });
    if (!started) {
        APMEMonitor::logWithLevel(2, 820008, "Failed to start the task manager");
        return;
    }
    APMEMonitor::logWithLevel(8, 820009, "Successfully start the task manager");
    const auto delegate = this->delegate();
    if (!delegate)
        return;
    using Fetch = std::optional<std::vector<APMESnapshot>> (APMEDatabase::*)(sdk::Error*);
    const auto read = [this](Fetch fetch, std::int64_t code, std::string_view message) {
        sdk::Error error;
        auto snapshots = ((*database_).*fetch)(&error);
        if ((!snapshots || snapshots->empty()) && !error.ok())
            APMEMonitor::logWithLevel(2, code, message, {error});
        return snapshots.value_or(std::vector<APMESnapshot>{});
    };
    const auto activated = read(&APMEDatabase::fetchAllActivatedSnapshots, 820010,
                                "Error in fetching all activated snapshots. Error");
    const auto pending = read(&APMEDatabase::fetchAllPendingSnapshots, 820011,
                              "Error in fetching all pending snapshots. Error");
    const auto launched = read(&APMEDatabase::fetchAllLaunchedSnapshots, 820012,
                               "Error in fetching all launched snapshots. Error");
    delegate->taskManagerDidStart(*this, activated, pending, launched);
}
