#include "sdk/core/RZDHeartbeatLogger.h"

#include "sdk/core/ZEDOre.h"

std::optional<std::string> RZDHeaderValueForPayload(const RZDHeartbeatsPayload& payload) {
    if (payload.isEmpty()) {
        return std::nullopt;
    }
    return payload.headerValue();
}

RZDHeartbeatLogger::RZDHeartbeatLogger(const std::string& appID)
    : RZDHeartbeatLogger(appID, currentUserAgentProvider()) {}

RZDHeartbeatLogger::RZDHeartbeatLogger(const std::string& appID,
                                       UserAgentProvider userAgentProvider)
    : RZDHeartbeatLogger(std::make_shared<RZDHeartbeatController>(appID),
                         std::move(userAgentProvider)) {}

RZDHeartbeatLogger::RZDHeartbeatLogger(std::shared_ptr<RZDHeartbeatController> heartbeatController,
                                       UserAgentProvider userAgentProvider)
    : heartbeatController_(std::move(heartbeatController)),
      userAgentProvider_(std::move(userAgentProvider)) {}

RZDHeartbeatLogger::UserAgentProvider RZDHeartbeatLogger::currentUserAgentProvider() {
    return [] { return ZEDOre::razudizoUserAgent(); };
}

void RZDHeartbeatLogger::log() {
    heartbeatController_->log(userAgentProvider_());
}

std::optional<std::string> RZDHeartbeatLogger::headerValue() {
    return RZDHeaderValueForPayload(flushHeartbeatsIntoPayload());
}

void RZDHeartbeatLogger::asyncHeaderValueWithCompletionHandler(
    std::function<void(std::optional<std::string>)> completion) {
    flushHeartbeatsIntoPayloadWithCompletionHandler(
        [completion = std::move(completion)](RZDHeartbeatsPayload payload) {
            completion(RZDHeaderValueForPayload(payload));
        });
}

void RZDHeartbeatLogger::restoreHeartbeatsFromPayload(const RZDHeartbeatsPayload& payload) {
    heartbeatController_->restore(payload);
}

RZDHeartbeatsPayload RZDHeartbeatLogger::flushHeartbeatsIntoPayload() {
    return heartbeatController_->flush();
}

void RZDHeartbeatLogger::flushHeartbeatsIntoPayloadWithCompletionHandler(
    std::function<void(RZDHeartbeatsPayload)> completion) {
    heartbeatController_->flushAsyncWithCompletionHandler(std::move(completion));
}

int RZDHeartbeatLogger::heartbeatCodeForToday() {
    return heartbeatController_->flushHeartbeatFromToday().isEmpty() ? 0 : 2;
}
