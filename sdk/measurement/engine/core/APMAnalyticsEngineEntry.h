#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/APMValue.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"

// One facade event on its way to the engine: the engine's own entry.
using APMAnalyticsEngineEvent = APMMeasurement::EventEntry;

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
