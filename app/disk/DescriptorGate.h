#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace cb {

// Lets the walkers of one scan that ran out of descriptors (EMFILE, ENFILE, ENOMEM) wait until
// another walker closes one, instead of taking the folder for unreadable. Each walker holds one
// descriptor per folder level, so several deep walks at once can exhaust a low limit while every
// one of them would fit on its own.
//
// A wait ends with "retry" when a descriptor was released since the failed open, and with "give
// up" when no release can come: every running walker is waiting (they hold what they have and
// wait for each other), the scan is cancelled, or nothing was released for kPatience (the
// descriptors are held outside the scan). Thread-safe.
class DescriptorGate {
  public:
    static constexpr std::chrono::seconds kPatience{10};

    // A walker thread starts or ends. An ending walker may leave the waiting ones alone.
    void walkerStarted();
    void walkerFinished();

    // A walker closed a descriptor: wakes the waiting walkers.
    void released();

    // Releases so far. Read before the open that may fail, and pass it to waitForRelease(), so
    // a release in between is not missed.
    uint64_t releases() const;

    // Waits for a release after `seen`; see the class comment. True: retry the open.
    bool waitForRelease(uint64_t seen, const std::atomic<bool>& cancelled);

    // Whether `error` (an errno) means the process or system is out of descriptors or memory.
    static bool isOutOfDescriptors(int error);

  private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    uint64_t releases_ = 0;  // guarded by mutex_
    int running_ = 0;        // guarded by mutex_
    int waiting_ = 0;        // guarded by mutex_
};

}  // namespace cb
