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
// The pool grows when a job arrives and no worker is idle, up to kMaxWorkers threads that are
// not blocked, and a worker leaves after it has been idle for a while, so an idle process keeps
// no threads. Serial order is not the pool's business: a serial queue submits one drain job at
// a time.
//
// A worker that waits in one of the dispatch layer's own waits (a semaphore or group wait, a
// `sync` that has to wait, an operation queue's wait, a promise await) is blocked: for the
// wait's length it does not count against kMaxWorkers, so the pool may start a replacement and
// the work it waits for (often queued behind it) still runs. Blocked workers never take the
// pool past kHardLimit threads; there, with every worker blocked and jobs waiting, the pool
// says so once on stderr. When blocked workers return, the threads above the cap end as soon as
// they finish their job. A worker that blocks in anything else (a sleep, a plain mutex, I/O)
// keeps its slot.
//
// Invariants (all under mutex_):
//  1. idleWorkers_ <= workers_ <= kHardLimit, blockedWorkers_ <= workers_.
//  2. A new thread is started only while workers_ - blockedWorkers_ < kMaxWorkers.
//  3. A job in jobs_ is taken by exactly one worker; a queued job is never dropped.
//  4. A thread counts in workers_ (and as idle) from just before it is started; when the start
//     fails it is taken out again, and the job stays queued for the workers that exist.
//
// The pool is a process-wide singleton that is never destroyed, so workers that are still
// running while the process exits never touch a destroyed pool.
class WorkerPool {
  public:
    // The most threads the pool runs at once that are not blocked in a dispatch wait.
    static constexpr std::size_t kMaxWorkers = 64;

    // The most threads the pool runs at once, blocked ones included.
    static constexpr std::size_t kHardLimit = 384;

    // Marks the calling thread as blocked in a dispatch-layer wait for the scope's lifetime.
    // On a worker of the pool this frees its slot (see above); on any other thread, and in a
    // scope nested in another, it does nothing. Used by the waits of the dispatch layer and of
    // the promise library; never throws.
    class BlockedScope {
      public:
        BlockedScope() noexcept;
        ~BlockedScope();
        BlockedScope(const BlockedScope&) = delete;
        BlockedScope& operator=(const BlockedScope&) = delete;

      private:
        bool counted_ = false;
    };

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
        std::size_t blockedWorkers = 0;
        std::size_t peakWorkers = 0;
    };
    Stats stats() const;

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

  private:
    WorkerPool() = default;
    void startWorker();
    void workerLoop();
    // True when a waiting job should get a new thread; counts it in. REQUIRES: mutex_ held.
    bool claimNewWorker();
    void enterBlocked();
    void leaveBlocked();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;  // guarded by mutex_
    std::size_t workers_ = 0;                 // guarded by mutex_
    std::size_t idleWorkers_ = 0;             // guarded by mutex_
    std::size_t blockedWorkers_ = 0;          // guarded by mutex_
    std::size_t peakWorkers_ = 0;             // guarded by mutex_
    bool reportedAllBlocked_ = false;         // guarded by mutex_
};

}  // namespace platform
