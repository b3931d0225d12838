#include "sdk/measurement/engine/APMScheduler.h"

#include <memory>

#include "platform/dispatch/MainQueue.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace {

constexpr std::int64_t kLevelError = 1;
constexpr std::int64_t kLevelWarning = 4;

// Runs `block`, reporting an escaping exception with `code`. Returns false when it threw.
bool runReportingExceptions(const std::function<void()>& block, std::int64_t code,
                            std::string_view message, std::string_view blockID) {
    try {
        block();
        return true;
    } catch (...) {
        APMMonitor::shared().logWithLevel(
            kLevelError, code, std::string(message) + std::string(blockID) + ". Exception",
            APMCaughtException::current());
        return false;
    }
}

}  // namespace

APMScheduler::APMScheduler(std::string workerQueueLabel)
    : workerQueue_(platform::DispatchQueue::createSerial(std::move(workerQueueLabel))) {}

void APMScheduler::scheduleOnWorkerQueue(std::string_view blockID, std::function<void()> block) {
    if (!block) {
        APMMonitor::shared().logWithLevel(
            kLevelError, 30005,
            "Nil block dispatched asynchronously on worker queue. Block ID=" +
                std::string(blockID) + ".");
        return;
    }
    workerQueue_->async([id = std::string(blockID), block = std::move(block)] {
        runReportingExceptions(block, 30000, "Exception on worker queue. Block ID=", id);
    });
}

void APMScheduler::dispatchSyncOnWorkerQueue(std::string_view blockID,
                                             const std::function<void()>& block) {
    if (!block) {
        APMMonitor::shared().logWithLevel(
            kLevelError, 30002,
            "Nil block dispatched synchronously on worker queue. Block ID=" + std::string(blockID) +
                ".");
        return;
    }
    bool completed = false;
    workerQueue_->sync([&] {
        completed = runReportingExceptions(
            block, 30003,
            "Exception on worker queue when processing sync block. Block ID=", blockID);
    });
    if (!completed) {
        APMMonitor::shared().logWithLevel(
            kLevelWarning, 30004, "Synchronous task failed. Block ID=" + std::string(blockID));
    }
}

bool APMScheduler::checkOnBackgroundThreadWithMethodName(std::string_view methodName) {
    if (!platform::isMainThread()) {
        return true;
    }
    const std::string name = methodName.empty() ? "<empty method name>" : std::string(methodName);
    APMMonitor::shared().logWithLevel(kLevelError, 30001,
                                      "Method " + name + " should execute on background thread");
    return false;
}
