#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sdk/core/heartbeat/HeartbeatController.h"
#include "sdk/core/heartbeat/RZDHeartbeatsPayload.h"

// The heartbeat controller of one id as the SDK core holds it. Every operation may be called
// from any thread; the synchronous ones wait for the store's queue, so they must not be called
// from a completion of this controller.
class RZDHeartbeatController {
  public:
    // Wraps a controller over the shared store of `id` and the system clock.
    explicit RZDHeartbeatController(const std::string& id);

    // Wraps `controller` (a controller with a store and clock of the caller's choosing).
    explicit RZDHeartbeatController(std::shared_ptr<heartbeat::HeartbeatController> controller);

    // Stores a heartbeat of `agent` for today when one is due; returns at once.
    void log(const std::string& agent) { heartbeatController_->log(agent); }

    // Every stored heartbeat, taken out of the store.
    RZDHeartbeatsPayload flush() { return RZDHeartbeatsPayload(heartbeatController_->flush()); }

    // The same; `completion` runs once, on the store's queue.
    void flushAsyncWithCompletionHandler(std::function<void(RZDHeartbeatsPayload)> completion);

    // Puts the heartbeats of `payload` back into the store; returns at once.
    void restore(const RZDHeartbeatsPayload& payload) {
        heartbeatController_->restore(payload.heartbeatsPayload());
    }

    // Today's heartbeat alone, taken out of the store (an empty payload when there is none).
    RZDHeartbeatsPayload flushHeartbeatFromToday() {
        return RZDHeartbeatsPayload(heartbeatController_->flushHeartbeatFromToday());
    }

  private:
    const std::shared_ptr<heartbeat::HeartbeatController> heartbeatController_;
};
