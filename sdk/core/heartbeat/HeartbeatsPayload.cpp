#include "sdk/core/heartbeat/HeartbeatsPayload.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "sdk/utilities/VDUGzip.h"

namespace heartbeat {

namespace {

// Days since 1970 of the day holding `date`, held within the years std::chrono can name (NaN
// counts as 1970).
std::chrono::sys_days utcDay(sdk::Date date) {
    using std::chrono::sys_days;
    constexpr auto kFirst = sys_days(std::chrono::year::min() / 1 / 1);
    constexpr auto kLast = sys_days(std::chrono::year::max() / 12 / 31);
    const double days = std::floor(date.timeIntervalSince1970() / 86400.0);
    if (std::isnan(days)) {
        return sys_days{};
    }
    const double clamped = std::clamp(days, static_cast<double>(kFirst.time_since_epoch().count()),
                                      static_cast<double>(kLast.time_since_epoch().count()));
    return sys_days(std::chrono::days(static_cast<std::int64_t>(clamped)));
}

}  // namespace

const HeartbeatsPayload& HeartbeatsPayload::empty() {
    static const HeartbeatsPayload& emptyPayload =
        *new HeartbeatsPayload();  // lives for the process
    return emptyPayload;
}

HeartbeatsPayload HeartbeatsPayload::fromHeartbeats(const std::vector<Heartbeat>& heartbeats) {
    // Byte order of UTF-8 is code-point order, the canonical order for the ASCII agents we make.
    std::map<std::string, std::vector<sdk::Date>> datesByAgent;
    for (const auto& heartbeat : heartbeats) {
        datesByAgent[heartbeat.agent].push_back(heartbeat.date);
    }
    std::vector<UserAgentPayload> entries;
    entries.reserve(datesByAgent.size());
    for (auto& [agent, dates] : datesByAgent) {
        entries.push_back({agent, std::move(dates)});
    }
    return HeartbeatsPayload(std::move(entries), kVersion);
}

std::optional<std::string> HeartbeatsPayload::jsonString() const {
    auto entries = nlohmann::json::array();
    for (const auto& entry : userAgentPayloads) {
        auto dates = nlohmann::json::array();
        for (const auto date : entry.dates) {
            dates.push_back(heartbeatDateString(date));
        }
        entries.push_back({{"agent", entry.agent}, {"dates", std::move(dates)}});
    }
    const nlohmann::json object{{"heartbeats", std::move(entries)}, {"version", version}};
    std::string text;
    try {
        text = object.dump();
    } catch (const nlohmann::json::type_error&) {
        return std::nullopt;  // an agent that is not valid UTF-8
    }
    // The platform encoder escapes "/"; nlohmann does not. Keys and numbers hold no "/", so
    // every "/" in the text is inside a string.
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '/') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::string HeartbeatsPayload::headerValue() const {
    auto json = jsonString();
    if (!json) {
        return empty().headerValue();
    }
    const sdk::Bytes bytes(json->begin(), json->end());
    const auto compressed = vdu_dataByGzippingData(bytes, nullptr);
    return encodeBase64URL(compressed ? *compressed : bytes);
}

std::string heartbeatDateString(sdk::Date date) {
    const std::chrono::year_month_day day(utcDay(date));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    return text;
}

std::string encodeBase64URL(const sdk::Bytes& data) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t n = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
        text += kAlphabet[n >> 18 & 63];
        text += kAlphabet[n >> 12 & 63];
        text += kAlphabet[n >> 6 & 63];
        text += kAlphabet[n & 63];
    }
    if (const std::size_t rest = data.size() - i; rest > 0) {
        const std::uint32_t n = data[i] << 16 | (rest == 2 ? data[i + 1] << 8 : 0);
        text += kAlphabet[n >> 18 & 63];
        text += kAlphabet[n >> 12 & 63];
        if (rest == 2) {
            text += kAlphabet[n >> 6 & 63];
        }
    }
    return text;
}

}  // namespace heartbeat
