#pragma once

#include <optional>

#include "sdk/measurement/engine/APMClock.h"

// Test only (defined in sdk/measurement/engine/APMClock.cpp): makes APMCurrentTimeInterval()
// answer `seconds` in the whole process; no value restores the system clock. Any thread.
void TEST_APMSetCurrentTimeInterval(std::optional<double> seconds);
