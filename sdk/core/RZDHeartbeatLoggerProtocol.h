#pragma once

#include <functional>
#include <optional>
#include <string>

#include "sdk/core/heartbeat/RZDHeartbeatsPayload.h"

// The heartbeat service of one configured app, as its users (the installations client) hold it.
class RZDHeartbeatLoggerProtocol {
  public:
    virtual ~RZDHeartbeatLoggerProtocol() = default;

    // Stores a heartbeat for today when one is due; returns at once.
    virtual void log() = 0;

    // The "X-razudizo-client" header value of every stored heartbeat, which are taken out of
    // the store (each is sent once); none when nothing is stored. Waits for the store.
    virtual std::optional<std::string> headerValue() = 0;

    // The same; `completion` runs once, on the store's queue.
    virtual void asyncHeaderValueWithCompletionHandler(
        std::function<void(std::optional<std::string>)> completion) = 0;

    // Every stored heartbeat as a payload, taken out of the store.
    virtual RZDHeartbeatsPayload flushHeartbeatsIntoPayload() = 0;

    // The same; `completion` runs once, on the store's queue.
    virtual void flushHeartbeatsIntoPayloadWithCompletionHandler(
        std::function<void(RZDHeartbeatsPayload)> completion) = 0;

    // Puts back the heartbeats of `payload`, taken out for a request that then failed, so that
    // a later request carries them; returns at once.
    virtual void restoreHeartbeatsFromPayload(const RZDHeartbeatsPayload& payload) = 0;

    // Takes today's heartbeat out of the store: 2 when there was one, else 0.
    virtual int heartbeatCodeForToday() = 0;
};
