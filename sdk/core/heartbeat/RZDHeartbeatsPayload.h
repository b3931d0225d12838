#pragma once

#include <string>

#include "sdk/core/heartbeat/HeartbeatsPayload.h"

// A heartbeats payload as the SDK core passes it around: made from a payload, never changed.
class RZDHeartbeatsPayload {
  public:
    explicit RZDHeartbeatsPayload(heartbeat::HeartbeatsPayload payload)
        : heartbeatsPayload_(std::move(payload)) {}

    // The payload's header value; the empty payload has one too (see RZDHeaderValueForPayload).
    std::string headerValue() const { return heartbeatsPayload_.headerValue(); }

    // True when the payload has no user-agent entries (its version does not count).
    bool isEmpty() const { return heartbeatsPayload_.isEmpty(); }

    const heartbeat::HeartbeatsPayload& heartbeatsPayload() const { return heartbeatsPayload_; }

  private:
    const heartbeat::HeartbeatsPayload heartbeatsPayload_;
};
