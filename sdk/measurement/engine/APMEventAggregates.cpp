#include "sdk/measurement/engine/APMEventAggregates.h"

#include <limits>

#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace {

void increment(std::int32_t& count, std::int64_t code, const char* message) {
    if (count == std::numeric_limits<std::int32_t>::max()) {
        count = 0;
        APMMonitor::shared().logWithLevel(5, code, message);
        return;
    }
    ++count;
}

}  // namespace

std::optional<APMEventAggregates> APMEventAggregates::initWithName(std::string_view name,
                                                                   std::int32_t lifetimeCount,
                                                                   std::int32_t currentBundleCount,
                                                                   std::int32_t currentSessionCount,
                                                                   double lastFireTimestamp) {
    if (!APMDataTypeValidator::isValidInternalEventName(name, nullptr))
        return std::nullopt;
    if (lifetimeCount < 0 || currentBundleCount < 0 || currentSessionCount < 0) {
        APMMonitor::shared().logWithLevel(
            5, 17000, "Failed to create event aggregates object. Received negative count.");
        return std::nullopt;
    }
    return APMEventAggregates(std::string(name), lifetimeCount, currentBundleCount,
                              currentSessionCount, lastFireTimestamp);
}

void APMEventAggregates::incrementLifetimeCount() {
    increment(lifetimeCount_, 17001, "Lifetime count overflow. Lifetime count reset to 0.");
}

void APMEventAggregates::incrementCurrentBundleCount() {
    increment(currentBundleCount_, 17002, "Bundle count overflow. Bundle count reset to 0.");
}

void APMEventAggregates::incrementCurrentSessionCount() {
    increment(currentSessionCount_, 17003, "Session count overflow. Session count reset to 0.");
}
