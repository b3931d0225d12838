#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sdk/utilities/Date.h"

// A point in time as whole seconds since 1970-01-01T00:00:00Z and nanoseconds within that
// second, from 0001-01-01T00:00:00Z to 9999-12-31T23:59:59.999999999Z. An immutable value.
class RZDTimestamp {
  public:
    static constexpr std::int64_t kMinSeconds = -62135596800;  // 0001-01-01T00:00:00Z
    static constexpr std::int64_t kMaxSeconds = 253402300799;  // 9999-12-31T23:59:59Z

    // REQUIRES: 0 <= nanoseconds < 1e9 and kMinSeconds <= seconds <= kMaxSeconds; otherwise
    // raises RZDException named "Invalid timestamp" ("Timestamp nanoseconds out of range: %d",
    // then "Timestamp seconds out of range: %lld").
    RZDTimestamp(std::int64_t seconds, std::int32_t nanoseconds);
    static RZDTimestamp timestampWithSeconds(std::int64_t seconds, std::int32_t nanoseconds) {
        return RZDTimestamp(seconds, nanoseconds);
    }

    // The timestamp of `date`: the whole seconds below it and the nanoseconds above them
    // (-1.5 s gives -2 s and 500000000 ns). A date outside the range raises as the constructor
    // does (NaN counts as 0).
    static RZDTimestamp timestampWithDate(sdk::Date date);

    // The current time.
    static RZDTimestamp timestamp();

    std::int64_t seconds() const { return seconds_; }
    std::int32_t nanoseconds() const { return nanoseconds_; }

    // seconds + nanoseconds / 1e9 since 1970.
    sdk::Date dateValue() const;

    // By seconds, then nanoseconds: -1 when this is earlier, 0 when equal, 1 when later.
    int compare(const RZDTimestamp& other) const;
    bool isEqualToTimestamp(const RZDTimestamp& other) const { return compare(other) == 0; }
    bool operator==(const RZDTimestamp& other) const { return isEqualToTimestamp(other); }

    // seconds ^ (seconds >> 32) ^ nanoseconds.
    std::size_t hash() const;

    // "<RZDTimestamp: seconds=<s> nanoseconds=<ns>>".
    std::string description() const;

    // "yyyy-MM-ddTHH:mm:ss.nnnnnnnnnZ" in UTC, whatever the time zone and locale.
    std::string ISO8601String() const;

  private:
    std::int64_t seconds_;
    std::int32_t nanoseconds_;
};
