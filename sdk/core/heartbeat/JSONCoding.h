#pragma once

#include <cstdint>
#include <optional>

#include <nlohmann/json.hpp>

#include "sdk/core/heartbeat/RingBuffer.h"
#include "sdk/utilities/Date.h"

// The heartbeat store's JSON coding rules, shared by its types: every key is required, a value
// of another type fails the decode, and a date is a number of seconds since 2001-01-01 UTC.
namespace heartbeat::json {

// The member `key` of `object`; nullptr when `object` is not an object or lacks the key.
const nlohmann::json* member(const nlohmann::json& object, const char* key);

// A JSON integer within the signed 64-bit range; none for anything else (1.0 included).
std::optional<std::int64_t> decodeInt64(const nlohmann::json& value);

// A date as seconds since 2001-01-01 UTC, written as an integer when it is a whole number in
// the 64-bit range (as the platform encoder prints whole doubles) and as a double otherwise.
// None for a non-finite date, which JSON cannot hold.
std::optional<nlohmann::json> encodeDate(sdk::Date date);

// Any finite JSON number as seconds since 2001-01-01 UTC; none for anything else.
std::optional<sdk::Date> decodeDate(const nlohmann::json& value);

// {"circularQueue": [element or null per slot], "tailIndex": n}; none when an element does not
// encode (`encodeElement` returns std::optional<nlohmann::json>).
template <typename Element, typename EncodeElement>
std::optional<nlohmann::json> encodeRing(const RingBuffer<Element>& ring,
                                         EncodeElement encodeElement) {
    auto slots = nlohmann::json::array();
    for (const auto& slot : ring.circularQueue()) {
        if (!slot) {
            slots.push_back(nullptr);
            continue;
        }
        auto element = encodeElement(*slot);
        if (!element) {
            return std::nullopt;
        }
        slots.push_back(std::move(*element));
    }
    return nlohmann::json{{"circularQueue", std::move(slots)}, {"tailIndex", ring.tailIndex()}};
}

// The inverse of encodeRing; none when a key is missing, a value has the wrong type or an
// element does not decode. The tail index is taken as stored (see RingBuffer's invariants).
template <typename Element, typename DecodeElement>
std::optional<RingBuffer<Element>> decodeRing(const nlohmann::json& object,
                                              DecodeElement decodeElement) {
    const auto* slots = member(object, "circularQueue");
    const auto* tail = member(object, "tailIndex");
    const auto tailIndex = tail ? decodeInt64(*tail) : std::nullopt;
    if (slots == nullptr || !slots->is_array() || !tailIndex) {
        return std::nullopt;
    }
    typename RingBuffer<Element>::Slots decoded;
    decoded.reserve(slots->size());
    for (const auto& slot : *slots) {
        if (slot.is_null()) {
            decoded.emplace_back();
            continue;
        }
        auto element = decodeElement(slot);
        if (!element) {
            return std::nullopt;
        }
        decoded.emplace_back(std::move(*element));
    }
    return RingBuffer<Element>(std::move(decoded), *tailIndex);
}

}  // namespace heartbeat::json
