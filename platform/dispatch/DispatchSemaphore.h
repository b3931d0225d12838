#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/dispatch/Clock.h"

namespace platform {

// A counting semaphore, in place of a libdispatch semaphore. Copies share one counter.
// A worker thread that has to wait here is blocked in the worker pool's sense (see
// WorkerPool.h): the pool may start another thread meanwhile.
// Thread-safety: every member function may be called from any thread.
class DispatchSemaphore {
  public:
    // Makes a semaphore holding `value` units.
    // REQUIRES: value >= 0 (else throws std::invalid_argument).
    explicit DispatchSemaphore(std::int64_t value = 0);

    // Adds one unit and wakes one waiter.
    void signal() const;

    // Takes one unit, waiting up to `timeout` for one to become available. Returns false
    // (taking nothing) when the time ran out.
    [[nodiscard]] bool wait(Clock::duration timeout) const;

    // Like the timed `wait`, with an absolute deadline on the monotonic clock.
    [[nodiscard]] bool waitUntil(Clock::time_point deadline) const;

    // Takes one unit, waiting as long as it takes.
    void wait() const;

  private:
    // Takes a unit when one is there, without waiting.
    bool tryTake() const;

    struct State {
        std::mutex mutex;
        std::condition_variable available;
        std::int64_t value = 0;  // guarded by mutex
    };

    std::shared_ptr<State> state_;
};

}  // namespace platform
