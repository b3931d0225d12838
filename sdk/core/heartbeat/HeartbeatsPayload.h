#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sdk/core/heartbeat/Heartbeat.h"
#include "sdk/utilities/Date.h"
#include "sdk/utilities/Value.h"

namespace heartbeat {

// Something that can stand as the value of an HTTP request header.
class HTTPHeaderRepresentable {
  public:
    virtual ~HTTPHeaderRepresentable() = default;
    virtual std::string headerValue() const = 0;
};

// Stored heartbeats grouped by user agent, as they leave the device in the "X-razudizo-client"
// request header. An immutable value; any thread may use it.
struct HeartbeatsPayload final : HTTPHeaderRepresentable {
    // One user agent with the days (UTC midnights) it was seen on.
    struct UserAgentPayload {
        std::string agent;
        std::vector<sdk::Date> dates;
        bool operator==(const UserAgentPayload&) const = default;
    };

    static constexpr std::int64_t kVersion = 2;

    std::vector<UserAgentPayload> userAgentPayloads;  // sorted by agent
    std::int64_t version = kVersion;

    HeartbeatsPayload() = default;
    HeartbeatsPayload(std::vector<UserAgentPayload> entries, std::int64_t version)
        : userAgentPayloads(std::move(entries)), version(version) {}

    // The process-wide empty payload: no entries, version 2.
    static const HeartbeatsPayload& empty();

    // Groups `heartbeats` (in the order given) by agent: one entry per distinct agent holding
    // its dates in input order, entries sorted by agent in code-point order, version 2.
    static HeartbeatsPayload fromHeartbeats(const std::vector<Heartbeat>& heartbeats);

    // True when there are no entries; the version does not count.
    bool isEmpty() const { return userAgentPayloads.empty(); }

    // {"heartbeats":[{"agent":...,"dates":["yyyy-MM-dd",...]}],"version":2} as compact JSON
    // with "/" written as "\/". None when an agent is not valid UTF-8.
    std::optional<std::string> jsonString() const;

    // The web-safe Base64 (no padding) of the gzip of jsonString(); the uncompressed JSON when
    // compression fails, the empty payload's value when encoding fails. Never fails.
    std::string headerValue() const override;

    bool operator==(const HeartbeatsPayload& other) const {
        return userAgentPayloads == other.userAgentPayloads && version == other.version;
    }
};

// `date`'s UTC calendar day as "yyyy-MM-dd" in the proleptic Gregorian calendar; years outside
// 1..9999 are written as they are (with a sign, or with five digits), beyond the years the
// calendar can name they are held at its ends.
std::string heartbeatDateString(sdk::Date date);

// RFC 4648 Base64 with "+" as "-", "/" as "_" and no "=" padding.
std::string encodeBase64URL(const sdk::Bytes& data);

}  // namespace heartbeat
