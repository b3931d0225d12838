#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sdk/utilities/Date.h"

namespace heartbeat {

// The periods a heartbeat can be the first of; coded as the raw value.
enum class TimePeriod : std::int64_t { daily = 1 };

// The period with raw value `rawValue`; none for any value but 1.
std::optional<TimePeriod> timePeriodFromRawValue(std::int64_t rawValue);

// Every period (daily alone).
const std::vector<TimePeriod>& allTimePeriods();

// The period's length in seconds (86400 for daily).
double timePeriodLength(TimePeriod period);

// The calendar every heartbeat date passes through: days are UTC days, whatever the machine's
// time zone, so heartbeat dates compare as whole days.
class HeartbeatCalendar {
  public:
    // 00:00:00 UTC of the UTC day that holds `date` (the seconds since 1970 floored to a
    // multiple of 86400).
    sdk::Date startOfDay(sdk::Date date) const;
};

// The process-wide calendar, made once.
const HeartbeatCalendar& heartbeatCalendar();

// The platform's distant past, 0001-01-01 00:00:00 UTC: "no heartbeat yet" in the date tables.
inline constexpr sdk::Date kDistantPast =
    sdk::Date::fromTimeIntervalSinceReferenceDate(-63114076800.0);

// A record that the application ran on a UTC day under a user agent.
struct Heartbeat {
    std::string agent;                    // the user-agent text when it was logged
    sdk::Date date;                       // start of the UTC day it was logged on
    std::int64_t version = 0;             // format version; 0 for heartbeats made here
    std::vector<TimePeriod> timePeriods;  // the periods it is the first heartbeat of

    bool operator==(const Heartbeat&) const = default;
};

// {"agent", "date", "version", "timePeriods"} with the store's date form (seconds since 2001);
// none when the date is not finite.
std::optional<nlohmann::json> encodeHeartbeat(const Heartbeat& heartbeat);

// The inverse; none when a key is missing, a value has the wrong type or a period is unknown.
std::optional<Heartbeat> decodeHeartbeat(const nlohmann::json& object);

}  // namespace heartbeat
