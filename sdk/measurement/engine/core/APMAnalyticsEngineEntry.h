#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/APMValue.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"

class APMMeasurement;
struct APMConsentSnapshot;

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
    // The consent in force when the event was logged.
    std::shared_ptr<const APMConsentSnapshot> consent;
};

// Hands `event` to the engine's event entry (APMMeasurement::logEventWithOrigin). Any thread.
void APMAnalyticsLogEventInEngine(APMMeasurement& engine, APMAnalyticsEngineEvent event);

// The facade's user-property, default-parameter, user-data and user-property query hand-offs to
// the engine's own entries (each schedules on the engine's worker queue). Any thread.
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

// Sets the user property "_npa" (origin "auto", now) to whether ad personalisation is to be
// off, or removes it when nothing decides that; on the engine's worker queue. Any thread.
void APMAnalyticsUpdatePersonalizedAdsInEngine(APMMeasurement& engine);
