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
// When every running walker is waiting, none will close anything: they hold their folders and
// wait for each other. Then one waiter that can set descriptors aside (a walker closes the
// folders above the one it lists and opens them again by path later) is told to do so; only
// when none can does the walker that found the deadlock give up. A wait also gives up when the
// scan is cancelled or nothing was released for kPatience (the descriptors are held outside the
// scan). Thread-safe.
class DescriptorGate {
  public:
    static constexpr std::chrono::seconds kPatience{10};

    enum class Outcome {
        retry,     // a descriptor came free: open again
        setAside,  // close the folders above the current one, then open again
        giveUp,    // no descriptor will come: take the folder for unreadable
    };

    // A walker thread starts or ends.
    void walkerStarted();
    void walkerFinished();

    // A walker closed a descriptor: wakes the waiting walkers.
    void released();

    // Releases so far. Read before the open that may fail, and pass it to waitForRelease(), so
    // a release in between is not missed.
    uint64_t releases() const;

    // Waits for a release after `seen`; see the class comment. `canSetAside`: the calling
    // walker holds descriptors above the folder it is opening.
    Outcome waitForRelease(uint64_t seen, bool canSetAside, const std::atomic<bool>& cancelled);

    // Whether `error` (an errno) means the process or system is out of descriptors or memory.
    static bool isOutOfDescriptors(int error);

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Added to without mutex_ (once for every folder a walker closes); read by waiters.
    std::atomic<uint64_t> releases_{0};
    // Changed under mutex_; read without it by released(), which takes the lock only when
    // someone waits.
    std::atomic<int> waiting_{0};
    int running_ = 0;              // guarded by mutex_
    int waitingCanSetAside_ = 0;   // guarded by mutex_
    bool setAsideWanted_ = false;  // guarded by mutex_
};

}  // namespace cb
