#include "platform/dispatch/WorkerPool.h"

#include <chrono>
#include <thread>

namespace platform {

namespace {

// How long an idle worker waits for a job before its thread ends.
constexpr std::chrono::seconds kIdleTimeout{5};

}  // namespace

WorkerPool& WorkerPool::shared() {
    // Never destroyed: detached workers may still use it while the process exits.
    static WorkerPool* const pool = new WorkerPool();
    return *pool;
}

void WorkerPool::submit(std::function<void()> job) {
    bool spawn = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        // Each idle worker takes one job; jobs beyond that need a new thread.
        spawn = jobs_.size() > idleWorkers_;
    }
    if (spawn) {
        std::thread([this] { workerLoop(); }).detach();
    } else {
        wake_.notify_one();
    }
}

void WorkerPool::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!jobs_.empty()) {
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            job = nullptr;  // release captured state before sleeping
            lock.lock();
            continue;
        }
        ++idleWorkers_;
        const bool woken = wake_.wait_for(lock, kIdleTimeout, [this] { return !jobs_.empty(); });
        --idleWorkers_;
        if (!woken) {
            return;
        }
    }
}

}  // namespace platform
