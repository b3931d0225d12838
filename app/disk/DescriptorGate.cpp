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
    released_.notify_all();  // the waiting walkers may now be all that is left
}

void DescriptorGate::released() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ++releases_;
    }
    released_.notify_all();
}

uint64_t DescriptorGate::releases() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return releases_;
}

bool DescriptorGate::waitForRelease(uint64_t seen, const std::atomic<bool>& cancelled) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    const auto giveUpAt = std::chrono::steady_clock::now() + kPatience;
    bool retry = false;
    for (;;) {
        if (releases_ != seen) {
            retry = true;
            break;
        }
        // Checked one waiter at a time under the lock, so only one of a deadlocked set gives
        // up; its folder's descriptors come free as it unwinds, and the others go on.
        if (waiting_ >= running_ || cancelled.load(std::memory_order_acquire) ||
            std::chrono::steady_clock::now() >= giveUpAt) {
            break;
        }
        released_.wait_for(lock, kCancelPoll);
    }
    --waiting_;
    return retry;
}

bool DescriptorGate::isOutOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

}  // namespace cb
