#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/DispatchQueue.h"

namespace platform {

// A queue of operations that runs one operation at a time, in the order they were added, in
// place of an operation queue limited to one concurrent operation. Unlike a serial dispatch
// queue, its suspension is a switch (suspending twice is undone by one resume), and a caller
// can wait until every operation added so far has finished.
//
// Invariants:
//   1. pending_ counts the operations added and not yet finished (queued or running).
//   2. suspended_ is true exactly while runner_ holds one suspension of ours.
//
// Thread-safety: every member function may be called from any thread. Operations run on a
// thread of the worker pool, never on the caller's.
class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
  public:
    // A new queue named `name`; with `suspended` it holds its operations until setSuspended(false).
    static std::shared_ptr<OperationQueue> create(std::string name, bool suspended);

    const std::string& name() const { return name_; }

    // Adds `operation`; it runs after every operation added before it, once the queue is not
    // suspended. The queue is kept alive until it has run.
    // REQUIRES: operation is callable.
    void addOperation(Block operation);

    // Stops starting operations (a running one finishes) or starts them again.
    void setSuspended(bool suspended);
    bool isSuspended() const;

    // Waits until every operation added so far (and any added meanwhile) has finished. While the
    // queue is suspended with operations waiting, this waits until it is resumed.
    // REQUIRES: not called from an operation of this queue (it would wait for itself).
    void waitUntilAllOperationsAreFinished();

    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // Public only for std::make_shared; use create().
    struct Passkey {
        explicit Passkey() = default;
    };
    OperationQueue(Passkey, std::string name, bool suspended);

  private:
    void finishOne();

    const std::string name_;
    const QueueRef runner_;  // the serial queue the operations run on
    mutable std::mutex mutex_;
    std::condition_variable allFinished_;
    std::size_t pending_ = 0;  // guarded by mutex_
    bool suspended_ = false;   // guarded by mutex_
};

}  // namespace platform
