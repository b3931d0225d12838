#include "sdk/core/heartbeat/HeartbeatsBundle.h"

#include <algorithm>
#include <vector>

#include "sdk/core/heartbeat/JSONCoding.h"

namespace heartbeat {

namespace {

HeartbeatsBundle::DateTable defaultDates() {
    HeartbeatsBundle::DateTable table;
    for (const auto period : allTimePeriods()) {
        table[period] = kDistantPast;
    }
    return table;
}

std::size_t slotsFor(std::int64_t capacity) {
    return capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
}

std::optional<nlohmann::json> encodeDates(const HeartbeatsBundle::DateTable& table) {
    auto flat = nlohmann::json::array();
    for (const auto& [period, date] : table) {
        auto encoded = json::encodeDate(date);
        if (!encoded) {
            return std::nullopt;
        }
        flat.push_back(static_cast<std::int64_t>(period));
        flat.push_back(std::move(*encoded));
    }
    return flat;
}

std::optional<HeartbeatsBundle::DateTable> decodeDates(const nlohmann::json& flat) {
    if (!flat.is_array() || flat.size() % 2 != 0) {
        return std::nullopt;
    }
    HeartbeatsBundle::DateTable table;
    for (std::size_t i = 0; i < flat.size(); i += 2) {
        const auto raw = json::decodeInt64(flat[i]);
        const auto period = raw ? timePeriodFromRawValue(*raw) : std::nullopt;
        const auto date = json::decodeDate(flat[i + 1]);
        if (!period || !date) {
            return std::nullopt;
        }
        table[*period] = *date;
    }
    return table;
}

}  // namespace

HeartbeatsBundle::HeartbeatsBundle(std::int64_t capacity)
    : HeartbeatsBundle(capacity, defaultDates()) {}

HeartbeatsBundle::HeartbeatsBundle(std::int64_t capacity, DateTable lastAddedHeartbeatDates)
    : HeartbeatsBundle(capacity, std::move(lastAddedHeartbeatDates),
                       RingBuffer<Heartbeat>(slotsFor(capacity))) {}

HeartbeatsBundle::HeartbeatsBundle(std::int64_t capacity, DateTable dates,
                                   RingBuffer<Heartbeat> buffer)
    : capacity_(capacity), lastAddedHeartbeatDates_(std::move(dates)), buffer_(std::move(buffer)) {}

void HeartbeatsBundle::append(const Heartbeat& heartbeat) {
    if (capacity_ <= 0) {
        return;
    }
    auto pushed = buffer_.push(heartbeat);
    if (!pushed.ok()) {
        replaceWithDiagnostic(heartbeat, *pushed.error);
        return;
    }
    if (pushed.overwritten) {
        for (auto& [period, date] : lastAddedHeartbeatDates_) {
            if (date == pushed.overwritten->date) {
                date = kDistantPast;
            }
        }
    }
    for (const auto period : heartbeat.timePeriods) {
        lastAddedHeartbeatDates_[period] = heartbeat.date;
    }
}

void HeartbeatsBundle::replaceWithDiagnostic(const Heartbeat& heartbeat,
                                             const RingBufferError& error) {
    *this = HeartbeatsBundle(capacity_);
    std::string text = error.description();
    std::replace(text.begin(), text.end(), ' ', '-');
    const Heartbeat diagnostic{heartbeat.agent + " error/" + text, heartbeat.date, 0,
                               heartbeat.timePeriods};
    if (buffer_.push(diagnostic).ok()) {
        for (const auto period : diagnostic.timePeriods) {
            lastAddedHeartbeatDates_[period] = diagnostic.date;
        }
    }
}

std::optional<Heartbeat> HeartbeatsBundle::removeHeartbeatDated(sdk::Date date) {
    std::optional<Heartbeat> removed;
    std::vector<Heartbeat> setAside;
    while (auto popped = buffer_.pop()) {
        if (popped->date == date) {
            removed = std::move(popped);
            break;
        }
        setAside.push_back(std::move(*popped));
    }
    // Oldest first, so the survivors keep their order; a failed push drops that heartbeat.
    for (auto it = setAside.rbegin(); it != setAside.rend(); ++it) {
        (void)buffer_.push(std::move(*it));
    }
    return removed;
}

HeartbeatsPayload HeartbeatsBundle::makePayload() const {
    return HeartbeatsPayload::fromHeartbeats(
        std::vector<Heartbeat>(buffer_.begin(), buffer_.end()));
}

std::optional<std::string> HeartbeatsBundle::encode() const {
    auto dates = encodeDates(lastAddedHeartbeatDates_);
    auto ring = json::encodeRing(buffer_, encodeHeartbeat);
    if (!dates || !ring) {
        return std::nullopt;
    }
    const nlohmann::json object{{"capacity", capacity_},
                                {"lastAddedHeartbeatDates", std::move(*dates)},
                                {"buffer", std::move(*ring)}};
    try {
        return object.dump();
    } catch (const nlohmann::json::type_error&) {
        return std::nullopt;  // an agent that is not valid UTF-8
    }
}

std::optional<HeartbeatsBundle> HeartbeatsBundle::decode(const std::string& text) {
    const auto object = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    const auto* capacity = json::member(object, "capacity");
    const auto* dates = json::member(object, "lastAddedHeartbeatDates");
    const auto* buffer = json::member(object, "buffer");
    if (!capacity || !dates || !buffer) {
        return std::nullopt;
    }
    const auto decodedCapacity = json::decodeInt64(*capacity);
    auto decodedDates = decodeDates(*dates);
    auto decodedBuffer = json::decodeRing<Heartbeat>(*buffer, decodeHeartbeat);
    if (!decodedCapacity || *decodedCapacity > kMaxDecodedCapacity || !decodedDates ||
        !decodedBuffer) {
        return std::nullopt;
    }
    return HeartbeatsBundle(*decodedCapacity, std::move(*decodedDates), std::move(*decodedBuffer));
}

}  // namespace heartbeat
