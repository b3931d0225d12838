#pragma once

#include <cstdint>

class APMRemoteConfig;

// The remote-configuration limits on audience definitions and their stored results. Functions
// take them as a value, so one configuration is checked against one consistent set; callers
// read them with current() at each call.
struct APMAudienceLimits {
    // Audiences stored per configuration (default 100).
    std::int32_t maxAudienceCount;
    // Filters of one audience, and the bound of every filter ID (ID < limit; default 10).
    std::int32_t maxFiltersPerAudience;
    // Parameter filters of one event filter (default 25).
    std::int32_t maxParametersPerFilter;
    // Stored audience results before stale ones are trimmed (default 200).
    std::int32_t maxFilterResultCount;

    // The limits `config` sets now. REQUIRES: called where the configuration may be read (the
    // worker queue once the engine runs).
    static APMAudienceLimits fromRemoteConfig(APMRemoteConfig& config);
    // The limits of the configuration in force (APMRemoteConfig::current()).
    static APMAudienceLimits current();
};
