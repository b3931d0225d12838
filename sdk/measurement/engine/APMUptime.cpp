#include "sdk/measurement/engine/APMUptime.h"

#include <atomic>
#include <cmath>
#include <ctime>
#include <limits>
#include <optional>

namespace {

// The uptime a test set; NaN while the kernel's clock is read.
std::atomic<double>& uptimeOverride() {
    static std::atomic<double> overridden{std::numeric_limits<double>::quiet_NaN()};
    return overridden;
}

}  // namespace

double APMSystemUptime() {
    if (const double overridden = uptimeOverride().load(); !std::isnan(overridden)) {
        return overridden;
    }
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) {
        return -1.0;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Declared for tests only, in tests/sdk/measurement/engine/APMUptimeTesting.h.
void TEST_APMSetSystemUptime(std::optional<double> seconds) {
    uptimeOverride().store(seconds.value_or(std::numeric_limits<double>::quiet_NaN()));
}
