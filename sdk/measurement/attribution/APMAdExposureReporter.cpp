#include "sdk/measurement/attribution/APMAdExposureReporter.h"

#include <cmath>
#include <limits>

#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "sdk/measurement/engine/APMUptime.h"

namespace {

APMMonitor& monitor() {
    return APMMonitor::shared();
}

// (end - start) in whole milliseconds, truncated and saturated.
std::int64_t exposureMillis(double start, double end) {
    const double millis = (end - start) * 1000.0;
    if (std::isnan(millis)) {
        return 0;
    }
    constexpr double kMax = 9223372036854775807.0;
    if (millis >= kMax) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (millis <= -kMax) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(millis);
}

struct InstalledHooks {
    std::mutex mutex;
    APMAdExposureReporter::EngineHooks hooks;  // guarded by mutex
};

InstalledHooks& installedHooks() {
    static InstalledHooks* const shared = new InstalledHooks();  // lives for the whole process
    return *shared;
}

}  // namespace

void APMAdExposureReporter::setEngineHooks(EngineHooks hooks) {
    InstalledHooks& installed = installedHooks();
    std::lock_guard lock(installed.mutex);
    installed.hooks = std::move(hooks);
}

APMAdExposureReporter::EngineHooks APMAdExposureReporter::engineHooks() {
    InstalledHooks& installed = installedHooks();
    std::lock_guard lock(installed.mutex);
    return installed.hooks;
}

const std::shared_ptr<APMAdExposureReporter>& APMAdExposureReporter::sharedInstance() {
    static const std::shared_ptr<APMAdExposureReporter> shared =
        create(VDUNotificationCenter::defaultCenter());
    return shared;
}

std::shared_ptr<APMAdExposureReporter> APMAdExposureReporter::create(
    VDUNotificationCenter& center) {
    std::shared_ptr<APMAdExposureReporter> reporter =
        std::make_shared<APMAdExposureReporter>(Passkey());
    std::weak_ptr<APMAdExposureReporter> weak = reporter;
    reporter->engagementTimerObserver_ = center.addObserverForName(
        kAPMEngagementTimerDidFireNotification, nullptr,
        [weak](const VDUNotification& notification) {
            if (std::shared_ptr<APMAdExposureReporter> strong = weak.lock()) {
                strong->handleEngagementTimer(notification);
            }
        });
    return reporter;
}

APMAdExposureReporter::APMAdExposureReporter(Passkey)
    : adExposureStartTime_(APMSystemUptime()),
      queue_(platform::DispatchQueue::createSerial("APMAdExposureReporter")) {}

void APMAdExposureReporter::beginAdUnitExposure(const std::string& adUnitID) {
    if (adUnitID.empty()) {
        monitor().logWithLevel(
            5, 1000, "Ignoring call to begin ad unit exposure. Received empty ad unit ID");
        return;
    }
    const double now = APMSystemUptime();
    std::weak_ptr<APMAdExposureReporter> weak = weak_from_this();
    queue_->async([weak, adUnitID, now] {
        std::shared_ptr<APMAdExposureReporter> reporter = weak.lock();
        if (!reporter) {
            return;
        }
        if (reporter->adUnitCounts_.size() >= kMaxAdUnits) {
            monitor().logWithLevel(5, 1002, "Reached limit on ad units. Ignoring ad unit with ID",
                                   sdk::Value(adUnitID));
            return;
        }
        if (reporter->adUnitCounts_.empty()) {
            reporter->adExposureStartTime_ = now;
        }
        auto [count, isNew] = reporter->adUnitCounts_.try_emplace(adUnitID, 0);
        if (isNew) {
            reporter->adUnitStartTimes_.insert_or_assign(adUnitID, now);
        }
        ++count->second;
    });
}

void APMAdExposureReporter::endAdUnitExposure(const std::string& adUnitID) {
    if (adUnitID.empty()) {
        monitor().logWithLevel(5, 1003,
                               "Ignoring call to end ad unit exposure. Received empty ad unit ID");
        return;
    }
    const double now = APMSystemUptime();
    const APMParameters screenParameters = screenParametersFor(nullptr);
    Reports reports;
    queue_->sync([&] {
        const auto found = adUnitCounts_.find(adUnitID);
        if (found == adUnitCounts_.end()) {
            monitor().logWithLevel(5, 1004, "Unknown ad unit. Ignoring ad unit with ID",
                                   sdk::Value(adUnitID));
            return;
        }
        if (found->second >= 2) {
            --found->second;
            return;
        }
        reportAdUnitOnSerialQueue(adUnitID, now, screenParameters, reports);
        adUnitCounts_.erase(found);
        adUnitStartTimes_.erase(adUnitID);
        if (adUnitCounts_.empty()) {
            reportAdExposureOnSerialQueue(now, screenParameters, reports);
            adExposureStartTime_ = now;
        }
    });
    logReports(reports);
}

void APMAdExposureReporter::handleScreenDidChangeFromScreen(const APMScreen* previous,
                                                            const APMScreen& current) {
    (void)current;
    if (previous == nullptr) {
        return;
    }
    const double now = APMSystemUptime();
    closeIntervals(now, screenParametersFor(previous));
}

void APMAdExposureReporter::handleAppDidBecomeActive() {
    const double now = APMSystemUptime();
    queue_->sync([&] { updateStartTimesOnSerialQueue(now); });
}

void APMAdExposureReporter::handleAppWillResignActiveWithScreen(const APMScreen* screen) {
    const double now = APMSystemUptime();
    APMParameters parameters;
    if (screen != nullptr) {
        parameters = screenParametersFor(screen);
    }
    if (parameters.empty()) {
        parameters = screenParametersFor(nullptr);
    }
    closeIntervals(now, parameters);
}

void APMAdExposureReporter::handleEngagementTimer(const VDUNotification& notification) {
    (void)notification;
    const double now = APMSystemUptime();
    closeIntervals(now, screenParametersFor(nullptr));
}

void APMAdExposureReporter::logExposureEventsWithScreenParameters(
    const APMParameters& screenParameters) {
    closeIntervals(APMSystemUptime(), screenParameters);
}

void APMAdExposureReporter::closeIntervals(double endTime, const APMParameters& screenParameters) {
    Reports reports;
    queue_->sync([&] { logExposureEventsOnSerialQueue(endTime, screenParameters, reports); });
    logReports(reports);
}

void APMAdExposureReporter::logExposureEventsOnSerialQueue(double endTime,
                                                           const APMParameters& screenParameters,
                                                           Reports& reports) {
    for (const auto& [adUnitID, count] : adUnitCounts_) {
        (void)count;
        reportAdUnitOnSerialQueue(adUnitID, endTime, screenParameters, reports);
    }
    if (!adUnitCounts_.empty()) {
        reportAdExposureOnSerialQueue(endTime, screenParameters, reports);
    }
    updateStartTimesOnSerialQueue(endTime);
}

void APMAdExposureReporter::updateStartTimesOnSerialQueue(double startTime) {
    for (auto& [adUnitID, start] : adUnitStartTimes_) {
        (void)adUnitID;
        start = startTime;
    }
    adExposureStartTime_ = startTime;
}

void APMAdExposureReporter::reportAdUnitOnSerialQueue(const std::string& adUnitID, double endTime,
                                                      const APMParameters& screenParameters,
                                                      Reports& reports) {
    if (!isReportingEnabled()) {
        monitor().logWithLevel(5, 1007, "Ad unit exposure not logged. Reporting is disabled.");
        return;
    }
    if (adUnitID.empty()) {
        monitor().logWithLevel(5, 1008, "Ad unit exposure not logged. Received empty ad unit ID");
        return;
    }
    if (!isAppActive()) {
        monitor().logWithLevel(8, 1011, "Ad unit exposure not logged. App is not active.");
        return;
    }
    const auto start = adUnitStartTimes_.find(adUnitID);
    const std::int64_t millis =
        exposureMillis(start == adUnitStartTimes_.end() ? endTime : start->second, endTime);
    if (millis <= 999) {
        monitor().logWithLevel(8, 1009,
                               "Ad unit exposure not logged. Exposure time was less than 1 sec");
        return;
    }
    APMRawParameters parameters(screenParameters.begin(), screenParameters.end());
    parameters.insert_or_assign("_ai", APMValue(adUnitID));
    parameters.insert_or_assign("_xt", APMValue(millis));
    reports.push_back(Report{"_xu", std::move(parameters)});
}

void APMAdExposureReporter::reportAdExposureOnSerialQueue(double endTime,
                                                          const APMParameters& screenParameters,
                                                          Reports& reports) {
    if (!isReportingEnabled()) {
        monitor().logWithLevel(5, 1005, "Ad exposure not logged. Reporting is disabled.");
        return;
    }
    if (!isAppActive()) {
        monitor().logWithLevel(8, 1010, "Ad exposure not logged. App is not active.");
        return;
    }
    const std::int64_t millis = exposureMillis(adExposureStartTime_, endTime);
    if (millis <= 999) {
        monitor().logWithLevel(8, 1006,
                               "Ad exposure not logged. Exposure time was less than 1 sec");
        return;
    }
    APMRawParameters parameters(screenParameters.begin(), screenParameters.end());
    parameters.insert_or_assign("_xt", APMValue(millis));
    reports.push_back(Report{"_xa", std::move(parameters)});
}

void APMAdExposureReporter::logReports(const Reports& reports) {
    const EngineHooks hooks = engineHooks();
    if (!hooks.logInternalEvent) {
        return;
    }
    for (const Report& report : reports) {
        hooks.logInternalEvent(report.name, report.parameters);
    }
}

APMParameters APMAdExposureReporter::screenParametersFor(const APMScreen* screen) {
    const EngineHooks hooks = engineHooks();
    return hooks.screenParameters ? hooks.screenParameters(screen) : APMParameters{};
}

bool APMAdExposureReporter::isAppActive() {
    const EngineHooks hooks = engineHooks();
    return hooks.isAppActive && hooks.isAppActive();
}
