#pragma once

#include <optional>

// The engine's uptime clock: seconds since boot, counting time spent suspended (the kernel's
// boot-time clock). Engagement spans and upload suspensions are measured on it because, unlike
// the wall clock, it never jumps when the user sets the time. Safe from any thread.
//
// -1.0 when the clock cannot be read.
double APMSystemUptime();

// Test hook: makes APMSystemUptime() answer `seconds`; no value restores the kernel's clock.
void TEST_APMSetSystemUptime(std::optional<double> seconds);
