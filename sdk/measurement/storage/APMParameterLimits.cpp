#include "sdk/measurement/engine/APMParameterLimits.h"

#include "sdk/measurement/engine/APMMeasurement.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

APMParameterLimits APMParameterLimits::fromRemoteConfig(APMRemoteConfig& config) {
    return {config.maxPublicEventParams(), config.maxItemScopedCustomParameters(),
            config.maxPublicEventParameterValueLength()};
}

APMParameterLimits APMParameterLimits::current() {
    return fromRemoteConfig(*APMMeasurement::remoteConfig());
}
