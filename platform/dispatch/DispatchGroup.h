#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"

namespace platform {

// Counts outstanding work, in place of a libdispatch group. Copies share one counter, so a
// block can carry the group it belongs to. A worker thread that has to wait in `wait` is
// blocked in the worker pool's sense (see WorkerPool.h).
//
// Invariants:
//  1. The count is never negative: `leave` without a matching `enter` throws.
//  2. Notify blocks are queued only while the count is above zero; each is submitted to its
//     queue exactly once, when the count reaches zero (or at once when it already is zero).
//
// Thread-safety: every member function may be called from any thread.
class DispatchGroup {
  public:
    // Makes an empty group.
    DispatchGroup();

    // Counts one more piece of outstanding work.
    void enter() const;

    // Marks one piece of work as done. When the count reaches zero, wakes the waiters and
    // submits the notify blocks to their queues.
    // REQUIRES: a matching `enter` (else throws std::logic_error and leaves the count alone).
    void leave() const;

    // Submits `block` to `queue` as a member of the group: enters now, leaves after the block.
    void async(const QueueRef& queue, Block block) const;

    // Submits `block` to `queue` once the group is empty; at once when it is empty now.
    void notify(const QueueRef& queue, Block block) const;

    // Waits until the group is empty or `timeout` has passed. Returns true when it became
    // empty. REQUIRES: not called from a block that the group waits for.
    [[nodiscard]] bool wait(Clock::duration timeout) const;

    // Like `wait`, with an absolute deadline on the monotonic clock.
    [[nodiscard]] bool waitUntil(Clock::time_point deadline) const;

    // Waits without a time limit until the group is empty.
    void wait() const;

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable empty;
        std::int64_t count = 0;                                 // guarded by mutex
        std::vector<std::pair<QueueRef, Block>> notifications;  // guarded by mutex
    };

    std::shared_ptr<State> state_;
};

}  // namespace platform
