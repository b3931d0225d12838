#pragma once

#include <optional>

// The measurement engine's one wall clock: seconds since 1970 as a double. Day numbers, daily
// counts and stored timestamps all read it, so a test can move every one of them at once.
// Safe from any thread.
double APMCurrentTimeInterval();

// Test hook: makes APMCurrentTimeInterval() answer `seconds`; no value restores the system
// clock.
void TEST_APMSetCurrentTimeInterval(std::optional<double> seconds);
