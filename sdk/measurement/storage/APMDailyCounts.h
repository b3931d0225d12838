#pragma once

#include <cstdint>

// The day number of `now` (seconds since 1970) for an installation whose days begin
// `midnightOffset` seconds after UTC midnight: floor((now - midnightOffset) / 86400),
// saturating at the 32-bit range (NaN gives 0).
std::int32_t APMDayNumber(double now, double midnightOffset);

// The per-day event counters of the measurement database's app-metadata row. Every increment
// first moves to the given day (zeroing the counters when it differs) and saturates at
// INT32_MAX. A plain value; the engine uses it on its worker queue only.
class APMDailyCounts {
  public:
    APMDailyCounts(std::int32_t day, std::int32_t conversionsCount, std::int32_t allEventsCount,
                   std::int32_t publicEventsCount, std::int32_t errorEventsCount,
                   std::int32_t realtimeCount, std::int32_t dcuRealtimeCount);

    std::int32_t day() const { return day_; }
    std::int32_t conversionsCount() const { return conversionsCount_; }
    std::int32_t allEventsCount() const { return allEventsCount_; }
    std::int32_t publicEventsCount() const { return publicEventsCount_; }
    std::int32_t errorEventsCount() const { return errorEventsCount_; }
    std::int32_t realtimeCount() const { return realtimeCount_; }
    std::int32_t dcuRealtimeCount() const { return dcuRealtimeCount_; }

    // Counts one event (see the overload).
    void incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion);
    // Counts `effectiveEventCount` events: all events by the count, public events by the count
    // when public, conversions by one when a conversion. A negative count counts nothing.
    void incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion,
                                      std::int32_t effectiveEventCount);
    // One more event and one more error event.
    void incrementErrorEventsCountForCurrentDay(std::int32_t day);
    void incrementRealtimeCountsForCurrentDay(std::int32_t day);
    void incrementDCURealtimeCountsForCurrentDay(std::int32_t day);
    // One event fewer, never below 0.
    void decrementAllEventsCount();
    // `count` events fewer, never below 0 (a negative count changes nothing).
    void decrementAllEventsCount(std::int32_t count);
    // Sets the day and zeroes the six counters.
    void resetWithNewDay(std::int32_t day);

  private:
    void rollOverTo(std::int32_t day);

    std::int32_t day_;
    std::int32_t conversionsCount_;
    std::int32_t allEventsCount_;
    std::int32_t publicEventsCount_;
    std::int32_t errorEventsCount_;
    std::int32_t realtimeCount_;
    std::int32_t dcuRealtimeCount_;
};
