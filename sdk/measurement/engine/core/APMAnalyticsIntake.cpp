// The facade's event intake: name checks, the timestamped path and the serial-queue step.
#include <charconv>

#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMDecimalNumber.h"
#include "sdk/measurement/engine/APMEventParameterCleaning.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMAnalyticsEngineEntry.h"
#include "sdk/measurement/engine/core/APMAnalyticsState.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/engine/core/APMScreenViewReporter.h"

namespace {

constexpr const char* kOriginApp = "app";
constexpr std::int64_t kErrorInvalidEventName = 2;
constexpr std::int64_t kErrorEventNameIsReserved = 13;
constexpr std::uint64_t kFailureReservedName = 4;
constexpr std::int32_t kEventNameErrorLimit = 40;
constexpr const char* kScreenParameterNames[] = {"_sn", "_sc", "_si"};

// The serial-queue step: a forwarded event's own screen parameters become the added ones, then
// the event goes to the engine (dropped while there is none).
void logEventOnSerialQueue(APMAnalyticsEngineEvent event) {
    std::uint64_t failure = 0;
    if (event.ignoreInterceptor && event.addedScreenParameters.empty() &&
        APMDataTypeValidator::isValidForwardedEventOrigin(event.origin, &failure)) {
        for (const char* name : kScreenParameterNames) {
            if (auto entry = event.parameters.extract(name)) {
                event.addedScreenParameters.insert(std::move(entry));
            }
        }
    }
    std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    if (!engine) {
        return;
    }
    APMAnalyticsState& state = APMAnalyticsState::shared();
    event.enabled = state.enabled;
    event.interceptor = state.interceptor;
    APMAnalyticsLogEventInEngine(*engine, std::move(event));
}

APMAnalyticsEngineEvent makeEvent(const std::string& origin, bool isPublicEvent,
                                  const std::string& name, const APMRawParameters& parameters,
                                  double timestamp, bool ignoreEnabled = false,
                                  bool ignoreInterceptor = false) {
    APMAnalyticsEngineEvent event;
    event.origin = origin;
    event.isPublicEvent = isPublicEvent;
    event.name = name;
    event.parameters = parameters;
    event.timestamp = timestamp;
    event.ignoreEnabled = ignoreEnabled;
    event.ignoreInterceptor = ignoreInterceptor;
    return event;
}

// The current screen's parameters for an event that brings none of its own.
APMRawParameters currentScreenParametersFor(const APMRawParameters& parameters) {
    for (const char* name : kScreenParameterNames) {
        if (parameters.contains(name)) {
            return {};
        }
    }
    const APMParameters screen = APMScreenViewReporter::sharedInstance()->screenParameters();
    return APMRawParameters(screen.begin(), screen.end());
}

void queueEvent(APMAnalyticsEngineEvent event) {
    // Written under the consent of this moment, whatever changes while it travels.
    if (!event.consent) {
        event.consent = APMConsentSettingsUtil::snapshot();
    }
    APMAnalyticsState::shared().eventsQueued.fetch_add(1);
    APMAnalytics::queueOperationWithBlock(
        [event = std::move(event)]() mutable { logEventOnSerialQueue(std::move(event)); });
}

// The decimal "_aeid" of an ad event as a 64-bit integer, saturated.
std::int64_t integerPrefix(const std::string& text) {
    std::int64_t value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    while (begin < end && *begin == ' ') {
        ++begin;
    }
    if (begin < end && *begin == '+') {
        ++begin;
    }
    const auto [ptr, error] = std::from_chars(begin, end, value);
    if (error == std::errc::result_out_of_range) {
        return begin < end && *begin == '-' ? INT64_MIN : INT64_MAX;
    }
    (void)ptr;
    return value;
}

}  // namespace

void APMAnalytics::logEventWithName(const std::string& name, const APMRawParameters& parameters) {
    logEventWithOrigin(kOriginApp, name, parameters);
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const APMRawParameters& parameters) {
    std::uint64_t failure = 0;
    if (!APMDataTypeValidator::isValidPublicEventName(name, &failure)) {
        const sdk::Value value(name);
        logErrorEventWithDetails(
            failure == kFailureReservedName ? kErrorEventNameIsReserved : kErrorInvalidEventName,
            name, kEventNameErrorLimit, &value);
        return;
    }
    logEventWithOrigin(origin, true, name, parameters);
}

void APMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const APMRawParameters& parameters) {
    logEventWithOrigin(origin, false, name, parameters);
}

void APMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              double timestamp,
                                              const APMRawParameters& parameters) {
    APMAnalyticsEngineEvent event = makeEvent(origin, false, name, parameters, timestamp);
    event.addedScreenParameters = currentScreenParametersFor(parameters);
    queueEvent(std::move(event));
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                      const std::string& name, const APMRawParameters& parameters) {
    if (name == "screen_view") {
        APMScreenViewReporter::sharedInstance()->trackScreenWithParameters(
            parameters, APMCurrentTimeInterval());
        return;
    }
    APMAnalyticsEngineEvent event = makeEvent(origin, isPublicEvent, name, parameters, 0);
    event.addedScreenParameters = currentScreenParametersFor(parameters);
    // The timestamp queue reads the clock and the consent of the moment where it fixes the
    // event's place, so operations reach the serial queue in timestamp order.
    APMAnalyticsState& state = APMAnalyticsState::shared();
    state.eventsQueued.fetch_add(1);
    state.timestampQueue->queueWithTimestamp(
        [event = std::move(event)](double timestamp,
                                   std::shared_ptr<const APMConsentSnapshot> consent) mutable {
            event.timestamp = timestamp;
            event.consent = std::move(consent);
            logEventOnSerialQueue(std::move(event));
        });
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                      const std::string& name, const APMRawParameters& parameters,
                                      double timestamp, bool ignoreEnabled,
                                      bool ignoreInterceptor) {
    queueEvent(makeEvent(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled,
                         ignoreInterceptor));
}

void APMAnalytics::logInternalEventFromInstance(const std::string& origin, const std::string& name,
                                                APMRawParameters parameters) {
    if (origin == "am") {
        if (auto entry = parameters.find("_aeid"); entry != parameters.end()) {
            const sdk::Value* raw = std::get_if<sdk::Value>(&entry->second);
            if (raw && raw->string()) {
                if (APMIsDecimalNumberString(*raw->string())) {
                    entry->second = sdk::Value(integerPrefix(*raw->string()));
                } else {
                    APMMeasurement::monitor().logWithLevel(2, 25024,
                                                           "AdEvent ID string is not a number");
                }
            }
        }
    }
    logInternalEventWithOrigin(origin, name, parameters);
}

void APMAnalytics::logErrorEventWithDetails(std::int64_t code, std::string_view name,
                                            std::int32_t maxLength, const sdk::Value* value) {
    std::optional<APMParameters> parameters = APMErrorEventParameters(code, name, maxLength, value);
    if (!parameters) {
        return;
    }
    APMRawParameters raw;
    for (auto& [key, parameter] : *parameters) {
        raw.emplace(key, std::move(parameter));
    }
    logInternalEventWithOrigin("auto", "_err", raw);
}
