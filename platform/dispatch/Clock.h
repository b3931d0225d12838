#pragma once

#include <chrono>

namespace platform {

// Every delay and deadline of the dispatch layer is measured on this monotonic clock, so
// changes of the wall clock never make a timer fire early or late.
using Clock = std::chrono::steady_clock;

// Converts a time interval in seconds (the SDK's double-valued intervals) to a clock duration.
// NaN and negative intervals give zero; intervals beyond the clock's range saturate at its
// maximum.
Clock::duration durationFromSeconds(double seconds);

// Returns now + `delay`, saturating at the clock's latest time point instead of overflowing.
Clock::time_point deadlineAfter(Clock::duration delay);

}  // namespace platform
