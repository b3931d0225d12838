#include "sdk/core/heartbeat/RZDHeartbeatController.h"

RZDHeartbeatController::RZDHeartbeatController(const std::string& id)
    : RZDHeartbeatController(std::make_shared<heartbeat::HeartbeatController>(id)) {}

RZDHeartbeatController::RZDHeartbeatController(
    std::shared_ptr<heartbeat::HeartbeatController> controller)
    : heartbeatController_(std::move(controller)) {}

void RZDHeartbeatController::flushAsyncWithCompletionHandler(
    std::function<void(RZDHeartbeatsPayload)> completion) {
    heartbeatController_->flushAsync(
        [completion = std::move(completion)](heartbeat::HeartbeatsPayload payload) {
            completion(RZDHeartbeatsPayload(std::move(payload)));
        });
}
