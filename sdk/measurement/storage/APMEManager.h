#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sdk/measurement/storage/APMEClient.h"
#include "sdk/measurement/storage/APMESDKProperty.h"
#include "sdk/utilities/Value.h"

// The experiments manager as the remote configuration uses it. The experiments subsystem
// implements it (APMEExperimentManager) and the engine hands its shared manager to the
// configuration, so the stores need nothing of the experiments library.
class APMEManager {
  public:
    virtual ~APMEManager() = default;
    // Registers an SDK with its default flags (name to number or string); the SDK's client, or
    // null when the property cannot be registered.
    virtual std::shared_ptr<APMEClient> registerSDKProperty(
        std::shared_ptr<APMESDKProperty> property,
        const std::map<std::string, sdk::Value>& defaultFlags) = 0;
    // The IDs of the active experiments.
    virtual std::vector<std::int64_t> experimentIDs() = 0;
    // Resets the experiment state (asynchronously).
    virtual void reset() = 0;
};
