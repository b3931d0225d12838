#include "sdk/measurement/attribution/APMPurchaseDateText.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

// Years 0001-9999 in seconds since 1970.
constexpr double kFirstSecond = -62135596800.0;
constexpr double kLastSecond = 253402300799.0;

// Reads `count` digits at `at`; no value when any is not a digit.
std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool hasAt(std::string_view text, std::size_t at, char c) {
    return at < text.size() && text[at] == c;
}

// The offset east of GMT in seconds of a "Z" or "+hh:mm" suffix starting at `at`.
std::optional<long> offsetSeconds(std::string_view text, std::size_t at) {
    if (text.size() == at + 1 && text[at] == 'Z') {
        return 0L;
    }
    if (text.size() != at + 6 || (text[at] != '+' && text[at] != '-') ||
        !hasAt(text, at + 3, ':')) {
        return std::nullopt;
    }
    const std::optional<int> hours = digits(text, at + 1, 2);
    const std::optional<int> minutes = digits(text, at + 4, 2);
    if (!hours || !minutes || *hours > 23 || *minutes > 59) {
        return std::nullopt;
    }
    const long offset = *hours * 3600L + *minutes * 60L;
    return text[at] == '-' ? -offset : offset;
}

}  // namespace

std::optional<std::string> APMPurchaseDateTextFromSeconds(std::optional<double> seconds) {
    if (!seconds || !std::isfinite(*seconds) || *seconds < kFirstSecond || *seconds > kLastSecond) {
        return std::nullopt;
    }
    const auto whole = static_cast<std::time_t>(std::floor(*seconds));
    std::tm parts{};
    if (gmtime_r(&whole, &parts) == nullptr) {
        return std::nullopt;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return std::string(text);
}

std::optional<double> APMPurchaseSecondsFromDateText(std::string_view text) {
    const auto year = digits(text, 0, 4);
    const auto month = digits(text, 5, 2);
    const auto day = digits(text, 8, 2);
    const auto hour = digits(text, 11, 2);
    const auto minute = digits(text, 14, 2);
    const auto second = digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || !hasAt(text, 4, '-') ||
        !hasAt(text, 7, '-') || !hasAt(text, 10, 'T') || !hasAt(text, 13, ':') ||
        !hasAt(text, 16, ':') || *year < 1 || *month < 1 || *month > 12 || *day < 1 || *hour > 23 ||
        *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    const std::optional<long> offset = offsetSeconds(text, 19);
    if (!offset) {
        return std::nullopt;
    }
    std::tm parts{};
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month - 1;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    parts.tm_sec = *second;
    const std::time_t utc = timegm(&parts);
    // timegm normalises: a day past the month's end ("02-30") comes back as another date.
    if (parts.tm_mday != *day || parts.tm_mon != *month - 1) {
        return std::nullopt;
    }
    return static_cast<double>(utc) - static_cast<double>(*offset);
}
