#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

#include "platform/dispatch/Clock.h"

namespace platform {

// One thread that calls functions at deadlines on the monotonic clock. Internal to the dispatch
// layer: `DispatchQueue::after` and `DispatchTimer` use it to hand a block to its queue when
// it is due, so the fired function only enqueues and returns.
//
// Entries with the same deadline fire in the order they were scheduled. The scheduler is a
// process-wide singleton that is never destroyed (its thread may outlive static destruction).
class DeadlineScheduler {
  public:
    // Identifies one scheduled entry; ordered by deadline, then by scheduling order.
    using Key = std::pair<Clock::time_point, std::uint64_t>;

    // Returns the process-wide scheduler. Thread-safe.
    static DeadlineScheduler& shared();

    // Calls `fire` on the scheduler thread at or after `deadline`. `fire` must be quick and
    // must not throw. Thread-safe.
    Key schedule(Clock::time_point deadline, std::function<void()> fire);

    // Drops the entry `key` unless it has fired already; its function is destroyed on the
    // calling thread. Returns true when the entry was dropped. Thread-safe.
    bool cancel(const Key& key);

    DeadlineScheduler(const DeadlineScheduler&) = delete;
    DeadlineScheduler& operator=(const DeadlineScheduler&) = delete;

  private:
    DeadlineScheduler() = default;
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<Key, std::function<void()>> entries_;  // guarded by mutex_
    std::uint64_t nextSequence_ = 0;                // guarded by mutex_
    bool threadStarted_ = false;                    // guarded by mutex_
};

}  // namespace platform
