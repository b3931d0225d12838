#pragma once

#include <optional>

#include "sdk/measurement/engine/APMUptime.h"

// Test only (defined in sdk/measurement/engine/APMUptime.cpp): makes APMSystemUptime() answer
// `seconds` in the whole process; no value restores the kernel's clock. Any thread.
void TEST_APMSetSystemUptime(std::optional<double> seconds);
