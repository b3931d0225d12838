#pragma once

#include <cstddef>

#include "sdk/measurement/script/APMPObjectManager.h"

// What tests reach of APMPObjectManager beyond its public interface.
class APMPObjectManagerTestPeer {
  public:
    // The entries of `manager`'s tracked list, dead ones not yet compacted away included.
    // REQUIRES: on the thread that runs the manager's runtime.
    static std::size_t trackedEntries(const APMPObjectManager& manager) {
        return manager.objects_.size();
    }
};
