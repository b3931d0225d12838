// The events the engine reports on its own: the first open with its user properties "_fi" and
// "_fot", app and OS updates, and the campaign link stored before the first open.
#include <charconv>
#include <limits>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDeepLink.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/engine/core/APMScreenViewReporter.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"

namespace {

constexpr std::int64_t kHourMillis = 3600000;

// A decimal count; a number out of range saturates and anything else counts as 0.
std::int64_t countFromString(std::string_view text) {
    std::int64_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        return text.starts_with('-') ? std::numeric_limits<std::int64_t>::min()
                                     : std::numeric_limits<std::int64_t>::max();
    }
    return error == std::errc() ? count : 0;
}

// `seconds` in whole milliseconds, truncated and saturated.
std::int64_t millisecondsFromSeconds(double seconds) {
    return sdk::Value(seconds * 1000).numberAsInt().value_or(0);
}

bool isYes(const std::optional<sdk::Value>& value) {
    return value && value->numberAsInt().value_or(0) != 0;
}

}  // namespace

std::int64_t APMMeasurement::timestampMillisRoundedUpToNextHour(std::int64_t milliseconds) {
    const std::int64_t hourStart = milliseconds / kHourMillis * kHourMillis;
    return hourStart > std::numeric_limits<std::int64_t>::max() - kHourMillis
               ? std::numeric_limits<std::int64_t>::max()
               : hourStart + kHourMillis;
}

std::string APMMeasurement::previousFirstOpenCount() {
    const std::optional<sdk::Value> stored = persistedConfig_->previousFirstOpenCount();
    if (!stored) {
        return "0";
    }
    // Installs that counted before the count became a number kept it as a string.
    const std::int64_t count =
        stored->string() ? countFromString(*stored->string()) : stored->numberAsInt().value_or(0);
    return std::to_string(count);
}

void APMMeasurement::setPreviousFirstOpenCount(std::string_view count) {
    persistedConfig_->setPreviousFirstOpenCount(sdk::Value(countFromString(count)));
}

double APMMeasurement::firstOpenTimestamp() {
    sdk::Error error = apm_errorWithCode(2, "Database not open.");
    const std::optional<std::vector<APMUserAttribute>> attributes =
        database_ ? storedUserAttributes(&error) : std::nullopt;
    if (!attributes) {
        monitor().logWithLevel(1, 23123, "Unable to query current user properties. Error", error);
        return 0;
    }
    if (attributes->empty()) {
        monitor().logWithLevel(2, 23124,
                               "Cannot extract first open timestamp. Empty user properties");
        return 0;
    }
    double earliest = std::numeric_limits<double>::infinity();
    for (const APMUserAttribute& attribute : *attributes) {
        if (attribute.name() == "_fot") {
            return attribute.lastSetTimestamp();
        }
        earliest = std::min(earliest, attribute.lastSetTimestamp());
    }
    return earliest;
}

// First open
// ---------------------------------------------------------------------------------------------

void APMMeasurement::reportFirstOpenOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("reportFirstOpenOnWorkerQueue");
    sdk::Error error;
    const std::optional<APMUserAttribute> firstOpen = storedUserAttributeWithName("_fot", &error);
    if (!error.ok()) {
        monitor().logWithLevel(1, 23019, "Failed to query first open property. Error", error);
        return;
    }
    const std::int64_t previous = countFromString(previousFirstOpenCount());
    if (firstOpen) {
        if (previous < 1) {
            setPreviousFirstOpenCount("1");
        }
        APMAnalytics::setDeferredAnalyticsCollection(std::nullopt);
        if (APMIsAppActive()) {
            reportSessionStartOnWorkerQueueWithTimestamp(initTimestamp_, false);
        }
        persistedConfig_->setLoadTimestampValue(std::nullopt);
        return;
    }
    const std::int64_t firstInstall = previous >= 1 || isVersionSameAsOriginalVersion() ? 1 : 0;
    const std::int64_t storedMillis = persistedConfig_->firstOpenTimestampMilliseconds();
    const double installTime = storedMillis != 0 ? storedMillis / 1000.0 : initTimestamp_;
    if (!setReportedUserAttribute(
            "_fi", APMValue(firstInstall), installTime, 23161,
            "Failed to query first open after install property after setting it. Error", 23162,
            "Failed to set first open after install property")) {
        return;
    }
    const std::int64_t firstOpenMillis = millisecondsFromSeconds(initTimestamp_);
    if (!setReportedUserAttribute(
            "_fot", APMValue(timestampMillisRoundedUpToNextHour(firstOpenMillis)), initTimestamp_,
            23020, "Failed to query first open property after setting it. Error", 23021,
            "Failed to set first open property")) {
        return;
    }
    logFirstOpenEventsOnWorkerQueue(previous, firstInstall);
    persistedConfig_->setFirstOpenTimestampMilliseconds(firstOpenMillis);
    reportStoredCampaignEventOnWorkerQueue(firstOpenMillis - 1);
}

bool APMMeasurement::setReportedUserAttribute(std::string_view name, APMValue value, double lastSet,
                                              std::int64_t queryCode, std::string_view queryMessage,
                                              std::int64_t setCode, std::string_view setMessage) {
    if (std::optional<APMUserAttribute> attribute =
            APMUserAttribute::initWithOrigin("auto", name, std::move(value), lastSet)) {
        setUserAttributeOnWorkerQueue(*attribute);
    }
    sdk::Error error;
    const std::optional<APMUserAttribute> stored = storedUserAttributeWithName(name, &error);
    if (!error.ok()) {
        monitor().logWithLevel(1, queryCode, queryMessage, error);
        return false;
    }
    if (!stored) {
        monitor().logWithLevel(1, setCode, setMessage);
        return false;
    }
    return true;
}

void APMMeasurement::logFirstOpenEventsOnWorkerQueue(std::int64_t previousCount,
                                                     std::int64_t firstInstall) {
    const bool efficientEngagement = remoteConfig_->efficientEngagementReportingEnabled();
    APMRawParameters parameters;
    if (previousVUDAppID_ && !previousVUDAppID_->empty()) {
        parameters.emplace("_pvap", APMValue(*previousVUDAppID_));
    }
    parameters.emplace("_pfo", APMValue(previousCount < 1 ? std::int64_t{0} : previousCount));
    parameters.emplace("_uwa", APMValue(1 - firstInstall));
    if (isYes(APMAnalytics::deferredAnalyticsCollection())) {
        parameters.emplace("_dac", APMValue(std::int64_t{1}));
    }
    if (efficientEngagement) {
        parameters.emplace("_et", APMValue(std::int64_t{1}));
    }
    const APMParameters screen = APMScreenViewReporter::sharedInstance()->screenParameters();
    const APMRawParameters screenParameters(screen.begin(), screen.end());
    const std::int32_t maxValueLength =
        APMRemoteConfig::current()->parameterLimits().maxPublicEventParameterValueLength;
    if (std::optional<APMEvent> firstOpen =
            APMEvent::initWithOrigin("auto", false, "_f", initTimestamp_, 0, parameters,
                                     APMRemoteConfig::current()->parameterLimits())) {
        firstOpen->addScreenParameters(screenParameters, maxValueLength);
        handleInternalEventOnWorkerQueue(std::move(*firstOpen));
    }
    APMAnalytics::setDeferredAnalyticsCollection(std::nullopt);
    persistedConfig_->setLoadTimestampValue(std::nullopt);
    if (APMIsAppActive()) {
        reportSessionStartOnWorkerQueueWithTimestamp(initTimestamp_, false);
    }
    if (remoteConfig_->redundantEngagementRemovalEnabled()) {
        return;
    }
    APMRawParameters engagement{{"_et", APMValue(std::int64_t{1})}};
    if (efficientEngagement) {
        engagement.emplace("_fr", APMValue(std::int64_t{1}));
    }
    if (std::optional<APMEvent> event =
            APMEvent::initWithOrigin("auto", false, "_e", initTimestamp_, 0, engagement,
                                     APMRemoteConfig::current()->parameterLimits())) {
        event->addScreenParameters(screenParameters, maxValueLength);
        handleInternalEventOnWorkerQueue(std::move(*event));
    }
}

// App and OS updates
// -----------------------------------------------------------------------------------------

void APMMeasurement::reportAppUpdateOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("reportAppUpdateOnWorkerQueue");
    reportVersionChangeOnWorkerQueue(
        persistedConfig_->appVersion(), identity_->appVersion(),
        [this](const std::optional<std::string>& v) { persistedConfig_->setAppVersion(v); }, "_au",
        "_pv");
}

void APMMeasurement::reportOSUpdateOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("reportOSUpdateOnWorkerQueue");
    reportVersionChangeOnWorkerQueue(
        persistedConfig_->osVersion(), VDUAppEnvironmentUtil::systemVersion(),
        [this](const std::optional<std::string>& v) { persistedConfig_->setOSVersion(v); }, "_ou",
        "_po");
}

void APMMeasurement::reportVersionChangeOnWorkerQueue(
    const std::optional<std::string>& stored, const std::optional<std::string>& current,
    const std::function<void(const std::optional<std::string>&)>& store, std::string_view eventName,
    std::string_view parameterName) {
    // An unknown version is no update: the stored one is kept for when it is known again.
    if (!current || current->empty() || current == stored) {
        return;
    }
    store(current);
    if (!stored || stored->empty()) {
        return;
    }
    if (std::optional<APMEvent> event =
            APMEvent::initWithOrigin("auto", false, eventName, APMCurrentTimeInterval(), 0,
                                     {{std::string(parameterName), APMValue(*stored)}},
                                     APMRemoteConfig::current()->parameterLimits())) {
        handleInternalEventOnWorkerQueue(std::move(*event));
    }
}

// Stored campaign
// --------------------------------------------------------------------------------------------

void APMMeasurement::reportStoredCampaignEventOnWorkerQueue(
    std::optional<std::int64_t> clickTimestampMillis) {
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        "reportStoredCampaignEventWithClickTimestampInMillisOnWorkerQueue:");
    APMUserDefaults& defaults = APMUserDefaults::sharedUserDefaults();
    const std::optional<sdk::Value> link = defaults.objectForKey(kAPMDeepLinkKey);
    const std::string* url = link ? link->string() : nullptr;
    if (url == nullptr || url->empty()) {
        return;
    }
    const std::string storedURL = *url;
    const double storedAt = defaults.doubleForKey(kAPMDeepLinkTimestampKey);
    sdk::Value::Dictionary extra;
    if (APMIsStoredDeepLinkExpired(defaults, remoteConfig()->attributionCacheTTLInterval())) {
        extra.emplace("utm_source", sdk::Value("(not set)"));
        extra.emplace("utm_medium", sdk::Value("(not set)"));
        extra.emplace("_cc", sdk::Value(std::int64_t{1}));
    } else {
        extra.emplace("_cc",
                      sdk::Value(APMPreviousHourStartMillis(millisecondsFromSeconds(storedAt))));
    }
    APMClearStoredDeepLink(defaults);
    handleOpenURLOnWorkerQueue(storedURL, clickTimestampMillis, storedAt, extra);
}
