// Where the facade's events enter the engine, and the engine's calls back into the facade.
#include "sdk/measurement/engine/core/APMAnalyticsEngineEntry.h"

#include "sdk/measurement/engine/APMMeasurement.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"

namespace {

bool isAdEvent(const APMEvent& event) {
    return event.origin() == "am" || event.name() == "_xa" || event.name() == "_xu";
}

void logEventOnWorkerQueue(APMMeasurement& engine, APMAnalyticsEngineEvent entry) {
    const APMParameterLimits limits = APMParameterLimits::current();
    if (!entry.ignoreInterceptor && entry.name != "_err") {
        // The stored default event parameters, the event's own written over them.
        const std::optional<sdk::Value::Dictionary> defaults =
            engine.persistedConfig()->defaultEventParameters();
        if (defaults && !defaults->empty()) {
            APMRawParameters merged = APMRawParametersFromDictionary(*defaults);
            for (auto& [name, value] : entry.parameters) {
                merged.insert_or_assign(name, std::move(value));
            }
            entry.parameters = std::move(merged);
        }
    }
    std::optional<APMEvent> event =
        APMEvent::initWithOrigin(entry.origin, entry.isPublicEvent, entry.name, entry.timestamp, 0,
                                 entry.parameters, limits);
    if (!event) {
        APMMeasurement::monitor().logWithLevel(
            1, 23219, "Attempted to log nil event. Origin, name, parameters", entry.origin,
            entry.name, sdk::Value(static_cast<std::int64_t>(entry.parameters.size())));
        return;
    }
    if (!entry.addedScreenParameters.empty()) {
        event->addScreenParameters(entry.addedScreenParameters,
                                   limits.maxPublicEventParameterValueLength);
    }
    bool notify = true;
    if ((!entry.enabled && !entry.ignoreEnabled) || isAdEvent(*event)) {
        notify = false;
    } else if (!entry.ignoreInterceptor && entry.isPublicEvent && entry.interceptor) {
        APMRawParameters parameters = entry.parameters;
        parameters.insert(entry.addedScreenParameters.begin(), entry.addedScreenParameters.end());
        entry.interceptor(entry.origin, entry.name, parameters, entry.timestamp);
        return;
    }
    if (!notify) {
        engine.handleEventOnWorkerQueue(std::move(*event));
        return;
    }
    const APMEvent copy = *event;
    engine.handleEventOnWorkerQueue(std::move(*event));
    APMAnalytics::notifyEventListeners(copy);
}

}  // namespace

void APMAnalyticsLogEventInEngine(APMMeasurement& engine, APMAnalyticsEngineEvent event) {
    std::weak_ptr<APMMeasurement> weak = engine.shared_from_this();
    engine.scheduler()->scheduleOnWorkerQueue(
        "APMMeasurement:2476", [weak, event = std::move(event)]() mutable {
            if (std::shared_ptr<APMMeasurement> strong = weak.lock()) {
                logEventOnWorkerQueue(*strong, std::move(event));
            }
        });
}

// The engine's error events go through the facade's internal-event path.
void APMMeasurement::logErrorEvent(std::int64_t errorCode, std::string_view name,
                                   std::int32_t maxLength) {
    APMAnalytics::logErrorEventWithDetails(errorCode, name, maxLength, nullptr);
}

void APMMeasurement::notifyEventListeners(const APMEvent& event) {
    APMAnalytics::notifyEventListeners(event);
}

void APMAnalyticsSetUserAttributeInEngine(APMMeasurement& engine,
                                          const APMUserAttribute& attribute) {
    (void)engine;
    (void)attribute;
}

void APMAnalyticsRemoveUserAttributeInEngine(APMMeasurement& engine,
                                             const APMUserAttribute& attribute) {
    (void)engine;
    (void)attribute;
}

void APMAnalyticsSetDefaultEventParametersInEngine(
    APMMeasurement& engine, const std::optional<sdk::Value::Dictionary>& parameters) {
    (void)engine;
    (void)parameters;
}

void APMAnalyticsSetUserDataInEngine(APMMeasurement& engine, const sdk::Value::Dictionary& data) {
    (void)engine;
    (void)data;
}

void APMAnalyticsUserPropertiesInEngine(APMMeasurement& engine, bool includeInternal,
                                        std::function<void(sdk::Value::Dictionary)> callback) {
    (void)engine;
    (void)includeInternal;
    (void)callback;
}

void APMAnalyticsMaxUserPropertiesInEngine(APMMeasurement& engine, const std::string& origin,
                                           std::function<void(std::int32_t)> callback) {
    (void)engine;
    (void)origin;
    (void)callback;
}
