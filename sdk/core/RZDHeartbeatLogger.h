#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sdk/core/RZDHeartbeatLoggerProtocol.h"
#include "sdk/core/heartbeat/RZDHeartbeatController.h"
#include "sdk/core/heartbeat/RZDHeartbeatsPayload.h"

// The header value of `payload`: none for an empty payload, so a request never carries a
// header without heartbeats.
std::optional<std::string> RZDHeaderValueForPayload(const RZDHeartbeatsPayload& payload);

// The heartbeat service of one configured app (one per app, made by ZEDOre with the app's
// Vovidu app ID). Loggers of one app ID share one store and so see the same heartbeats.
//
// No operation reports a failure: a store that fails while draining gives an empty payload,
// and so no header value. Every operation may be called from any thread; the synchronous ones
// wait for the store's serial queue and must not be called from one of its completions.
class RZDHeartbeatLogger final : public RZDHeartbeatLoggerProtocol {
  public:
    // Returns the user-agent text a heartbeat carries; called at every `log`.
    using UserAgentProvider = std::function<std::string()>;

    // A logger for `appID` with currentUserAgentProvider().
    explicit RZDHeartbeatLogger(const std::string& appID);

    // A logger for `appID` whose heartbeats carry what `userAgentProvider` returns.
    RZDHeartbeatLogger(const std::string& appID, UserAgentProvider userAgentProvider);

    // A logger over `heartbeatController` (its store and clock chosen by the caller).
    RZDHeartbeatLogger(std::shared_ptr<RZDHeartbeatController> heartbeatController,
                       UserAgentProvider userAgentProvider);

    // The process-wide provider: the SDK's shared user-agent string, built anew at each call.
    static UserAgentProvider currentUserAgentProvider();

    void log() override;
    std::optional<std::string> headerValue() override;
    void asyncHeaderValueWithCompletionHandler(
        std::function<void(std::optional<std::string>)> completion) override;
    RZDHeartbeatsPayload flushHeartbeatsIntoPayload() override;
    void flushHeartbeatsIntoPayloadWithCompletionHandler(
        std::function<void(RZDHeartbeatsPayload)> completion) override;
    void restoreHeartbeatsFromPayload(const RZDHeartbeatsPayload& payload) override;
    int heartbeatCodeForToday() override;

    const std::shared_ptr<RZDHeartbeatController>& heartbeatController() const {
        return heartbeatController_;
    }
    const UserAgentProvider& userAgentProvider() const { return userAgentProvider_; }

  private:
    const std::shared_ptr<RZDHeartbeatController> heartbeatController_;
    const UserAgentProvider userAgentProvider_;
};
