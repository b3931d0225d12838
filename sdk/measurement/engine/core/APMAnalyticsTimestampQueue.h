#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/OperationQueue.h"

struct APMConsentSnapshot;

// The facade's door to its serial queue: every call the facade queues passes here, in one order,
// and a public event reads its timestamp and the consent of the moment here, in the same short
// critical section that fixes its place. Callers never wait for a thread hand-off or for each
// other's allocations, only for the few stores of another caller's append.
//
// Design notes:
//   A caller builds its entry (the step and everything it captures) before it takes mutex_;
//   under mutex_ it takes a ticket, reads the clock (timestamped entries only) and links the
//   entry at the tail. An append that finds no drain queued adds one drain operation to the
//   operation queue, after mutex_ is released. The drain takes the whole list and posts it to
//   the serial queue as one block, which runs the steps in list order. So the operation queue's
//   suspension holds back every entry, entries reach the serial queue in ticket order, and the
//   worker pool is woken once per batch rather than once per call. A caller that finds mutex_
//   taken tries again for a moment before it sleeps on it: the holder is nearly always done by
//   then, and a sleeper is woken late on a busy machine.
//
//   States of the list:   empty, no drain --append--> filling, drain queued --drain()--> empty
//   (append: queue() or queueWithTimestamp(); a drain queued while the operation queue is
//   suspended waits there, and appends meanwhile join the same list).
//
// Invariants (under mutex_):
//   1. List order is ticket order, the order in which appends took mutex_. Timestamps are read
//      under mutex_, so they do not decrease along the tickets while the clock does not go back.
//   2. drainQueued_ is true exactly from the append that finds it false until a drain takes the
//      list; the list is empty whenever drainQueued_ is false.
//   3. postedThrough_ (under postedMutex_) <= lastTicket_: every entry with a ticket up to
//      postedThrough_ is on the serial queue, and every later one is still in the list or in a
//      drain under way.
//
// Thread-safety: every member function may be called from any thread. Steps run on the serial
// queue.
class APMAnalyticsTimestampQueue : public std::enable_shared_from_this<APMAnalyticsTimestampQueue> {
  public:
    // A timestamped step, given the time and the consent read in the critical section.
    using TimedStep =
        std::function<void(double timestamp, std::shared_ptr<const APMConsentSnapshot> consent)>;
    using ClockFunction = double (*)();

    // A queue that hands its batches to `operations` (which may be suspended) and from there to
    // `serialQueue`, reading the time from `clock`. REQUIRES: all three set.
    static std::shared_ptr<APMAnalyticsTimestampQueue> create(
        std::shared_ptr<platform::OperationQueue> operations, platform::QueueRef serialQueue,
        ClockFunction clock);

    // Appends `block`: it runs on the serial queue after every entry appended before it.
    // REQUIRES: block is callable.
    void queue(platform::Block block);

    // Reads the clock and the consent of the moment (APMConsentSettingsUtil::snapshot) and
    // appends `step` with them, in one critical section: steps reach the serial queue in the
    // order of their timestamps. The consent is taken before the section and kept only if no
    // consent write was issued meanwhile, so that it is the consent of the same moment.
    // REQUIRES: step is callable.
    void queueWithTimestamp(TimedStep step);

    // Waits until every entry appended before the call is on the serial queue (not necessarily
    // run). While the operation queue is suspended with entries waiting, this waits until it is
    // resumed. REQUIRES: not called from the operation queue.
    void waitUntilAllAreQueued();

    APMAnalyticsTimestampQueue(const APMAnalyticsTimestampQueue&) = delete;
    APMAnalyticsTimestampQueue& operator=(const APMAnalyticsTimestampQueue&) = delete;

    // Public only for std::make_shared; use create().
    struct Passkey {
        explicit Passkey() = default;
    };
    APMAnalyticsTimestampQueue(Passkey, std::shared_ptr<platform::OperationQueue> operations,
                               platform::QueueRef serialQueue, ClockFunction clock);
    ~APMAnalyticsTimestampQueue();

  private:
    struct Entry;
    class Batch;

    // Links `entry` at the tail under mutex_ (stamping it when `timed`); false, linking nothing,
    // when `timed` and a consent write was issued after `consentWrites`.
    bool append(std::unique_ptr<Entry>& entry, bool timed, std::uint64_t consentWrites);
    void drain();

    const std::shared_ptr<platform::OperationQueue> operations_;
    const platform::QueueRef serialQueue_;
    const ClockFunction clock_;

    // Callers contend for mutex_ alone; the drain takes it once per batch.
    std::mutex mutex_;
    std::unique_ptr<Entry> head_;   // guarded by mutex_
    Entry* tail_ = nullptr;         // guarded by mutex_; the last entry of head_'s list
    bool drainQueued_ = false;      // guarded by mutex_
    std::uint64_t lastTicket_ = 0;  // guarded by mutex_

    std::mutex postedMutex_;
    std::condition_variable posted_;
    std::uint64_t postedThrough_ = 0;  // guarded by postedMutex_
};
