#pragma once

#include <compare>

namespace sdk {

// A point in time on the wall clock, held as seconds since 1970-01-01 00:00:00 UTC (fractions
// allowed, negative before 1970), like a Foundation date. Used for values and plists; timers
// use the monotonic clock of platform/dispatch instead.
class Date {
  public:
    // Seconds between 1970-01-01 and 2001-01-01 (UTC), the reference date of Foundation dates
    // and of dates in property lists.
    static constexpr double kReferenceDateOffset = 978307200.0;

    // Makes 1970-01-01 00:00:00 UTC.
    constexpr Date() = default;

    // The current time.
    static Date now();

    static constexpr Date fromTimeIntervalSince1970(double seconds) { return Date(seconds); }
    static constexpr Date fromTimeIntervalSinceReferenceDate(double seconds) {
        return Date(seconds + kReferenceDateOffset);
    }

    constexpr double timeIntervalSince1970() const { return seconds_; }
    constexpr double timeIntervalSinceReferenceDate() const {
        return seconds_ - kReferenceDateOffset;
    }

    friend constexpr auto operator<=>(const Date&, const Date&) = default;

  private:
    constexpr explicit Date(double seconds) : seconds_(seconds) {}

    double seconds_ = 0;
};

}  // namespace sdk
