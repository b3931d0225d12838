// Where the facade's events enter the engine, and the engine's calls back into the facade.
#include "sdk/measurement/engine/core/APMAnalyticsEngineEntry.h"

#include "sdk/measurement/engine/APMMeasurement.h"

void APMAnalyticsLogEventInEngine(APMMeasurement& engine, APMAnalyticsEngineEvent event) {
    APMMeasurement::EventEntry entry;
    entry.origin = std::move(event.origin);
    entry.isPublicEvent = event.isPublicEvent;
    entry.name = std::move(event.name);
    entry.parameters = std::move(event.parameters);
    entry.timestamp = event.timestamp;
    entry.enabled = event.enabled;
    entry.ignoreEnabled = event.ignoreEnabled;
    entry.ignoreInterceptor = event.ignoreInterceptor;
    entry.interceptor = std::move(event.interceptor);
    entry.addedScreenParameters = std::move(event.addedScreenParameters);
    engine.logEventWithOrigin(std::move(entry));
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
    engine.setUserAttribute(attribute);
}

void APMAnalyticsRemoveUserAttributeInEngine(APMMeasurement& engine,
                                             const APMUserAttribute& attribute) {
    engine.removeUserAttribute(attribute);
}

void APMAnalyticsSetDefaultEventParametersInEngine(
    APMMeasurement& engine, const std::optional<sdk::Value::Dictionary>& parameters) {
    engine.setDefaultEventParameters(parameters);
}

void APMAnalyticsSetUserDataInEngine(APMMeasurement& engine, const sdk::Value::Dictionary& data) {
    engine.setUserData(data);
}

void APMAnalyticsUserPropertiesInEngine(APMMeasurement& engine, bool includeInternal,
                                        std::function<void(sdk::Value::Dictionary)> callback) {
    engine.userPropertiesIncludingInternal(includeInternal, std::move(callback));
}

void APMAnalyticsMaxUserPropertiesInEngine(APMMeasurement& engine, const std::string& origin,
                                           std::function<void(std::int32_t)> callback) {
    engine.maxUserPropertiesForOrigin(origin, std::move(callback));
}
