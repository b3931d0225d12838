#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace platform {

// The threads behind every queue except the main queue. Internal to the dispatch layer.
//
// The pool grows whenever a job arrives and no worker is idle, and a worker leaves after it
// has been idle for a while. So a job never waits behind a blocked job (a block that waits in
// `sync` on another queue, or on a semaphore, cannot starve the queue it waits for), and an
// idle process keeps no threads. Serial order is not the pool's business: a serial queue
// submits one drain job at a time.
//
// The pool is a process-wide singleton that is never destroyed, so workers that are still
// running while the process exits never touch a destroyed pool.
class WorkerPool {
  public:
    // Returns the process-wide pool. Thread-safe.
    static WorkerPool& shared();

    // Runs `job` on a worker thread soon. Thread-safe. `job` must not throw.
    void submit(std::function<void()> job);

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

  private:
    WorkerPool() = default;
    void workerLoop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;  // guarded by mutex_
    std::size_t idleWorkers_ = 0;             // guarded by mutex_
};

}  // namespace platform
