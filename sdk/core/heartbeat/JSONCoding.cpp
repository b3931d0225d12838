#include "sdk/core/heartbeat/JSONCoding.h"

#include <cmath>
#include <limits>

namespace heartbeat::json {

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<std::int64_t> decodeInt64(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(n);
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    return std::nullopt;
}

std::optional<nlohmann::json> encodeDate(sdk::Date date) {
    const double seconds = date.timeIntervalSinceReferenceDate();
    if (!std::isfinite(seconds)) {
        return std::nullopt;
    }
    // 2^63 as a double; whole numbers below it in magnitude convert exactly.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::trunc(seconds) == seconds && std::fabs(seconds) < kLimit) {
        return nlohmann::json(static_cast<std::int64_t>(seconds));
    }
    return nlohmann::json(seconds);
}

std::optional<sdk::Date> decodeDate(const nlohmann::json& value) {
    if (!value.is_number()) {
        return std::nullopt;
    }
    const double seconds = value.get<double>();
    if (!std::isfinite(seconds)) {
        return std::nullopt;
    }
    return sdk::Date::fromTimeIntervalSinceReferenceDate(seconds);
}

}  // namespace heartbeat::json
