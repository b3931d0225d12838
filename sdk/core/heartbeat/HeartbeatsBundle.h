#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "sdk/core/heartbeat/Heartbeat.h"
#include "sdk/core/heartbeat/HeartbeatsPayload.h"
#include "sdk/core/heartbeat/RingBuffer.h"

namespace heartbeat {

// What can be turned into a heartbeats payload.
class HeartbeatsPayloadConvertible {
  public:
    virtual ~HeartbeatsPayloadConvertible() = default;
    virtual HeartbeatsPayload makePayload() const = 0;
};

// The stored value of one heartbeat store: a ring of heartbeats and, per period, the date of
// the last heartbeat added for it (the distant past when there was none).
//
// Invariant: a bundle made here has as many ring slots as `capacity`; only a decoded one can
// differ. Every operation goes by the ring's own slot count, except `append`, which tests
// `capacity` and sizes the fresh bundle of its repair by it.
//
// A plain value; not thread-safe (the store uses it on its queue only).
class HeartbeatsBundle final : public HeartbeatsPayloadConvertible {
  public:
    using DateTable = std::map<TimePeriod, sdk::Date>;

    // The largest capacity a decoded bundle may claim: a repair allocates that many slots, so a
    // damaged file must not be able to ask for more.
    static constexpr std::int64_t kMaxDecodedCapacity = 4096;

    // `capacity` empty slots and every period at the distant past.
    explicit HeartbeatsBundle(std::int64_t capacity);

    // `capacity` empty slots and the given table.
    HeartbeatsBundle(std::int64_t capacity, DateTable lastAddedHeartbeatDates);

    std::int64_t capacity() const { return capacity_; }
    const DateTable& lastAddedHeartbeatDates() const { return lastAddedHeartbeatDates_; }
    const RingBuffer<Heartbeat>& buffer() const { return buffer_; }

    // Adds `heartbeat` to the ring and records its date for each of its periods. When the push
    // overwrote a heartbeat, periods last added on the overwritten heartbeat's date go back to
    // the distant past. A ring whose stored tail index is out of range is replaced by a fresh
    // bundle holding a diagnostic heartbeat ("<agent> error/<the ring's error, dashed>").
    // A capacity of 0 or less leaves the bundle unchanged.
    void append(const Heartbeat& heartbeat);

    // Takes out the newest heartbeat dated exactly `date` and returns it; none when there is
    // none. The other heartbeats keep their order; the date table is not changed.
    std::optional<Heartbeat> removeHeartbeatDated(sdk::Date date);

    // The ring's heartbeats in slot order, grouped by agent.
    HeartbeatsPayload makePayload() const override;

    // Compact JSON: {"capacity", "lastAddedHeartbeatDates" (flat [period, date, ...]), "buffer"}.
    // None when a value cannot be written (a non-finite date, an agent that is not UTF-8).
    std::optional<std::string> encode() const;

    // The inverse of encode(). None for malformed JSON, a missing key, a value of the wrong
    // type, an odd-length or unknown-period date table, or a capacity above
    // kMaxDecodedCapacity. A repeated period keeps its later date.
    static std::optional<HeartbeatsBundle> decode(const std::string& text);

    bool operator==(const HeartbeatsBundle& other) const {
        return capacity_ == other.capacity_ &&
               lastAddedHeartbeatDates_ == other.lastAddedHeartbeatDates_ &&
               buffer_ == other.buffer_;
    }

  private:
    HeartbeatsBundle(std::int64_t capacity, DateTable dates, RingBuffer<Heartbeat> buffer);
    void replaceWithDiagnostic(const Heartbeat& heartbeat, const RingBufferError& error);

    std::int64_t capacity_;
    DateTable lastAddedHeartbeatDates_;
    RingBuffer<Heartbeat> buffer_;
};

}  // namespace heartbeat
