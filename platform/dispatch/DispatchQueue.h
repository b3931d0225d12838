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
// Each thread keeps a record of the queues it is running: the queue of every block it is in
// (drains, inline `sync`), and, inside a block that another thread waits for in `sync`, the
// queues of that waiting thread too; the main thread's record always holds the main queue.
//
// Sync cycles. A `sync` that could only wait forever is refused with std::logic_error, the
// block not run, in these cases:
//  - onto a serial or main queue in the calling thread's record: the thread would wait on
//    itself, across any number of nested `sync` calls (A.sync{ B.sync{ A.sync{} } }), also
//    when the inner ones run on other threads on the caller's behalf;
//  - onto the main queue from the main thread;
//  - across the main thread: onto the main queue from a block of a queue that the main
//    thread waits on in `sync` (the main thread inside A->sync while a block of A syncs onto
//    main; also from a block that runs through nested `sync` on that block's behalf), and,
//    the other way round, from the main thread onto a queue one of whose blocks already waits
//    in `sync` onto the main queue.
// Every other cycle is the caller's to avoid; it hangs the threads in it. Among them: threads
// waiting on each other's queues through blocks that do not run on each other's behalf (a
// block of A waits in B->sync while the running block of B waits in A->sync; the main thread
// inside A->sync while A's block waits in B->sync behind a block of B that syncs onto main),
// and any cycle closed by a wait that is not a `sync` (a semaphore or group wait, a promise
// await) for work queued behind the waiter on a serial queue or on the main queue.
//
// Serial drains and concurrent blocks share the worker pool (WorkerPool.h). A block that waits
// in a dispatch wait (`sync`, a semaphore or group wait, a promise await) frees its slot for
// the wait's length, so blocks waiting for blocks queued behind them still finish, up to
// WorkerPool::kHardLimit threads. A block that blocks in anything else holds its slot: at
// WorkerPool::kMaxWorkers such blocks, other blocks wait for one of them to return.
//
// A serial queue can be suspended: its blocks wait (the running one finishes) until as many
// `resume` calls as `suspend` calls have been made.
//
// A block that lets an exception escape is a programming error: the process terminates with
// the queue's label and the exception's text on stderr, after the hook installed with
// `setUncaughtExceptionHook` (the SDK's logger writes its queued lines there). Code that must
// survive a throwing block catches it inside the block. (`sync` is the exception: it hands the
// exception back to its caller.)
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
    // On a suspended serial queue it waits until the queue is resumed.
    // REQUIRES: that it closes none of the sync cycles refused above (it throws
    // std::logic_error instead), nor any other (see above). A concurrent queue accepts `sync`
    // from its own blocks.
    void sync(const std::function<void()>& block);

    // Submits `block` once `delay` has passed on the monotonic clock, then runs it like
    // `async`. The queue is kept alive until then. The handle can cancel the block.
    Cancellable after(Clock::duration delay, Block block);

    // Like `after`, at the wall-clock time `when` (at once when it has passed). Time spent in
    // system sleep counts, unlike for `after`.
    Cancellable at(WallClock::time_point when, Block block);

    // Serial queue: stops starting blocks until the matching `resume`; a running block runs to
    // its end. Calls nest. REQUIRES: a serial queue (else throws std::logic_error).
    void suspend();

    // Undoes one `suspend`; when none is left, the waiting blocks run.
    // REQUIRES: a serial queue with a `suspend` to undo (else throws std::logic_error).
    void resume();

    // Returns true when called from a block running on this queue (the innermost one, when a
    // block of another queue runs inside it through `sync`).
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
    void submitDrain();
    void drainSerial();
    // Main queue: runs the blocks that are queued at the call. Returns how many ran.
    std::size_t drainPending();
    void runBlock(Block& block) const;
    Cancellable schedule(Deadline deadline, Block block);
    bool waitsOnItself() const;

    const std::string label_;
    const Kind kind_;

    std::mutex mutex_;
    std::condition_variable workArrived_;  // main queue: signalled on each new block
    std::deque<Block> blocks_;             // guarded by mutex_ (serial and main kinds)
    // Serial kind: true while a drain job or an inline `sync` owns the queue.
    bool drainScheduled_ = false;      // guarded by mutex_
    std::size_t suspendCount_ = 0;     // guarded by mutex_ (serial kind)
    std::recursive_mutex drainMutex_;  // main kind: one draining thread at a time
};

// Installs `hook`, run on the thread of a block that let an exception escape, just before the
// process ends; it should only save what would be lost (flush a log). An empty function
// removes it. Thread-safe.
void setUncaughtExceptionHook(std::function<void()> hook);

}  // namespace platform
