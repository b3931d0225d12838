#include "platform/dispatch/WorkerPool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/dispatch/ThreadStart.h"

namespace platform {

namespace {

// How long an idle worker waits for a job before its thread ends.
constexpr std::chrono::seconds kIdleTimeout{5};

// The pool whose worker the current thread is; null on other threads.
thread_local WorkerPool* tPool = nullptr;

// How many BlockedScopes the current worker is in.
thread_local int tBlockedDepth = 0;

}  // namespace

WorkerPool::BlockedScope::BlockedScope() noexcept {
    if (tPool == nullptr) {
        return;
    }
    counted_ = true;
    if (tBlockedDepth++ == 0) {
        tPool->enterBlocked();
    }
}

WorkerPool::BlockedScope::~BlockedScope() {
    if (counted_ && --tBlockedDepth == 0) {
        tPool->leaveBlocked();
    }
}

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
        spawn = claimNewWorker();
    }
    if (spawn) {
        startWorker();
    } else {
        wake_.notify_one();
    }
}

bool WorkerPool::claimNewWorker() {
    // Each idle worker takes one job; jobs beyond that need a new thread, up to the cap.
    if (jobs_.size() <= idleWorkers_ || workers_ - blockedWorkers_ >= kMaxWorkers) {
        return false;
    }
    if (workers_ >= kHardLimit) {
        if (blockedWorkers_ == workers_ && !reportedAllBlocked_) {
            reportedAllBlocked_ = true;
            std::fprintf(stderr,
                         "Dispatch: all %zu worker threads are blocked waiting; queued work "
                         "waits until one returns\n",
                         workers_);
        }
        return false;
    }
    ++workers_;
    ++idleWorkers_;  // the new thread takes a job as soon as it runs
    peakWorkers_ = std::max(peakWorkers_, workers_);
    return true;
}

void WorkerPool::enterBlocked() {
    bool spawn = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++blockedWorkers_;
        spawn = claimNewWorker();
    }
    if (spawn) {
        startWorker();
    }
}

void WorkerPool::leaveBlocked() {
    std::lock_guard<std::mutex> lock(mutex_);
    --blockedWorkers_;
}

WorkerPool::Stats WorkerPool::stats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Stats{workers_, blockedWorkers_, peakWorkers_};
}

// Starts the thread that submit counted in; on failure the queued job stays for the others.
void WorkerPool::startWorker() {
    try {
        startDetachedThread([this] { workerLoop(); });
        return;
    } catch (const std::system_error&) {
    }
    std::size_t workers = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --workers_;
        --idleWorkers_;
        workers = workers_;
    }
    if (workers == 0) {
        std::fprintf(stderr,
                     "Dispatch: no worker thread could be started; queued work would "
                     "never run\n");
        std::abort();
    }
    wake_.notify_one();
}

void WorkerPool::workerLoop() {
    tPool = this;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!jobs_.empty()) {
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            --idleWorkers_;
            lock.unlock();
            job();
            job = nullptr;  // release captured state before sleeping
            lock.lock();
            if (workers_ - blockedWorkers_ > kMaxWorkers) {
                // A replacement for a blocked worker that has returned: the pool shrinks back.
                --workers_;
                return;
            }
            ++idleWorkers_;
            continue;
        }
        if (!wake_.wait_for(lock, kIdleTimeout, [this] { return !jobs_.empty(); })) {
            --idleWorkers_;
            --workers_;
            return;
        }
    }
}

}  // namespace platform
