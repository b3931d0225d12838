#include "sdk/measurement/audiences/APMAudienceLimits.h"

#include "sdk/measurement/storage/APMRemoteConfig.h"

APMAudienceLimits APMAudienceLimits::fromRemoteConfig(APMRemoteConfig& config) {
    return {config.maxAudienceCount(), config.maxFiltersPerAudience(),
            config.maxParametersPerFilter(), config.maxFilterResultCount()};
}

APMAudienceLimits APMAudienceLimits::current() {
    return fromRemoteConfig(*APMRemoteConfig::current());
}
