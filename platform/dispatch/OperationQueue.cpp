#include "platform/dispatch/OperationQueue.h"

#include <cassert>
#include <utility>

#include "platform/dispatch/WorkerPool.h"

namespace platform {

std::shared_ptr<OperationQueue> OperationQueue::create(std::string name, bool suspended) {
    return std::make_shared<OperationQueue>(Passkey(), std::move(name), suspended);
}

OperationQueue::OperationQueue(Passkey, std::string name, bool suspended)
    : name_(std::move(name)), runner_(DispatchQueue::createSerial(name_)) {
    if (suspended) {
        runner_->suspend();
        suspended_ = true;
    }
}

void OperationQueue::addOperation(Block operation) {
    assert(operation);
    {
        std::lock_guard lock(mutex_);
        ++pending_;
    }
    runner_->async([self = shared_from_this(), operation = std::move(operation)] {
        // An operation that throws is a programming error, as for any dispatched block; the
        // count is kept right on the way out all the same.
        struct Finish {
            OperationQueue& queue;
            ~Finish() { queue.finishOne(); }
        } finish{*self};
        operation();
    });
}

void OperationQueue::finishOne() {
    std::lock_guard lock(mutex_);
    assert(pending_ > 0);
    if (--pending_ == 0) {
        allFinished_.notify_all();
    }
}

void OperationQueue::setSuspended(bool suspended) {
    std::lock_guard lock(mutex_);
    if (suspended == suspended_) {
        return;
    }
    suspended_ = suspended;
    if (suspended) {
        runner_->suspend();
    } else {
        runner_->resume();
    }
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(mutex_);
    return suspended_;
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    assert(!runner_->isCurrent());
    WorkerPool::BlockedScope blocked;
    std::unique_lock lock(mutex_);
    allFinished_.wait(lock, [this] { return pending_ == 0; });
}

}  // namespace platform
