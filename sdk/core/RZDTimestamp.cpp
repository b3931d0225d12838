#include "sdk/core/RZDTimestamp.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "sdk/core/RZDException.h"
#include "sdk/utilities/FormatString.h"

namespace {

constexpr const char* kInvalidTimestamp = "Invalid timestamp";

// Truncates toward zero, saturating at the int64 range; NaN gives 0.
std::int64_t saturatingInt64(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 9223372036854775807.0) {
        return INT64_MAX;
    }
    if (value <= -9223372036854775808.0) {
        return INT64_MIN;
    }
    return static_cast<std::int64_t>(value);
}

}  // namespace

RZDTimestamp::RZDTimestamp(std::int64_t seconds, std::int32_t nanoseconds)
    : seconds_(seconds), nanoseconds_(nanoseconds) {
    if (nanoseconds < 0 || nanoseconds >= 1000000000) {
        throw RZDException(kInvalidTimestamp,
                           sdk::formatString("Timestamp nanoseconds out of range: %d",
                                             {{sdk::FormatArg(nanoseconds)}}));
    }
    if (seconds < kMinSeconds || seconds > kMaxSeconds) {
        throw RZDException(
            kInvalidTimestamp,
            sdk::formatString("Timestamp seconds out of range: %lld", {{sdk::FormatArg(seconds)}}));
    }
}

RZDTimestamp RZDTimestamp::timestampWithDate(sdk::Date date) {
    const double since1970 = date.timeIntervalSince1970();
    double whole = 0;
    double fraction = std::modf(since1970, &whole);
    if (fraction < 0) {
        whole -= 1;
        fraction += 1.0;
    }
    // A fraction just below 1 may round up to a full second of nanoseconds.
    const auto nanoseconds = static_cast<std::int32_t>(std::min(fraction * 1e9, 999999999.0));
    return RZDTimestamp(saturatingInt64(whole), std::isnan(fraction) ? 0 : nanoseconds);
}

RZDTimestamp RZDTimestamp::timestamp() {
    return timestampWithDate(sdk::Date::now());
}

sdk::Date RZDTimestamp::dateValue() const {
    return sdk::Date::fromTimeIntervalSince1970(static_cast<double>(seconds_) +
                                                static_cast<double>(nanoseconds_) / 1e9);
}

int RZDTimestamp::compare(const RZDTimestamp& other) const {
    if (seconds_ != other.seconds_) {
        return seconds_ < other.seconds_ ? -1 : 1;
    }
    if (nanoseconds_ != other.nanoseconds_) {
        return nanoseconds_ < other.nanoseconds_ ? -1 : 1;
    }
    return 0;
}

std::size_t RZDTimestamp::hash() const {
    return static_cast<std::size_t>(seconds_ ^ (seconds_ >> 32) ^
                                    static_cast<std::int64_t>(nanoseconds_));
}

std::string RZDTimestamp::description() const {
    return sdk::formatString("<RZDTimestamp: seconds=%lld nanoseconds=%d>",
                             {{sdk::FormatArg(seconds_), sdk::FormatArg(nanoseconds_)}});
}

std::string RZDTimestamp::ISO8601String() const {
    namespace chrono = std::chrono;
    const chrono::sys_seconds point{chrono::seconds{seconds_}};
    const chrono::sys_days day = chrono::floor<chrono::days>(point);
    const chrono::year_month_day date{day};
    const chrono::hh_mm_ss<chrono::seconds> time{point - day};
    char text[32];
    const int length = std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()));
    const std::string formatted(text, length > 0 ? static_cast<size_t>(length) : 0);
    if (formatted.size() != 19) {
        throw RZDException("Invalid ISO string", "Invalid ISO string: " + formatted);
    }
    return sdk::formatString("%@.%09dZ",
                             {{sdk::FormatArg(formatted), sdk::FormatArg(nanoseconds_)}});
}
