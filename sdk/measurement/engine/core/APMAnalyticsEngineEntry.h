#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/APMValue.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"

class APMMeasurement;

// One facade event on its way to the engine.
struct APMAnalyticsEngineEvent {
    std::string origin;
    bool isPublicEvent = false;
    std::string name;
    APMRawParameters parameters;
    double timestamp = 0;
    bool enabled = false;
    bool ignoreEnabled = false;
    bool ignoreInterceptor = false;
    APMAnalytics::EventInterceptor interceptor;
    APMRawParameters addedScreenParameters;
};

// Hands `event` to `engine`'s worker queue (block "APMMeasurement:2476"): the event is made
// (failure logs 23219), goes to the pipeline, and then to the listeners unless collection is
// off (and not ignored) or it is an ad event. A public event goes to the interceptor instead
// when one is given and not ignored. Any thread.
void APMAnalyticsLogEventInEngine(APMMeasurement& engine, APMAnalyticsEngineEvent event);

// The engine's user-property, default-parameter and user-data entries. The engine's side of
// these (its user-property store and default parameters) is a separate change; until it is
// merged these hand-offs end here.
void APMAnalyticsSetUserAttributeInEngine(APMMeasurement& engine,
                                          const APMUserAttribute& attribute);
void APMAnalyticsRemoveUserAttributeInEngine(APMMeasurement& engine,
                                             const APMUserAttribute& attribute);
void APMAnalyticsSetDefaultEventParametersInEngine(
    APMMeasurement& engine, const std::optional<sdk::Value::Dictionary>& parameters);
void APMAnalyticsSetUserDataInEngine(APMMeasurement& engine, const sdk::Value::Dictionary& data);
void APMAnalyticsUserPropertiesInEngine(APMMeasurement& engine, bool includeInternal,
                                        std::function<void(sdk::Value::Dictionary)> callback);
void APMAnalyticsMaxUserPropertiesInEngine(APMMeasurement& engine, const std::string& origin,
                                           std::function<void(std::int32_t)> callback);
