#include "sdk/measurement/engine/APMClock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

namespace {

struct ClockOverride {
    // Whether `seconds` may be set: the system clock's readers pass without the lock. Written
    // under `mutex`.
    std::atomic<bool> set{false};
    std::mutex mutex;
    std::optional<double> seconds;  // guarded by mutex
};

ClockOverride& clockOverride() {
    static ClockOverride* const shared = new ClockOverride();  // lives for the whole process
    return *shared;
}

}  // namespace

double APMCurrentTimeInterval() {
    if (ClockOverride& o = clockOverride(); o.set.load(std::memory_order_acquire)) {
        std::lock_guard lock(o.mutex);
        if (o.seconds) {
            return *o.seconds;
        }
    }
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Declared for tests only, in tests/sdk/measurement/engine/APMClockTesting.h.
void TEST_APMSetCurrentTimeInterval(std::optional<double> seconds) {
    ClockOverride& o = clockOverride();
    std::lock_guard lock(o.mutex);
    o.seconds = seconds;
    o.set.store(seconds.has_value(), std::memory_order_release);
}
