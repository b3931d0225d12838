#include "sdk/measurement/engine/core/APMAnalyticsTimestampQueue.h"

#include <cassert>
#include <utility>

#include "platform/dispatch/WorkerPool.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"

namespace {

// How often a caller tries mutex_ again before it sleeps on it.
constexpr int kSpins = 100;

// Takes `mutex`, trying again for a moment first: its holder is done within a few dozen
// instructions unless it was preempted, and sleeping in the kernel (to be woken late on a busy
// machine) would cost a caller far more than the spin.
std::unique_lock<std::mutex> lockAfterSpinning(std::mutex& mutex) {
    for (int spin = 0; spin < kSpins; ++spin) {
        if (mutex.try_lock()) {
            return std::unique_lock<std::mutex>(mutex, std::adopt_lock);
        }
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    return std::unique_lock<std::mutex>(mutex);
}

}  // namespace

// One appended call: a plain block, or a timed step with what its critical section read.
struct APMAnalyticsTimestampQueue::Entry {
    platform::Block block;
    TimedStep timedStep;
    double timestamp = 0;
    std::shared_ptr<const APMConsentSnapshot> consent;
    std::uint64_t ticket = 0;
    std::unique_ptr<Entry> next;

    void run() {
        if (timedStep) {
            timedStep(timestamp, std::move(consent));
        } else {
            block();
        }
    }
};

// A list of entries taken by a drain, run in order on the serial queue. The list is unlinked
// one entry at a time, so a long one (everything queued before the start ended) never recurses
// through its destructors.
class APMAnalyticsTimestampQueue::Batch {
  public:
    explicit Batch(std::unique_ptr<Entry> head) : head_(std::move(head)) {}
    ~Batch() {
        while (head_) {
            head_ = std::move(head_->next);
        }
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // REQUIRES: empty.
    void take(std::unique_ptr<Entry> head) {
        assert(!head_);
        head_ = std::move(head);
    }

    void run() {
        while (head_) {
            std::unique_ptr<Entry> entry = std::exchange(head_, std::move(head_->next));
            entry->run();
        }
    }

  private:
    std::unique_ptr<Entry> head_;
};

std::shared_ptr<APMAnalyticsTimestampQueue> APMAnalyticsTimestampQueue::create(
    std::shared_ptr<platform::OperationQueue> operations, platform::QueueRef serialQueue,
    ClockFunction clock) {
    return std::make_shared<APMAnalyticsTimestampQueue>(Passkey(), std::move(operations),
                                                        std::move(serialQueue), clock);
}

APMAnalyticsTimestampQueue::APMAnalyticsTimestampQueue(
    Passkey, std::shared_ptr<platform::OperationQueue> operations, platform::QueueRef serialQueue,
    ClockFunction clock)
    : operations_(std::move(operations)), serialQueue_(std::move(serialQueue)), clock_(clock) {
    assert(operations_ && serialQueue_ && clock_);
}

APMAnalyticsTimestampQueue::~APMAnalyticsTimestampQueue() {
    // A drain keeps the queue alive, so only a list that no drain was queued for can be left.
    Batch unrun(std::move(head_));
}

void APMAnalyticsTimestampQueue::queue(platform::Block block) {
    assert(block);
    auto entry = std::make_unique<Entry>();
    entry->block = std::move(block);
    append(entry, false, 0);
}

void APMAnalyticsTimestampQueue::queueWithTimestamp(TimedStep step) {
    assert(step);
    auto entry = std::make_unique<Entry>();
    entry->timedStep = std::move(step);
    // Taking the consent may wait for the consent queue, so it is taken before the section and
    // taken again in the rare case that a consent write slipped in between.
    for (;;) {
        const std::uint64_t writes = APMConsentSettingsUtil::writesIssued();
        entry->consent = APMConsentSettingsUtil::snapshot();
        if (append(entry, true, writes)) {
            return;
        }
    }
}

bool APMAnalyticsTimestampQueue::append(std::unique_ptr<Entry>& entry, bool timed,
                                        std::uint64_t consentWrites) {
    bool queueDrain = false;
    {
        const std::unique_lock lock = lockAfterSpinning(mutex_);
        if (timed) {
            if (APMConsentSettingsUtil::writesIssued() != consentWrites) {
                return false;
            }
            entry->timestamp = clock_();
        }
        entry->ticket = ++lastTicket_;
        Entry* const appended = entry.get();
        if (tail_ != nullptr) {
            tail_->next = std::move(entry);
        } else {
            head_ = std::move(entry);
        }
        tail_ = appended;
        queueDrain = !std::exchange(drainQueued_, true);
    }
    if (queueDrain) {
        operations_->addOperation([self = shared_from_this()] { self->drain(); });
    }
    return true;
}

void APMAnalyticsTimestampQueue::drain() {
    // Made before the list is taken: callers wait for no allocation.
    auto batch = std::make_shared<Batch>(nullptr);
    std::uint64_t through = 0;
    {
        std::lock_guard lock(mutex_);
        assert(drainQueued_ && head_);
        through = tail_->ticket;
        batch->take(std::move(head_));
        tail_ = nullptr;
        drainQueued_ = false;
    }
    serialQueue_->async([batch = std::move(batch)] { batch->run(); });
    {
        std::lock_guard lock(postedMutex_);
        postedThrough_ = through;
    }
    posted_.notify_all();
}

void APMAnalyticsTimestampQueue::waitUntilAllAreQueued() {
    // A wait of the dispatch layer's kind: on a pool worker it frees the worker's slot, since
    // the drain it waits for needs a worker too.
    platform::WorkerPool::BlockedScope blocked;
    std::uint64_t target = 0;
    {
        std::lock_guard lock(mutex_);
        target = lastTicket_;
    }
    std::unique_lock lock(postedMutex_);
    posted_.wait(lock, [&] { return postedThrough_ >= target; });
}
