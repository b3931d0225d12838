#pragma once

#include <cstdint>

#include "sdk/measurement/engine/APMMonitor.h"

// The measurement engine. For now it holds only the engine's one monitor, which the stores
// log through; event intake, sessions and uploads come with the engine itself.
class APMMeasurement {
  public:
    APMMeasurement() = delete;

    // The measurement library version, part of every health-sample key.
    static constexpr std::int64_t kLibraryVersion = 111500000;

    // The engine's one monitor, made on first use and alive for the rest of the process.
    // Safe from any thread.
    static APMMonitor& monitor();
};
