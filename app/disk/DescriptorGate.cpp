#include "app/disk/DescriptorGate.h"

#include <cerrno>

namespace cb {

namespace {

// How often a waiting walker looks at the cancel flag.
constexpr std::chrono::milliseconds kCancelPoll{50};

}  // namespace

void DescriptorGate::walkerStarted() {
    std::lock_guard<std::mutex> guard(mutex_);
    ++running_;
}

void DescriptorGate::walkerFinished() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        --running_;
    }
    changed_.notify_all();  // the waiting walkers may now be all that is left
}

void DescriptorGate::released() {
    // Sequentially consistent on both sides: a waiter counts itself before it looks at
    // releases_, and this looks at waiting_ after counting, so one of the two sees the other.
    releases_.fetch_add(1);
    if (waiting_.load() == 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        setAsideWanted_ = false;  // no deadlock while descriptors come free
    }
    changed_.notify_all();
}

uint64_t DescriptorGate::releases() const {
    return releases_.load();
}

DescriptorGate::Outcome DescriptorGate::waitForRelease(uint64_t seen, bool canSetAside,
                                                       const std::atomic<bool>& cancelled) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    waitingCanSetAside_ += canSetAside ? 1 : 0;
    const auto giveUpAt = std::chrono::steady_clock::now() + kPatience;
    Outcome outcome = Outcome::giveUp;
    for (;;) {
        if (releases_.load() != seen) {
            outcome = Outcome::retry;
            break;
        }
        if (cancelled.load(std::memory_order_acquire) ||
            std::chrono::steady_clock::now() >= giveUpAt) {
            break;
        }
        // Looked at by one waiter at a time under the lock, so a deadlock is resolved once.
        if (canSetAside && (setAsideWanted_ || waiting_ >= running_)) {
            setAsideWanted_ = false;
            outcome = Outcome::setAside;
            break;
        }
        if (waiting_ >= running_) {
            if (waitingCanSetAside_ == 0) {
                break;  // nobody can free anything
            }
            if (!setAsideWanted_) {
                setAsideWanted_ = true;  // for a waiter that can; woken here
                changed_.notify_all();
            }
        }
        changed_.wait_for(lock, kCancelPoll);
    }
    --waiting_;
    waitingCanSetAside_ -= canSetAside ? 1 : 0;
    return outcome;
}

bool DescriptorGate::isOutOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

}  // namespace cb
