#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sdk/measurement/experiments/APMEClient.h"
#include "sdk/measurement/experiments/APMESDKProperty.h"
#include "sdk/utilities/Value.h"

// The experiments manager as the measurement side uses it. The experiments subsystem
// implements it (sharedInstance); tests may pass their own.
class APMEManager {
  public:
    virtual ~APMEManager() = default;
    // The shared experiment manager over the fetching task manager, made and started on first
    // use. Defined by the experiments library.
    static std::shared_ptr<APMEManager> sharedInstance();
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
