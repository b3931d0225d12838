#pragma once

#include <chrono>
#include <optional>

namespace platform {

// Delays and most deadlines of the dispatch layer are measured on this monotonic clock, so
// changes of the wall clock never make a timer fire early or late. It stops while the system
// sleeps.
using Clock = std::chrono::steady_clock;

// Calendar deadlines (an alarm at a given time of day) are measured on the wall clock instead,
// which keeps running while the system sleeps, so they are not late after a suspend.
using WallClock = std::chrono::system_clock;

// Converts a time interval in seconds (the SDK's double-valued intervals) to a clock duration.
// NaN and negative intervals give zero; intervals beyond the clock's range saturate at its
// maximum.
Clock::duration durationFromSeconds(double seconds);

// Returns now + `delay`, saturating at the clock's latest time point instead of overflowing.
Clock::time_point deadlineAfter(Clock::duration delay);

// The wall clock's time: the system clock, or the time a test has set.
WallClock::time_point wallClockNow();

// Test hook: makes wallClockNow() answer `time` (no value restores the system clock) and has
// the dispatch layer look again at its wall-clock deadlines, so deadlines now passed fire.
void TEST_setWallClockTime(std::optional<WallClock::time_point> time);

}  // namespace platform
