#include "sdk/measurement/engine/APMDeepLink.h"

#include <cmath>
#include <limits>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/utilities/Date.h"

void APMStoreDeepLink(APMUserDefaults& defaults, std::string_view url) {
    defaults.setObject(sdk::Value(url), kAPMDeepLinkKey);
    defaults.setDouble(APMCurrentTimeInterval(), kAPMDeepLinkTimestampKey);
}

void APMClearStoredDeepLink(APMUserDefaults& defaults) {
    defaults.removeObjectForKey(kAPMDeepLinkKey);
    defaults.removeObjectForKey(kAPMDeepLinkTimestampKey);
}

bool APMIsStoredDeepLinkExpired(APMUserDefaults& defaults, double ttlSeconds) {
    const std::optional<sdk::Value> stored = defaults.numberForKey(kAPMDeepLinkTimestampKey);
    if (!stored) {
        return false;
    }
    const double timestamp = stored->numberAsDouble().value_or(0);
    return std::fabs(APMCurrentTimeInterval() - timestamp) > ttlSeconds;
}

bool APMClearExpiredStoredDeepLink(APMUserDefaults& defaults, double attributionCacheTTLSeconds) {
    if (!APMIsStoredDeepLinkExpired(defaults, attributionCacheTTLSeconds)) {
        return false;
    }
    APMClearStoredDeepLink(defaults);
    return true;
}

std::int64_t APMPreviousHourStartMillis(std::int64_t millis) {
    constexpr std::int64_t kHour = 3'600'000;
    const std::int64_t hourStart = millis / kHour * kHour;
    // Only the very first hours of the int64 range could go below it.
    return hourStart < std::numeric_limits<std::int64_t>::min() + kHour ? hourStart
                                                                        : hourStart - kHour;
}
