#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sdk/core/heartbeat/HeartbeatStorage.h"
#include "sdk/core/heartbeat/HeartbeatsPayload.h"
#include "sdk/utilities/Date.h"

namespace heartbeat {

// Decides whether a heartbeat is due, appends it to the stored bundle, and drains the store
// into payloads: at most one heartbeat per period and UTC day, the first agent of the day wins.
// The table of last-added dates survives a flush, so a log later the same day adds nothing.
//
// The controller holds no state beyond its store and clock; every read and write runs inside
// the store's transforms on its serial queue, so operations issued one after another from one
// thread take effect in that order. The clock is read on the caller's thread.
class HeartbeatController {
  public:
    // The number of heartbeats a bundle holds.
    static constexpr std::int64_t kCapacity = 30;

    using Clock = std::function<sdk::Date()>;

    // The shared store of `id` and the system clock.
    explicit HeartbeatController(const std::string& id);

    // `storage` and `clock`; the controller keeps the clock wrapped so that it yields the start
    // of the UTC day of each reading.
    HeartbeatController(std::shared_ptr<HeartbeatStorageProtocol> storage, Clock clock);

    // Stores a heartbeat of `agent` for today when one is due. Returns at once.
    void log(const std::string& agent);

    // Takes every stored heartbeat out of the store and returns them (the empty payload when
    // nothing is stored or the store fails). REQUIRES: not called from the store's queue.
    HeartbeatsPayload flush();

    // The same, asynchronously: `completion` runs once, on the store's queue.
    void flushAsync(std::function<void(HeartbeatsPayload)> completion);

    // Puts the heartbeats of `payload` (taken out by a flush whose request then failed) back
    // into the store, each one not already there, as daily heartbeats. Returns at once.
    void restore(const HeartbeatsPayload& payload);

    // Takes today's heartbeat (if any) out of the store and returns a payload holding only it;
    // the empty payload when there is none. REQUIRES: not called from the store's queue.
    HeartbeatsPayload flushHeartbeatFromToday();

  private:
    static std::optional<HeartbeatsBundle> resetBundle(std::optional<HeartbeatsBundle> old);
    static HeartbeatsPayload payloadOfSwap(const SwapResult& result);

    const std::shared_ptr<HeartbeatStorageProtocol> storage_;
    const Clock dateProvider_;
};

}  // namespace heartbeat
