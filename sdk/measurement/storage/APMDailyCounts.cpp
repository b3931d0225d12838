#include "sdk/measurement/storage/APMDailyCounts.h"

#include <cmath>
#include <limits>

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr double kSecondsPerDay = 86400.0;

void addSaturating(std::int32_t& count, std::int32_t amount) {
    if (amount <= 0) {
        return;
    }
    count = count > kMax - amount ? kMax : count + amount;
}

}  // namespace

std::int32_t APMDayNumber(double now, double midnightOffset) {
    const double day = std::floor((now - midnightOffset) / kSecondsPerDay);
    if (std::isnan(day)) {
        return 0;
    }
    if (day >= static_cast<double>(kMax)) {
        return kMax;
    }
    if (day <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(day);
}

APMDailyCounts::APMDailyCounts(std::int32_t day, std::int32_t conversionsCount,
                               std::int32_t allEventsCount, std::int32_t publicEventsCount,
                               std::int32_t errorEventsCount, std::int32_t realtimeCount,
                               std::int32_t dcuRealtimeCount)
    : day_(day),
      conversionsCount_(conversionsCount),
      allEventsCount_(allEventsCount),
      publicEventsCount_(publicEventsCount),
      errorEventsCount_(errorEventsCount),
      realtimeCount_(realtimeCount),
      dcuRealtimeCount_(dcuRealtimeCount) {}

void APMDailyCounts::incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent,
                                                  bool isConversion) {
    incrementCountsForCurrentDay(day, isPublicEvent, isConversion, 1);
}

void APMDailyCounts::incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent,
                                                  bool isConversion,
                                                  std::int32_t effectiveEventCount) {
    rollOverTo(day);
    if (isConversion) {
        addSaturating(conversionsCount_, 1);
    }
    addSaturating(allEventsCount_, effectiveEventCount);
    if (isPublicEvent) {
        addSaturating(publicEventsCount_, effectiveEventCount);
    }
}

void APMDailyCounts::incrementErrorEventsCountForCurrentDay(std::int32_t day) {
    rollOverTo(day);
    addSaturating(allEventsCount_, 1);
    addSaturating(errorEventsCount_, 1);
}

void APMDailyCounts::incrementRealtimeCountsForCurrentDay(std::int32_t day) {
    rollOverTo(day);
    addSaturating(realtimeCount_, 1);
}

void APMDailyCounts::incrementDCURealtimeCountsForCurrentDay(std::int32_t day) {
    rollOverTo(day);
    addSaturating(dcuRealtimeCount_, 1);
}

void APMDailyCounts::decrementAllEventsCount() {
    if (allEventsCount_ > 0) {
        --allEventsCount_;
    }
}

void APMDailyCounts::decrementAllEventsCount(std::int32_t count) {
    if (count > 0 && allEventsCount_ > 0) {
        allEventsCount_ = allEventsCount_ > count ? allEventsCount_ - count : 0;
    }
}

void APMDailyCounts::resetWithNewDay(std::int32_t day) {
    day_ = day;
    conversionsCount_ = 0;
    allEventsCount_ = 0;
    publicEventsCount_ = 0;
    errorEventsCount_ = 0;
    realtimeCount_ = 0;
    dcuRealtimeCount_ = 0;
}

void APMDailyCounts::rollOverTo(std::int32_t day) {
    if (day != day_) {
        resetWithNewDay(day);
    }
}
