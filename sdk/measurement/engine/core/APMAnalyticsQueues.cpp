#include <chrono>

#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMAnalyticsState.h"

APMAnalyticsState& APMAnalyticsState::shared() {
    static APMAnalyticsState* const state = new APMAnalyticsState();  // lives for the process
    return *state;
}

const platform::QueueRef& APMAnalytics::queue() {
    static const platform::QueueRef& serialQueue = *new platform::QueueRef(
        platform::DispatchQueue::createSerial("APMAnalyticsQueue"));  // lives for the process
    return serialQueue;
}

void APMAnalytics::dispatchAsyncOnSerialQueue(platform::Block block) {
    queue()->async(std::move(block));
}

bool APMAnalytics::isCurrentQueueSerialQueue() {
    return queue()->isCurrent();
}

void APMAnalytics::queueOperationWithBlock(platform::Block block) {
    APMAnalyticsState::shared().operationQueue->addOperation(
        [block = std::move(block)]() mutable { dispatchAsyncOnSerialQueue(std::move(block)); });
}

void APMAnalytics::queueOperationWithBlockThenWait(platform::Block block) {
    const std::shared_ptr<platform::OperationQueue>& operations =
        APMAnalyticsState::shared().operationQueue;
    queueOperationWithBlock(std::move(block));
    if (operations->isSuspended()) {
        return;
    }
    operations->waitUntilAllOperationsAreFinished();
    operations->setSuspended(true);
    queue()->after(std::chrono::milliseconds(500), [] { unsuspendOperationQueue(); });
}

void APMAnalytics::unsuspendOperationQueue() {
    APMAnalyticsState::shared().operationQueue->setSuspended(false);
}

void APMAnalytics::TEST_waitForQueuedWork() {
    APMAnalyticsState::shared().operationQueue->waitUntilAllOperationsAreFinished();
    queue()->sync([] {});
}
