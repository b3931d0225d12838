#include "sdk/core/heartbeat/Heartbeat.h"

#include <cmath>

#include "sdk/core/heartbeat/JSONCoding.h"

namespace heartbeat {

std::optional<TimePeriod> timePeriodFromRawValue(std::int64_t rawValue) {
    if (rawValue == static_cast<std::int64_t>(TimePeriod::daily)) {
        return TimePeriod::daily;
    }
    return std::nullopt;
}

const std::vector<TimePeriod>& allTimePeriods() {
    static const std::vector<TimePeriod>& periods =
        *new std::vector<TimePeriod>{TimePeriod::daily};  // lives for the process
    return periods;
}

double timePeriodLength(TimePeriod period) {
    switch (period) {
        case TimePeriod::daily:
            return 86400.0;
    }
    return 86400.0;
}

sdk::Date HeartbeatCalendar::startOfDay(sdk::Date date) const {
    constexpr double kDay = 86400.0;
    return sdk::Date::fromTimeIntervalSince1970(std::floor(date.timeIntervalSince1970() / kDay) *
                                                kDay);
}

const HeartbeatCalendar& heartbeatCalendar() {
    static const HeartbeatCalendar& calendar = *new HeartbeatCalendar();  // lives for the process
    return calendar;
}

std::optional<nlohmann::json> encodeHeartbeat(const Heartbeat& heartbeat) {
    auto date = json::encodeDate(heartbeat.date);
    if (!date) {
        return std::nullopt;
    }
    auto periods = nlohmann::json::array();
    for (const auto period : heartbeat.timePeriods) {
        periods.push_back(static_cast<std::int64_t>(period));
    }
    return nlohmann::json{{"agent", heartbeat.agent},
                          {"date", std::move(*date)},
                          {"version", heartbeat.version},
                          {"timePeriods", std::move(periods)}};
}

std::optional<Heartbeat> decodeHeartbeat(const nlohmann::json& object) {
    const auto* agent = json::member(object, "agent");
    const auto* date = json::member(object, "date");
    const auto* version = json::member(object, "version");
    const auto* periods = json::member(object, "timePeriods");
    if (!agent || !date || !version || !periods || !agent->is_string() || !periods->is_array()) {
        return std::nullopt;
    }
    Heartbeat heartbeat;
    heartbeat.agent = agent->get<std::string>();
    const auto decodedDate = json::decodeDate(*date);
    const auto decodedVersion = json::decodeInt64(*version);
    if (!decodedDate || !decodedVersion) {
        return std::nullopt;
    }
    heartbeat.date = *decodedDate;
    heartbeat.version = *decodedVersion;
    for (const auto& raw : *periods) {
        const auto value = json::decodeInt64(raw);
        const auto period = value ? timePeriodFromRawValue(*value) : std::nullopt;
        if (!period) {
            return std::nullopt;
        }
        heartbeat.timePeriods.push_back(*period);
    }
    return heartbeat;
}

}  // namespace heartbeat
