#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"

// The engine's worker queue and the only way work is put on it. Every block carries a block ID
// ("APMMeasurement:" and a number naming its call site) that only serves the diagnostics: a
// block that throws is reported to the monitor with its ID and swallowed, so the queue goes on
// with its next block and the process survives.
//
// Monitor codes (level 1 unless said): 30000 exception in an asynchronous block, 30001 a method
// that must run off the main thread ran on it, 30002 empty synchronous block, 30003 exception
// in a synchronous block, 30004 (level 4) the synchronous block did not complete, 30005 empty
// asynchronous block.
//
// Thread-safety: every member may be called from any thread; the scheduler holds no lock and
// the serial queue orders the blocks.
class APMScheduler {
  public:
    // Makes the scheduler with a new serial queue labelled `workerQueueLabel` (the engine uses
    // "com.vovidu.diru.worker").
    explicit APMScheduler(std::string workerQueueLabel);

    APMScheduler(const APMScheduler&) = delete;
    APMScheduler& operator=(const APMScheduler&) = delete;

    // Runs `block` later on the worker queue. An empty block is not dispatched and logs 30005.
    void scheduleOnWorkerQueue(std::string_view blockID, std::function<void()> block);

    // Runs `block` on the worker queue and waits for it. An empty block logs 30002; a block
    // that throws logs 30003 (on the worker queue) and then 30004 (here).
    // REQUIRES: not called from the worker queue itself (that would wait on itself; the
    // dispatch layer refuses it with std::logic_error).
    void dispatchSyncOnWorkerQueue(std::string_view blockID, const std::function<void()>& block);

    // True when the calling thread is not the main thread. On the main thread it logs 30001
    // with `methodName` ("<empty method name>" for an empty one) and returns false; callers log
    // and carry on.
    static bool checkOnBackgroundThreadWithMethodName(std::string_view methodName);

    const platform::QueueRef& workerQueue() const { return workerQueue_; }

  private:
    const platform::QueueRef workerQueue_;
};
