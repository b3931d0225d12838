#include "platform/dispatch/Clock.h"

#include <cmath>
#include <ratio>
#include <type_traits>

namespace platform {

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

}  // namespace platform
