#include "platform/dispatch/DispatchSemaphore.h"

#include <stdexcept>

#include "platform/dispatch/WorkerPool.h"

namespace platform {

DispatchSemaphore::DispatchSemaphore(std::int64_t value) : state_(std::make_shared<State>()) {
    if (value < 0) {
        throw std::invalid_argument("DispatchSemaphore needs a value of 0 or more");
    }
    state_->value = value;
}

void DispatchSemaphore::signal() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->value;
    state_->available.notify_one();
}

bool DispatchSemaphore::wait(Clock::duration timeout) const {
    return waitUntil(deadlineAfter(timeout));
}

bool DispatchSemaphore::tryTake() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->value == 0) {
        return false;
    }
    --state_->value;
    return true;
}

bool DispatchSemaphore::waitUntil(Clock::time_point deadline) const {
    if (tryTake()) {
        return true;
    }
    WorkerPool::BlockedScope blocked;
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!state_->available.wait_until(lock, deadline, [this] { return state_->value > 0; })) {
        return false;
    }
    --state_->value;
    return true;
}

void DispatchSemaphore::wait() const {
    if (tryTake()) {
        return;
    }
    WorkerPool::BlockedScope blocked;
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->available.wait(lock, [this] { return state_->value > 0; });
    --state_->value;
}

}  // namespace platform
