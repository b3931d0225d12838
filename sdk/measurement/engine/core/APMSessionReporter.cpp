#include "sdk/measurement/engine/core/APMSessionReporter.h"

#include <algorithm>
#include <cmath>

#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMUptime.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/engine/core/APMScreenViewReporter.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUNotificationCenter.h"

namespace {

APMMonitor& monitor() {
    return APMMeasurement::monitor();
}

std::int64_t wholeSeconds(double timestamp) {
    return static_cast<std::int64_t>(timestamp);
}

void setInteger(APMRawParameters& parameters, const char* name, std::int64_t value) {
    parameters.insert_or_assign(name, APMValue(value));
}

}  // namespace

APMSessionReporter::Settings APMSessionReporter::settingsFromRemoteConfig(APMRemoteConfig& config) {
    Settings settings;
    settings.sessionDefaultTimeoutInterval = config.sessionDefaultTimeoutInterval();
    const double interval = config.sessionEventUserEngagementInterval();
    if (interval > 0) {
        settings.sessionEventUserEngagementInterval = interval;
    }
    settings.efficientEngagementReportingEnabled = config.efficientEngagementReportingEnabled();
    settings.redundantEngagementRemovalEnabled = config.redundantEngagementRemovalEnabled();
    return settings;
}

std::shared_ptr<APMSessionReporter> APMSessionReporter::initWithPersistedConfig(
    std::shared_ptr<APMPersistedConfig> persistedConfig, const Settings& settings) {
    return std::make_shared<APMSessionReporter>(Passkey(), std::move(persistedConfig), settings);
}

APMSessionReporter::APMSessionReporter(Passkey, std::shared_ptr<APMPersistedConfig> persistedConfig,
                                       const Settings& settings)
    : persistedConfig_(std::move(persistedConfig)),
      userEngagementTimer_(
          std::make_unique<APMAlarm>(platform::DispatchQueue::main(), "Engagement timer")),
      engagementStartUptime_(APMSystemUptime()),
      freerideEngagementStartUptime_(engagementStartUptime_.load()) {
    updateSettings(settings);
    const std::optional<sdk::Value> stored = persistedConfig_->sessionTimeoutValue();
    if (const std::optional<double> seconds = stored ? stored->numberAsDouble() : std::nullopt) {
        persistedConfig_->setSessionTimeoutValue(std::nullopt);
        setTimeoutSessionInterval(*seconds);
    } else {
        setTimeoutSessionInterval(settings.sessionDefaultTimeoutInterval);
    }
}

APMSessionReporter::~APMSessionReporter() {
    userEngagementTimer_->cancel();
}

void APMSessionReporter::updateSettings(const Settings& settings) {
    sessionDefaultTimeoutInterval_.store(settings.sessionDefaultTimeoutInterval);
    sessionEventUserEngagementInterval_.store(settings.sessionEventUserEngagementInterval);
    efficientEngagementReportingEnabled_.store(settings.efficientEngagementReportingEnabled);
    redundantEngagementRemovalEnabled_.store(settings.redundantEngagementRemovalEnabled);
}

APMSessionReporter::Settings APMSessionReporter::settings() const {
    return Settings{
        sessionDefaultTimeoutInterval_.load(), sessionEventUserEngagementInterval_.load(),
        efficientEngagementReportingEnabled_.load(), redundantEngagementRemovalEnabled_.load()};
}

void APMSessionReporter::setReportingEnabled(bool enabled) {
    reportingEnabled_.store(enabled);
    if (!enabled) {
        userEngagementTimer_->cancel();
    } else if (APMIsAppActive() && !userEngagementTimer_->scheduledTimestamp()) {
        rescheduleUserEngagementTimer();
    }
}

void APMSessionReporter::setTimeoutSessionInterval(double seconds) {
    if (seconds < 0 || std::isnan(seconds)) {
        monitor().logWithLevel(3, 33001,
                               "Received negative timeout session duration. Setting to 0.0 "
                               "instead.");
        seconds = 0.0;
    }
    timeoutSessionInterval_.store(seconds);
}

bool APMSessionReporter::shouldStartNewSession() {
    return APMIsAppActive() && isSessionExpired();
}

bool APMSessionReporter::isSessionExpired() {
    return std::fabs(APMCurrentTimeInterval() - persistedConfig_->lastSessionActivityClockTime()) >
           timeoutSessionInterval_.load();
}

bool APMSessionReporter::extendSession() {
    if (isSessionExpired()) {
        return false;
    }
    persistedConfig_->setLastSessionActivityClockTime(APMCurrentTimeInterval());
    return true;
}

std::optional<APMUserAttribute> APMSessionReporter::sessionIDPropertyWithTimestamp(
    double timestamp) {
    return APMUserAttribute::initWithOrigin("auto", "_sid", APMValue(wholeSeconds(timestamp)),
                                            timestamp);
}

std::optional<APMUserAttribute> APMSessionReporter::sessionNumberProperty() {
    return APMUserAttribute::initWithOrigin(
        "auto", "_sno", APMValue(persistedConfig_->sessionNumber()), APMCurrentTimeInterval());
}

void APMSessionReporter::updatePropertiesForNewSessionStart() {
    persistedConfig_->setSessionNumber(persistedConfig_->sessionNumber() + 1);
    persistedConfig_->setLastSessionActivityClockTime(APMCurrentTimeInterval());
}

void APMSessionReporter::setSessionID(std::optional<std::int64_t> sessionID,
                                      std::optional<std::int64_t> sessionNumber) {
    const auto value = [](std::optional<std::int64_t> number) -> std::optional<sdk::Value> {
        return number ? std::optional(sdk::Value(*number)) : std::nullopt;
    };
    APMAnalytics::setInternalUserProperty(value(sessionID), "_sid", "auto");
    APMAnalytics::setInternalUserProperty(value(sessionNumber), "_sno", "auto");
}

void APMSessionReporter::logSessionStartEvent() {
    if (!APMIsAppActive()) {
        monitor().logWithLevel(7, 33005,
                               "Session start event not logged. Application is not active");
        return;
    }
    if (!reportingEnabled_.load()) {
        return;
    }
    updatePropertiesForNewSessionStart();
    const std::int64_t sessionID = wholeSeconds(APMCurrentTimeInterval());
    const std::int64_t sessionNumber = persistedConfig_->sessionNumber();
    APMRawParameters parameters;
    setInteger(parameters, "_sid", sessionID);
    setInteger(parameters, "_sno", sessionNumber);
    setSessionID(sessionID, sessionNumber);
    APMAnalytics::logInternalEventWithOrigin("auto", "_s", parameters);
}

void APMSessionReporter::logUserEngagementEvent() {
    logEngagementEventAndReturnTimeWithScreen(nullptr, false);
}

std::int64_t APMSessionReporter::logEngagementEventAndReturnTimeWithScreen(const APMScreen* screen,
                                                                           bool isRedundant) {
    if (!APMIsAppActive()) {
        monitor().logWithLevel(7, 33006,
                               "User engagement event not logged. Application is not active");
        return 0;
    }
    const bool efficient = efficientEngagementReportingEnabled_.load();
    std::int64_t engagedMillis = 0;
    if (reportingEnabled_.load()) {
        const double engaged = std::min(incurredEngagementTime(), kMaxEngagementSeconds);
        engagedMillis = static_cast<std::int64_t>(engaged * 1000.0);
        APMRawParameters parameters;
        setInteger(parameters, "_et", engagedMillis);
        if (screen != nullptr) {
            for (auto& [name, value] : APMScreenParameters(
                     *screen, APMScreenViewReporter::sharedInstance()->maxValueLength())) {
                parameters.insert_or_assign(name, std::move(value));
            }
        }
        if (isRedundant && efficient) {
            setInteger(parameters, "_fr", 1);
        }
        APMAnalytics::logInternalEventWithOrigin("auto", "_e", parameters);
    }
    const double now = APMSystemUptime();
    engagementStartUptime_.store(now);
    if (!isRedundant && efficient) {
        freerideEngagementStartUptime_.store(now);
    }
    persistedConfig_->setLastSessionActivityClockTime(APMCurrentTimeInterval());
    rescheduleUserEngagementTimer();
    return engagedMillis;
}

double APMSessionReporter::incurredEngagementTime() {
    const double start = efficientEngagementReportingEnabled_.load()
                             ? freerideEngagementStartUptime_.load()
                             : engagementStartUptime_.load();
    const double incurred = APMSystemUptime() - start;
    if (incurred < 0) {
        monitor().logWithLevel(4, 33004,
                               "Incurred engagement time is negative. Setting to 0.0 instead");
        return 0.0;
    }
    return incurred;
}

std::int64_t APMSessionReporter::cutFreerideEngagementTimeMillis() {
    if (!efficientEngagementReportingEnabled_.load()) {
        return 0;
    }
    const auto millis = static_cast<std::int64_t>(incurredEngagementTime() * 1000.0);
    freerideEngagementStartUptime_.store(APMSystemUptime());
    return millis;
}

void APMSessionReporter::handleAppDidBecomeActive() {
    const double now = APMSystemUptime();
    engagementStartUptime_.store(now);
    freerideEngagementStartUptime_.store(now);
    rescheduleUserEngagementTimer();
    if (shouldStartNewSession() && reportingEnabled_.load()) {
        setSessionID(std::nullopt, std::nullopt);
        logSessionStartEvent();
    }
}

void APMSessionReporter::handleAppWillResignActiveWithScreen(const APMScreen* screen) {
    logEngagementEventAndReturnTimeWithScreen(screen, false);
    userEngagementTimer_->cancel();
}

void APMSessionReporter::handleScreenDidChangeFromScreen(const APMScreen* previous,
                                                         const APMScreen& current) {
    (void)current;
    if (previous == nullptr || incurredEngagementTime() < 1.0) {
        return;
    }
    const bool efficient = efficientEngagementReportingEnabled_.load();
    if (efficient && redundantEngagementRemovalEnabled_.load()) {
        return;
    }
    logEngagementEventAndReturnTimeWithScreen(previous, efficient);
}

void APMSessionReporter::rescheduleUserEngagementTimer() {
    std::weak_ptr<APMSessionReporter> weak = weak_from_this();
    userEngagementTimer_->runAfterDelay(sessionEventUserEngagementInterval_.load(), [weak] {
        std::shared_ptr<APMSessionReporter> reporter = weak.lock();
        if (!reporter) {
            return;
        }
        VDUNotificationCenter::defaultCenter().postNotificationName(
            kEngagementTimerDidFireNotification, nullptr);
        reporter->logUserEngagementEvent();
    });
}

std::optional<APMEvent> APMSessionStartEvent(std::int64_t sessionNumber, bool inBackground,
                                             double timestamp) {
    APMRawParameters parameters;
    setInteger(parameters, "_sid", wholeSeconds(timestamp));
    setInteger(parameters, "_sno", sessionNumber);
    if (inBackground) {
        setInteger(parameters, "_aib", 1);
    } else {
        for (auto& [name, value] : APMScreenViewReporter::sharedInstance()->screenParameters()) {
            parameters.insert_or_assign(name, std::move(value));
        }
    }
    return APMEvent::initWithOrigin("auto", false, "_s", timestamp, 0, parameters,
                                    APMRemoteConfig::current()->parameterLimits());
}
