#include "platform/dispatch/Clock.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <ratio>
#include <type_traits>

#include "platform/dispatch/DeadlineScheduler.h"

namespace platform {

namespace {

// The wall time a test has set, in ticks since the epoch; kNoTestTime when none is set.
constexpr WallClock::rep kNoTestTime = std::numeric_limits<WallClock::rep>::min();
std::atomic<WallClock::rep> gTestWallTime{kNoTestTime};

}  // namespace

Clock::duration durationFromSeconds(double seconds) {
    static_assert(std::is_same_v<Clock::period, std::nano>, "ticks are nanoseconds");
    if (std::isnan(seconds) || seconds <= 0) {
        return Clock::duration::zero();
    }
    // Slightly below 2^63 ns, so the conversion below can never overflow after rounding.
    constexpr double kMaxTicks = 9.2e18;
    const double ticks = seconds * 1e9;
    if (ticks >= kMaxTicks) {
        return Clock::duration::max();
    }
    return Clock::duration(static_cast<Clock::rep>(ticks));
}

Clock::time_point deadlineAfter(Clock::duration delay) {
    const Clock::time_point now = Clock::now();
    if (delay <= Clock::duration::zero()) {
        return now;
    }
    if (delay > Clock::time_point::max() - now) {
        return Clock::time_point::max();
    }
    return now + delay;
}

WallClock::time_point wallClockNow() {
    const WallClock::rep forced = gTestWallTime.load(std::memory_order_acquire);
    if (forced != kNoTestTime) {
        return WallClock::time_point(WallClock::duration(forced));
    }
    return WallClock::now();
}

void TEST_setWallClockTime(std::optional<WallClock::time_point> time) {
    gTestWallTime.store(time ? time->time_since_epoch().count() : kNoTestTime,
                        std::memory_order_release);
    DeadlineScheduler::shared().wallClockChanged();
}

}  // namespace platform
