#pragma once

#include <cstdint>

class APMRemoteConfig;

// The remote-configuration limits the checks and the cleaning of event parameters apply. The
// engine's functions take them as a value, so one event is checked against one consistent set;
// callers read them with current() at each call.
struct APMParameterLimits {
    // Public parameters an event may carry (default 100).
    std::int32_t maxPublicEventParams;
    // Custom parameters an item may carry (default 27).
    std::int32_t maxItemScopedCustomParameters;
    // Code points of a public parameter value (default 500); the internal limit derives from it.
    std::int32_t maxPublicEventParameterValueLength;

    // The limits `config` sets now. REQUIRES: called where the configuration may be read (the
    // worker queue once the engine runs).
    static APMParameterLimits fromRemoteConfig(APMRemoteConfig& config);
    // The limits of APMMeasurement::remoteConfig(), the default configuration until one is
    // installed. (Defined with APMRemoteConfig, in the storage library.)
    static APMParameterLimits current();
};
