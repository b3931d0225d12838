#include "sdk/measurement/storage/APMRemoteConfigNumber.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of the run of digits at `at`.
std::size_t digitsAt(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
    }
    return end - at;
}

}  // namespace

std::optional<sdk::Value> APMRemoteConfigNumberFromText(std::string_view text) {
    std::size_t at = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        at = 1;
    }
    const std::size_t whole = digitsAt(text, at);
    if (whole == 0) {
        return std::nullopt;
    }
    std::size_t end = at + whole;
    bool fraction = false;
    if (end < text.size() && text[end] == '.') {
        const std::size_t digits = digitsAt(text, end + 1);
        if (digits == 0) {
            return std::nullopt;
        }
        end += 1 + digits;
        fraction = true;
    }
    if (end != text.size()) {
        return std::nullopt;
    }
    // from_chars takes no "+", and reads the same whatever the locale says.
    const std::string_view body = text.substr(text[0] == '+' ? 1 : 0);
    if (!fraction) {
        std::int64_t integer = 0;
        const auto [ptr, status] = std::from_chars(body.data(), body.data() + body.size(), integer);
        if (status == std::errc() && ptr == body.data() + body.size()) {
            return sdk::Value(integer);
        }
    }
    double number = 0;
    const auto [ptr, status] = std::from_chars(body.data(), body.data() + body.size(), number);
    if (status != std::errc() || ptr != body.data() + body.size() || !std::isfinite(number)) {
        return std::nullopt;
    }
    return sdk::Value(number);
}

std::optional<int> APMRemoteConfigCompareNumbers(const sdk::Value& a, const sdk::Value& b) {
    if (!a.isNumber() || !b.isNumber()) {
        return std::nullopt;
    }
    if (!a.isDouble() && !b.isDouble()) {
        const std::int64_t x = *a.numberAsInt();
        const std::int64_t y = *b.numberAsInt();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const double x = *a.numberAsDouble();
    const double y = *b.numberAsDouble();
    if (std::isnan(x) || std::isnan(y)) {
        return std::nullopt;
    }
    return x < y ? -1 : (x > y ? 1 : 0);
}

std::int32_t APMRemoteConfigInt32(const sdk::Value& number) {
    const std::int64_t value = number.numberAsInt().value_or(0);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::optional<std::string> APMRemoteConfigNumberString(const sdk::Value& number) {
    if (number.isBool()) {
        return *number.boolValue() ? "1" : "0";
    }
    if (number.isInt()) {
        return std::to_string(*number.intValue());
    }
    if (number.isDouble()) {
        char buffer[32];
        const auto [end, status] =
            std::to_chars(buffer, buffer + sizeof buffer, *number.doubleValue());
        if (status == std::errc()) {
            return std::string(buffer, end);
        }
    }
    return std::nullopt;
}
