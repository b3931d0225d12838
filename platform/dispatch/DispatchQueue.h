#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/Cancellable.h"
#include "platform/dispatch/Clock.h"

namespace platform {

class DispatchQueue;

// A unit of work submitted to a queue.
using Block = std::function<void()>;

// Queues are shared: whoever submits a block holds the queue alive until the block has run.
using QueueRef = std::shared_ptr<DispatchQueue>;

// A queue of blocks, in place of a libdispatch queue.
//
// Kinds:
//  - serial: blocks run one at a time, in submission order, on a thread of the worker pool;
//  - concurrent: blocks may run at the same time, in no particular order;
//  - main: blocks run one at a time, in submission order, on whichever thread drains the main
//    queue (the UI thread in the app, see MainQueue.h; a test helper in SDK tests).
//
// A block that lets an exception escape is a programming error: the process terminates with
// the queue's label and the exception's text on stderr. Code that must survive a throwing
// block catches it inside the block. (`sync` is the exception: it hands the exception back to
// its caller.)
//
// Thread-safety: every member function may be called from any thread.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
  public:
    enum class Kind { kSerial, kConcurrent, kMain };

    // Returns a new serial queue named `label`.
    static QueueRef createSerial(std::string label);

    // Returns a new concurrent queue named `label`.
    static QueueRef createConcurrent(std::string label);

    // Returns the process-wide main queue (label "main"). Its blocks run only while some
    // thread drains it (see MainQueue.h).
    static const QueueRef& main();

    // Returns the process-wide concurrent queue for background work (label "global").
    static const QueueRef& global();

    // The label given at creation.
    const std::string& label() const { return label_; }

    Kind kind() const { return kind_; }

    // Submits `block` and returns at once.
    // REQUIRES: block is callable.
    void async(Block block);

    // Submits `block` and waits until it has run. An exception thrown by the block is
    // rethrown here. When the queue is idle (or concurrent), the block runs on the calling
    // thread, as a block of this queue, without a thread hand-off.
    // REQUIRES: for a serial or main queue, not called from a block running on this queue (it
    // would wait on itself): that case throws std::logic_error. For the main queue, not
    // called from the thread that drains it. A concurrent queue accepts `sync` from its own
    // blocks.
    void sync(const std::function<void()>& block);

    // Submits `block` once `delay` has passed on the monotonic clock, then runs it like
    // `async`. The queue is kept alive until then. The handle can cancel the block.
    Cancellable after(Clock::duration delay, Block block);

    // Returns true when called from a block running on this queue.
    bool isCurrent() const;

    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    // Public only for std::make_shared; use the factories.
    struct Passkey {
        explicit Passkey() = default;
    };
    DispatchQueue(Passkey, std::string label, Kind kind);

  private:
    friend std::size_t drainMainQueue();
    friend bool runMainQueueUntil(const std::function<bool()>& done, Clock::duration timeout);

    bool claimIdleSerial();
    void releaseSerialClaim();
    void runInline(const std::function<void()>& block);
    void syncThroughQueue(const std::function<void()>& block);
    void enqueueSerial(Block block);
    void enqueueMain(Block block);
    void drainSerial();
    // Main queue: runs the blocks that are queued at the call. Returns how many ran.
    std::size_t drainPending();
    void runBlock(Block& block) const;

    const std::string label_;
    const Kind kind_;

    std::mutex mutex_;
    std::condition_variable workArrived_;  // main queue: signalled on each new block
    std::deque<Block> blocks_;             // guarded by mutex_ (serial and main kinds)
    // Serial kind: true while a drain job or an inline `sync` owns the queue.
    bool drainScheduled_ = false;      // guarded by mutex_
    std::recursive_mutex drainMutex_;  // main kind: one draining thread at a time
};

}  // namespace platform
