#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

// The threads behind every queue except the main queue. Internal to the dispatch layer.
//
// The pool grows when a job arrives and no worker is idle, up to kMaxWorkers threads, and a
// worker leaves after it has been idle for a while, so an idle process keeps no threads.
// Below the cap a job never waits behind a blocked job (a block that waits in `sync` on
// another queue, or on a semaphore, cannot starve the queue it waits for); at the cap, jobs
// wait until a worker is free. Serial order is not the pool's business: a serial queue
// submits one drain job at a time.
//
// Invariants (all under mutex_):
//  1. idleWorkers_ <= workers_ <= kMaxWorkers.
//  2. A job in jobs_ is taken by exactly one worker; a queued job is never dropped.
//  3. A thread counts in workers_ (and as idle) from just before it is started; when the start
//     fails it is taken out again, and the job stays queued for the workers that exist.
//
// The pool is a process-wide singleton that is never destroyed, so workers that are still
// running while the process exits never touch a destroyed pool.
class WorkerPool {
  public:
    // The most threads the pool runs at once.
    static constexpr std::size_t kMaxWorkers = 64;

    // Returns the process-wide pool. Thread-safe.
    static WorkerPool& shared();

    // Runs `job` on a worker thread soon. Never throws once the job is queued: when a new
    // thread cannot be started, the job waits for a worker that exists. When no worker exists
    // at all and none can be started, the job could never run: the process ends with a message
    // on stderr. Thread-safe. `job` must not throw.
    void submit(std::function<void()> job);

    // Worker threads alive now and the most alive at once since the process started.
    struct Stats {
        std::size_t workers = 0;
        std::size_t peakWorkers = 0;
    };
    Stats stats() const;

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

  private:
    WorkerPool() = default;
    void startWorker();
    void workerLoop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;  // guarded by mutex_
    std::size_t workers_ = 0;                 // guarded by mutex_
    std::size_t idleWorkers_ = 0;             // guarded by mutex_
    std::size_t peakWorkers_ = 0;             // guarded by mutex_
};

}  // namespace platform
