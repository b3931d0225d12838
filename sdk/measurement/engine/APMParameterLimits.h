#pragma once

#include <cstdint>

// The remote-configuration limits the checks and the cleaning of event parameters apply. The
// engine's functions take them as a value, so one event is checked against one consistent set;
// callers read them from the configuration in force
// (APMRemoteConfig::parameterLimits) at each call.
struct APMParameterLimits {
    // Public parameters an event may carry (default 100).
    std::int32_t maxPublicEventParams;
    // Custom parameters an item may carry (default 27).
    std::int32_t maxItemScopedCustomParameters;
    // Code points of a public parameter value (default 500); the internal limit derives from it.
    std::int32_t maxPublicEventParameterValueLength;
};
