#include "platform/dispatch/DeadlineScheduler.h"

#include <thread>

namespace platform {

DeadlineScheduler& DeadlineScheduler::shared() {
    // Never destroyed: its thread keeps waiting while the process exits.
    static DeadlineScheduler* const scheduler = new DeadlineScheduler();
    return *scheduler;
}

DeadlineScheduler::Key DeadlineScheduler::schedule(Clock::time_point deadline,
                                                   std::function<void()> fire) {
    bool startThread = false;
    bool earliest = false;
    Key key;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        key = Key(deadline, nextSequence_++);
        auto it = entries_.emplace(key, std::move(fire)).first;
        earliest = it == entries_.begin();
        if (!threadStarted_) {
            threadStarted_ = true;
            startThread = true;
        }
    }
    if (startThread) {
        std::thread([this] { run(); }).detach();
    } else if (earliest) {
        changed_.notify_one();
    }
    return key;
}

bool DeadlineScheduler::cancel(const Key& key) {
    std::function<void()> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        return false;
    }
    dropped = std::move(it->second);
    entries_.erase(it);
    // `dropped` may own the last reference to a queue; it is destroyed after the unlock.
    return true;
}

void DeadlineScheduler::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (entries_.empty()) {
            changed_.wait(lock);
            continue;
        }
        auto first = entries_.begin();
        const Clock::time_point now = Clock::now();
        if (first->first.first > now) {
            // Far deadlines are waited for in slices, keeping the wait's arithmetic in range.
            const Clock::duration slice = std::chrono::hours(1);
            const Clock::time_point until =
                first->first.first - now > slice ? now + slice : first->first.first;
            changed_.wait_until(lock, until);
            continue;
        }
        std::function<void()> fire = std::move(first->second);
        entries_.erase(first);
        lock.unlock();
        fire();
        fire = nullptr;
        lock.lock();
    }
}

}  // namespace platform
