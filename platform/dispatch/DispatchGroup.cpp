#include "platform/dispatch/DispatchGroup.h"

#include <stdexcept>

#include "platform/dispatch/WorkerPool.h"

namespace platform {

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->count;
}

void DispatchGroup::leave() const {
    std::vector<std::pair<QueueRef, Block>> due;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->count <= 0) {
            throw std::logic_error("DispatchGroup::leave without a matching enter");
        }
        if (--state_->count > 0) {
            return;
        }
        due.swap(state_->notifications);
        state_->empty.notify_all();
    }
    for (auto& [queue, block] : due) {
        queue->async(std::move(block));
    }
}

void DispatchGroup::async(const QueueRef& queue, Block block) const {
    enter();
    queue->async([group = *this, block = std::move(block)] {
        try {
            block();
        } catch (...) {
            group.leave();  // keeps the count balanced for a `sync` caller that catches
            throw;
        }
        group.leave();
    });
}

void DispatchGroup::notify(const QueueRef& queue, Block block) const {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

bool DispatchGroup::wait(Clock::duration timeout) const {
    return waitUntil(deadlineAfter(timeout));
}

bool DispatchGroup::waitUntil(Clock::time_point deadline) const {
    {
        // A poll (or an empty group) does not block: the pool needs no replacement.
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->count == 0) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
    }
    WorkerPool::BlockedScope blocked;
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->empty.wait_until(lock, deadline, [this] { return state_->count == 0; });
}

void DispatchGroup::wait() const {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->count == 0) {
            return;
        }
    }
    WorkerPool::BlockedScope blocked;
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->empty.wait(lock, [this] { return state_->count == 0; });
}

}  // namespace platform
