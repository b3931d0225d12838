#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/dispatch/DeadlineScheduler.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/WorkerPool.h"

namespace platform {

namespace {

// The queue whose block the current thread is running, if any (the innermost one).
thread_local const DispatchQueue* tCurrentQueue = nullptr;

// The current thread's record of running queues: every queue whose block it is in, plus the
// queues of threads that wait in `sync` for the block it runs. Innermost last.
thread_local std::vector<const DispatchQueue*> tRunningQueues;

// Marks the current thread as running blocks of `queue` for the scope's lifetime.
class CurrentQueueScope {
  public:
    explicit CurrentQueueScope(const DispatchQueue* queue) : previous_(tCurrentQueue) {
        tCurrentQueue = queue;
        tRunningQueues.push_back(queue);
    }
    ~CurrentQueueScope() {
        tRunningQueues.pop_back();
        tCurrentQueue = previous_;
    }
    CurrentQueueScope(const CurrentQueueScope&) = delete;
    CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

  private:
    const DispatchQueue* previous_;
};

// Adds the running queues of a thread that waits in `sync` to the current thread's record for
// the scope's lifetime: the block runs on that thread's behalf.
class InheritedQueuesScope {
  public:
    explicit InheritedQueuesScope(const std::vector<const DispatchQueue*>& inherited)
        : size_(tRunningQueues.size()) {
        tRunningQueues.insert(tRunningQueues.end(), inherited.begin(), inherited.end());
    }
    ~InheritedQueuesScope() { tRunningQueues.resize(size_); }
    InheritedQueuesScope(const InheritedQueuesScope&) = delete;
    InheritedQueuesScope& operator=(const InheritedQueuesScope&) = delete;

  private:
    const std::size_t size_;
};

struct MainQueueWakeup {
    std::mutex mutex;
    std::function<void()> hook;  // guarded by mutex
};

MainQueueWakeup& mainQueueWakeup() {
    static MainQueueWakeup* const wakeup = new MainQueueWakeup();
    return *wakeup;
}

// Waits between checks of a `runMainQueueUntil` condition that other threads may satisfy.
constexpr std::chrono::milliseconds kDoneCheckInterval{2};

// The function run before the process ends for an exception that escaped a block.
struct UncaughtExceptionHook {
    std::mutex mutex;
    std::function<void()> hook;  // guarded by mutex
};

UncaughtExceptionHook& uncaughtExceptionHook() {
    static UncaughtExceptionHook* const instance = new UncaughtExceptionHook();
    return *instance;
}

void runUncaughtExceptionHook() {
    std::function<void()> hook;
    {
        UncaughtExceptionHook& slot = uncaughtExceptionHook();
        std::lock_guard<std::mutex> lock(slot.mutex);
        hook = slot.hook;
    }
    if (hook) {
        hook();
    }
}

// Who waits in a `sync` across the main thread: the queue the main thread waits on, and the
// records of running queues of the threads that wait for a block on the main queue. A `sync`
// that would close a cycle through the main thread is refused with these.
struct MainSyncWaits {
    std::mutex mutex;
    const DispatchQueue* mainWaitsOn = nullptr;                      // guarded by mutex
    std::vector<const std::vector<const DispatchQueue*>*> ontoMain;  // guarded by mutex
};

MainSyncWaits& mainSyncWaits() {
    static MainSyncWaits* const instance = new MainSyncWaits();
    return *instance;
}

bool contains(const std::vector<const DispatchQueue*>& queues, const DispatchQueue* queue) {
    return std::find(queues.begin(), queues.end(), queue) != queues.end();
}

// Records, for the scope's lifetime, that the calling thread waits in a `sync` that involves
// the main thread: the main thread waiting on `target`, or another thread (whose running
// queues are `record`) waiting on the main queue. Throws std::logic_error, recording nothing,
// when the other side of a cycle is already waiting.
class MainSyncWaitScope {
  public:
    MainSyncWaitScope(const DispatchQueue* target, bool fromMainThread,
                      const std::vector<const DispatchQueue*>* record)
        : fromMainThread_(fromMainThread), record_(record) {
        MainSyncWaits& waits = mainSyncWaits();
        std::lock_guard<std::mutex> lock(waits.mutex);
        if (fromMainThread_) {
            for (const std::vector<const DispatchQueue*>* waiter : waits.ontoMain) {
                if (contains(*waiter, target)) {
                    throw std::logic_error("sync onto queue \"" + target->label() +
                                           "\" from the main thread while a block of it waits "
                                           "in sync onto the main queue would wait forever");
                }
            }
            previous_ = std::exchange(waits.mainWaitsOn, target);
        } else {
            if (waits.mainWaitsOn != nullptr && contains(*record_, waits.mainWaitsOn)) {
                throw std::logic_error(
                    "sync onto the main queue from a block of queue \"" +
                    waits.mainWaitsOn->label() +
                    "\", which the main thread waits for in sync, would wait forever");
            }
            waits.ontoMain.push_back(record_);
        }
    }
    ~MainSyncWaitScope() {
        MainSyncWaits& waits = mainSyncWaits();
        std::lock_guard<std::mutex> lock(waits.mutex);
        if (fromMainThread_) {
            waits.mainWaitsOn = previous_;
        } else {
            waits.ontoMain.erase(std::find(waits.ontoMain.begin(), waits.ontoMain.end(), record_));
        }
    }
    MainSyncWaitScope(const MainSyncWaitScope&) = delete;
    MainSyncWaitScope& operator=(const MainSyncWaitScope&) = delete;

  private:
    const bool fromMainThread_;
    const std::vector<const DispatchQueue*>* const record_;
    const DispatchQueue* previous_ = nullptr;
};

}  // namespace

DispatchQueue::DispatchQueue(Passkey, std::string label, Kind kind)
    : label_(std::move(label)), kind_(kind) {}

QueueRef DispatchQueue::createSerial(std::string label) {
    return std::make_shared<DispatchQueue>(Passkey(), std::move(label), Kind::kSerial);
}

QueueRef DispatchQueue::createConcurrent(std::string label) {
    return std::make_shared<DispatchQueue>(Passkey(), std::move(label), Kind::kConcurrent);
}

const QueueRef& DispatchQueue::main() {
    // Never destroyed: timers and workers may still submit to it while the process exits.
    static const QueueRef* const queue =
        new QueueRef(std::make_shared<DispatchQueue>(Passkey(), "main", Kind::kMain));
    return *queue;
}

const QueueRef& DispatchQueue::global() {
    static const QueueRef* const queue = new QueueRef(createConcurrent("global"));
    return *queue;
}

void DispatchQueue::async(Block block) {
    switch (kind_) {
        case Kind::kSerial:
            enqueueSerial(std::move(block));
            break;
        case Kind::kMain:
            enqueueMain(std::move(block));
            break;
        case Kind::kConcurrent:
            WorkerPool::shared().submit(
                [self = shared_from_this(), block = std::move(block)]() mutable {
                    CurrentQueueScope scope(self.get());
                    self->runBlock(block);
                });
            break;
    }
}

void DispatchQueue::sync(const std::function<void()>& block) {
    if (waitsOnItself()) {
        throw std::logic_error("sync onto queue \"" + label_ +
                               "\" from a thread that runs it would wait forever");
    }
    if (kind_ == Kind::kConcurrent || (kind_ == Kind::kSerial && claimIdleSerial())) {
        runInline(block);
        return;
    }
    syncThroughQueue(block);
}

bool DispatchQueue::waitsOnItself() const {
    if (kind_ == Kind::kConcurrent) {
        return false;
    }
    if (kind_ == Kind::kMain && isMainThread()) {
        return true;
    }
    return std::find(tRunningQueues.begin(), tRunningQueues.end(), this) != tRunningQueues.end();
}

bool DispatchQueue::claimIdleSerial() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (drainScheduled_ || suspendCount_ > 0) {
        return false;
    }
    // Claimed like a drain: blocks submitted meanwhile wait until releaseSerialClaim.
    drainScheduled_ = true;
    return true;
}

void DispatchQueue::releaseSerialClaim() {
    bool scheduleDrain = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        scheduleDrain = !blocks_.empty() && suspendCount_ == 0;
        drainScheduled_ = scheduleDrain;
    }
    if (scheduleDrain) {
        submitDrain();
    }
}

// Runs `block` on the calling thread as a block of this queue (an idle serial queue claimed
// by claimIdleSerial, or a concurrent queue), which saves two thread hand-offs.
void DispatchQueue::runInline(const std::function<void()>& block) {
    const bool serial = kind_ == Kind::kSerial;
    try {
        CurrentQueueScope scope(this);
        block();
    } catch (...) {
        if (serial) {
            releaseSerialClaim();
        }
        throw;
    }
    if (serial) {
        releaseSerialClaim();
    }
}

void DispatchQueue::syncThroughQueue(const std::function<void()>& block) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr error;
    // The block runs on behalf of this thread: it may not wait for a queue this thread runs,
    // nor, from the main thread, for the main queue.
    std::vector<const DispatchQueue*> waiting = tRunningQueues;
    const bool fromMainThread = isMainThread();
    if (fromMainThread) {
        waiting.push_back(main().get());
    }
    std::optional<MainSyncWaitScope> mainSyncWait;
    if (fromMainThread || kind_ == Kind::kMain) {
        mainSyncWait.emplace(this, fromMainThread, &waiting);
    }
    async([&] {
        try {
            InheritedQueuesScope inherit(waiting);
            block();
        } catch (...) {
            error = std::current_exception();
        }
        // Notify under the lock: the waiter may return and destroy `finished` right after.
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_one();
    });
    {
        WorkerPool::BlockedScope blocked;
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [&] { return done; });
    }
    mainSyncWait.reset();
    if (error) {
        std::rethrow_exception(error);
    }
}

Cancellable DispatchQueue::after(Clock::duration delay, Block block) {
    return schedule(Deadline::monotonic(deadlineAfter(delay)), std::move(block));
}

Cancellable DispatchQueue::at(WallClock::time_point when, Block block) {
    return schedule(Deadline::wall(when), std::move(block));
}

Cancellable DispatchQueue::schedule(Deadline deadline, Block block) {
    auto state = std::make_shared<Cancellable::State>();
    auto fire = [self = shared_from_this(), state, block = std::move(block)]() mutable {
        if (state->cancelled.load(std::memory_order_acquire)) {
            return;
        }
        self->async([state, block = std::move(block)] {
            if (!state->cancelled.load(std::memory_order_acquire)) {
                block();
            }
        });
    };
    state->key = DeadlineScheduler::shared().schedule(deadline, std::move(fire));
    return Cancellable(std::move(state));
}

void DispatchQueue::suspend() {
    if (kind_ != Kind::kSerial) {
        throw std::logic_error("only a serial queue can be suspended");
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++suspendCount_;
}

void DispatchQueue::resume() {
    if (kind_ != Kind::kSerial) {
        throw std::logic_error("only a serial queue can be resumed");
    }
    bool scheduleDrain = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (suspendCount_ == 0) {
            throw std::logic_error("resume of queue \"" + label_ + "\" without a suspend");
        }
        if (--suspendCount_ == 0 && !drainScheduled_ && !blocks_.empty()) {
            drainScheduled_ = true;
            scheduleDrain = true;
        }
    }
    if (scheduleDrain) {
        submitDrain();
    }
}

bool DispatchQueue::isCurrent() const {
    return tCurrentQueue == this;
}

void DispatchQueue::enqueueSerial(Block block) {
    bool scheduleDrain = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        blocks_.push_back(std::move(block));
        if (!drainScheduled_ && suspendCount_ == 0) {
            drainScheduled_ = true;
            scheduleDrain = true;
        }
    }
    if (scheduleDrain) {
        submitDrain();
    }
}

void DispatchQueue::submitDrain() {
    WorkerPool::shared().submit([self = shared_from_this()] { self->drainSerial(); });
}

void DispatchQueue::drainSerial() {
    CurrentQueueScope scope(this);
    for (;;) {
        Block block;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (blocks_.empty() || suspendCount_ > 0) {
                drainScheduled_ = false;
                return;
            }
            block = std::move(blocks_.front());
            blocks_.pop_front();
        }
        runBlock(block);
    }
}

void DispatchQueue::enqueueMain(Block block) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        blocks_.push_back(std::move(block));
    }
    workArrived_.notify_all();
    std::function<void()> hook;
    {
        MainQueueWakeup& wakeup = mainQueueWakeup();
        std::lock_guard<std::mutex> lock(wakeup.mutex);
        hook = wakeup.hook;
    }
    if (hook) {
        hook();
    }
}

std::size_t DispatchQueue::drainPending() {
    std::lock_guard<std::recursive_mutex> drainLock(drainMutex_);
    std::size_t queued = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued = blocks_.size();
    }
    std::size_t ran = 0;
    for (; ran < queued; ++ran) {
        Block block;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (blocks_.empty()) {
                break;  // a nested drain ran the rest
            }
            block = std::move(blocks_.front());
            blocks_.pop_front();
        }
        CurrentQueueScope scope(this);
        runBlock(block);
    }
    return ran;
}

void DispatchQueue::runBlock(Block& block) const {
    try {
        block();
    } catch (const std::exception& e) {
        runUncaughtExceptionHook();
        std::fprintf(stderr, "Uncaught exception in a block on queue \"%s\": %s\n", label_.c_str(),
                     e.what());
        std::terminate();
    } catch (...) {
        runUncaughtExceptionHook();
        std::fprintf(stderr, "Uncaught exception in a block on queue \"%s\"\n", label_.c_str());
        std::terminate();
    }
}

void setUncaughtExceptionHook(std::function<void()> hook) {
    UncaughtExceptionHook& slot = uncaughtExceptionHook();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.hook = std::move(hook);
}

void setMainQueueWakeup(std::function<void()> wakeup) {
    MainQueueWakeup& state = mainQueueWakeup();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.hook = std::move(wakeup);
}

std::size_t drainMainQueue() {
    return DispatchQueue::main()->drainPending();
}

bool runMainQueueUntil(const std::function<bool()>& done, Clock::duration timeout) {
    DispatchQueue& queue = *DispatchQueue::main();
    const Clock::time_point deadline = deadlineAfter(timeout);
    for (;;) {
        queue.drainPending();
        if (done()) {
            return true;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        const Clock::time_point until =
            deadline - now > kDoneCheckInterval ? now + kDoneCheckInterval : deadline;
        std::unique_lock<std::mutex> lock(queue.mutex_);
        queue.workArrived_.wait_until(lock, until, [&] { return !queue.blocks_.empty(); });
    }
}

void runMainQueueFor(Clock::duration duration) {
    runMainQueueUntil([] { return false; }, duration);
}

}  // namespace platform
