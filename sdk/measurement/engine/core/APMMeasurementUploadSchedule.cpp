// Upload scheduling: when the next upload runs, and the upload alarm that runs it.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMUptime.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

APMMonitor& monitor() {
    return APMMeasurement::monitor();
}

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
// How long uploads stay suspended after the uploaded bundles could not be deleted.
constexpr double kUploadSuspensionSeconds = 3600.0;
// Beyond this delay nothing more runs in the background until the alarm fires.
constexpr double kBackgroundTaskThreshold = 30.0;
// The smallest delay the alarm is given.
constexpr double kMinimumDelay = 0.001;

// A time a query answered, 0 when it failed (logged with `code` and `message`) or found none.
double timeOrZero(const std::optional<double>& time, const sdk::Error& error, std::int64_t code,
                  std::string_view message) {
    if (!error.ok()) {
        monitor().logWithLevel(5, code, message, error);
        return 0;
    }
    return time.value_or(0);
}

// A flag a query answered, false when it failed (logged with `code` and `message`).
bool flagOrFalse(const std::optional<bool>& flag, const sdk::Error& error, std::int64_t code,
                 std::string_view message) {
    if (!error.ok() || !flag) {
        if (!error.ok()) {
            monitor().logWithLevel(5, code, message, error);
        }
        return false;
    }
    return *flag;
}

}  // namespace

double APMMeasurement::systemUptime() {
    return std::max(APMSystemUptime(), 0.0);
}

void APMMeasurement::terminateBackgroundTask() {
    persistedConfig_->synchronizeToDisk();
}

void APMMeasurement::reachabilityDidChange() {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:998", [weak] {
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
            engine->updateSchedule();
        }
    });
}

bool APMMeasurement::hasDataToUpload() {
    sdk::Error error;
    const std::optional<bool> queueEmpty = database_->isQueuedBundleTableEmpty(&error);
    if (!queueEmpty) {
        monitor().logWithLevel(1, 23117, "Failed to check if queue table is empty. Error", error);
        return false;
    }
    if (!*queueEmpty) {
        return true;
    }
    const std::optional<bool> rawEventsEmpty = database_->isRawEventsTableEmpty(&error);
    if (!rawEventsEmpty) {
        monitor().logWithLevel(1, 23118, "Failed to check if raw events table is empty. Error",
                               error);
        return false;
    }
    return !*rawEventsEmpty;
}

bool APMMeasurement::isNetworkReadyForRequest() {
    const bool networkBusy = network_ && network_->hasUploadInProgress();
    if (isNetworkRequestPending_ && !networkBusy) {
        monitor().logWithLevel(1, 23041, "Analytics is uploading but network is not uploading");
    }
    return !isNetworkRequestPending_ && !networkBusy;
}

void APMMeasurement::uploadDataOrRegisterAlarm() {
    if (network_ && network_->isNetworkConnected() && hasDataToUpload()) {
        uploadData();
    } else {
        updateSchedule();
    }
}

void APMMeasurement::uploadOnFocusLossOrRegisterAlarm() {
    if (mayUploadBeforeSchedule()) {
        uploadDataOrRegisterAlarm();
    } else {
        updateSchedule();
    }
}

double APMMeasurement::latestDataTime() {
    sdk::Error rawError;
    const double latestRaw = timeOrZero(database_->queryLatestRawEventTime(&rawError), rawError,
                                        23029, "Failed to query latest raw event time. Error");
    sdk::Error bundleError;
    const double latestBundle =
        timeOrZero(database_->queryLatestBundleTime(&bundleError), bundleError, 23030,
                   "Failed to query latest bundle time. Error");
    return std::max(latestRaw, latestBundle);
}

double APMMeasurement::uploadIntervalForStoredData() {
    bool realtime = monitor().isDebugModeEnabled();
    if (!realtime) {
        sdk::Error error;
        realtime = flagOrFalse(database_->containsRealtimeBundlesWithError(&error), error, 23031,
                               "Failed to query for real-time bundle indicator. Error");
    }
    if (!realtime) {
        sdk::Error error;
        realtime = flagOrFalse(database_->containsRealtimeRawEventsWithError(&error), error, 23032,
                               "Failed to query for real-time raw event indicator. Error");
    }
    return realtime ? remoteConfig_->uploadingRealTimeInterval()
                    : remoteConfig_->uploadingInterval();
}

bool APMMeasurement::mayUploadBeforeSchedule() {
    const double now = APMCurrentTimeInterval();
    const double backoff = persistedConfig_->lastBackoffTimestamp();
    if (std::fabs(backoff) > kEpsilon &&
        now - backoff < remoteConfig_->uploadingBackoffInterval()) {
        return false;
    }
    const double latest = latestDataTime();
    if (std::fabs(latest) < kEpsilon) {
        return true;  // nothing stored: uploadDataOrRegisterAlarm only plans
    }
    const double lastSuccess = persistedConfig_->lastSuccessfulUploadTimestamp();
    if (std::fabs(now - lastSuccess) < uploadIntervalForStoredData()) {
        return false;
    }
    const double latestPast = now - std::fabs(latest - now);
    return persistedConfig_->lastFailedUploadTimestamp() < latestPast;
}

double APMMeasurement::nextUploadingTime() {
    const double lastSuccess = persistedConfig_->lastSuccessfulUploadTimestamp();
    const double lastFailure = persistedConfig_->lastFailedUploadTimestamp();
    const double latest = latestDataTime();
    if (std::fabs(latest) < kEpsilon) {
        return 0;
    }
    const bool debug = monitor().isDebugModeEnabled();
    const double interval = uploadIntervalForStoredData();
    const double now = APMCurrentTimeInterval();
    // A latest time in the future (a clock set back) is mirrored into the past.
    const double latestPast = now - std::fabs(latest - now);
    double next = std::fabs(now - lastSuccess) < interval
                      ? lastSuccess + interval
                      : latestPast + remoteConfig_->uploadingInitialDelayInterval();
    if (lastFailure < latestPast) {
        return debug ? std::min(next, latestPast + remoteConfig_->uploadingDebugModeInterval())
                     : next;
    }
    // Retries after the failure, each waiting twice as long as the one before.
    const std::int32_t retries = remoteConfig_->uploadingRetryCount();
    const double retryInterval = remoteConfig_->uploadingRetryInterval();
    for (std::int32_t i = 0; i < retries; ++i) {
        next += std::ldexp(retryInterval, i);
        if (next > lastFailure) {
            return next;
        }
    }
    return 0;
}

void APMMeasurement::updateSchedule() {
    if (!didInitializeComponents_.load()) {
        return;
    }
    // Stops planning: no alarm, no reachability watch.
    const auto stop = [this](bool keepReachabilityDelegate) {
        alarm_->cancel();
        if (!keepReachabilityDelegate && network_) {
            network_->setReachabilityDelegate({});
        }
        terminateBackgroundTask();
    };
    if (suspendedUploadTimestamp_ != 0) {
        const double sinceSuspension = std::fabs(systemUptime() - suspendedUploadTimestamp_);
        if (sinceSuspension < kUploadSuspensionSeconds) {
            monitor().logWithLevel(
                3, 23023, "Upload has been suspended. Will update scheduling later. Seconds",
                kUploadSuspensionSeconds - sinceSuspension);
            stop(false);
            return;
        }
        suspendedUploadTimestamp_ = 0;
    }
    if (!hasDataToUpload()) {
        remoteConfig_->activateNewSnapshot();
        monitor().logWithLevel(8, 23024, "No data to upload. Upload task will not be scheduled");
        stop(false);
        return;
    }
    const double next = nextUploadingTime();
    if (std::fabs(next) < kEpsilon) {
        monitor().logWithLevel(8, 23025,
                               "No next uploading time. Upload task will not be scheduled");
        stop(false);
        return;
    }
    if (!network_ || !network_->isNetworkConnected()) {
        monitor().logWithLevel(8, 23026, "No network. Upload task will not be scheduled");
        if (network_) {
            network_->setReachabilityDelegate(
                std::weak_ptr<VDUNetworkReachabilityDelegate>(weak_from_this()));
        }
        stop(true);
        return;
    }
    network_->setReachabilityDelegate({});
    scheduleUploadAt(next);
}

void APMMeasurement::scheduleUploadAt(double next) {
    const double now = APMCurrentTimeInterval();
    const double backoff = persistedConfig_->lastBackoffTimestamp();
    const double backoffInterval = remoteConfig_->uploadingBackoffInterval();
    if (std::fabs(backoff) > kEpsilon && now - backoff < backoffInterval) {
        next = std::max(next, backoff + backoffInterval);
    }
    // The alarm keeps its due time on the system clock; the plan is on the engine clock.
    const std::optional<sdk::Date> pending = alarm_->scheduledTimestamp();
    const double remaining =
        pending ? pending->timeIntervalSince1970() - sdk::Date::now().timeIntervalSince1970() : 0;
    if (pending && next >= now + remaining) {
        monitor().logWithLevel(
            8, 23027,
            "Do not schedule an upload task. Task already exists. Will be executed in seconds",
            remaining);
        if (remaining > kBackgroundTaskThreshold) {
            terminateBackgroundTask();
        }
        return;
    }
    double delay = next - now;
    if (std::fabs(delay) < kEpsilon) {
        delay = kMinimumDelay;
    }
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    alarm_->runAfterDelay(delay, [weak] {
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
            engine->scheduler_->scheduleOnWorkerQueue("APMMeasurement:1747", [weak] {
                if (std::shared_ptr<APMMeasurement> alive = weak.lock()) {
                    alive->uploadData();
                }
            });
        }
    });
    monitor().logWithLevel(8, 23028, "Upload task scheduled to be executed in approx. (s)", delay);
    if (delay > kBackgroundTaskThreshold) {
        terminateBackgroundTask();
    }
}
