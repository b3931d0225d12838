// Puts 1,000 briefly blocking blocks on a concurrent queue at once (they sleep, which is no
// dispatch wait: the pool grows to its cap, not beyond). Then puts 64 blocks on a concurrent
// queue that wait on a semaphore signalled by a block queued behind them, and 64 that await a
// settled promise (the pool replaces blocked workers, so both must finish), and combines
// 100,000 settled promises with `any` (linear: it must finish in seconds). Then builds 2,000
// promise chains of 20 steps across serial, concurrent and main queues from 12 threads, with an
// adopted promise every few steps, while the main thread drains the main queue; then drops 10
// pending chains of 200,000 steps. Prints the worker-thread cap and hard limit, the most workers
// alive at once and the throughput in settled promises per second. Exits with 1 when a chain ends
// with a wrong value, blocked or awaiting blocks do not finish, `any` takes too long, the group
// does not become idle, sleeping blocks took the pool past its cap, or blocked ones past its hard
// limit.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/WorkerPool.h"
#include "sdk/promises/VPLPromise.h"

namespace {

constexpr int kThreads = 12;
constexpr int kChains = 2000;
constexpr int kSteps = 20;
constexpr int kAdoptEvery = 5;  // every fifth step returns a promise made on another queue
constexpr int kLongChains = 10;
constexpr int kLongSteps = 200000;
constexpr int kBlockingBlocks = 1000;
constexpr int kBlockedWorkers = 64;
constexpr int kAnyInputs = 100000;
// Far more than any run needs (the blocked ones take milliseconds, `any` well under a second);
// a run past it counts as hung or quadratic.
constexpr auto kRunLimit = std::chrono::seconds(60);

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Totals {
    std::atomic<long> settled{0};  // promises settled (heads, steps, adopted ones)
    std::atomic<int> finished{0};  // chains whose last step ran
    std::atomic<int> wrong{0};     // chains that ended with a value other than kSteps
};

// One chain: a head fulfilled with 0 and kSteps steps that each add 1, spread over the queues.
void buildChain(const std::vector<platform::QueueRef>& queues, int chain, Totals& totals) {
    auto head = VPLPromise::pendingPromise();
    VPLPromise::Ptr step = head;
    for (int s = 1; s <= kSteps; ++s) {
        const platform::QueueRef& queue = queues[(chain + s) % queues.size()];
        const platform::QueueRef& other = queues[(chain + s + 1) % queues.size()];
        step = step->then(queue, [&totals, s, other](const VPLValue& value) -> VPLValue {
            totals.settled.fetch_add(1, std::memory_order_relaxed);
            const std::int64_t next = *value.value()->intValue() + 1;
            if (s % kAdoptEvery != 0) {
                return VPLValue(next);
            }
            totals.settled.fetch_add(1, std::memory_order_relaxed);  // the adopted promise
            return VPLValue(VPLPromise::doWork(other, [next] { return VPLValue(next); }));
        });
    }
    step->observeOnQueue(
        queues[chain % queues.size()],
        [&totals](const VPLValue& value) {
            if (*value.value()->intValue() != kSteps) {
                totals.wrong.fetch_add(1);
            }
            totals.finished.fetch_add(1);
        },
        [&totals](const sdk::Error&) {
            totals.wrong.fetch_add(1);
            totals.finished.fetch_add(1);
        });
    head->fulfill(0);
    totals.settled.fetch_add(1, std::memory_order_relaxed);
}

void runBlockingBlocks() {
    auto queue = platform::DispatchQueue::createConcurrent("stress.blocking");
    platform::DispatchGroup group;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kBlockingBlocks; ++i) {
        group.async(queue, [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
    }
    group.wait();
    std::printf("blocking blocks: %d of 2 ms in %.3f s, peak worker threads so far: %zu\n",
                kBlockingBlocks, secondsSince(start),
                platform::WorkerPool::shared().stats().peakWorkers);
}

// Blocks that wait in dispatch waits for work queued behind them. Returns false when they do
// not all finish.
bool runBlockedWorkers() {
    auto queue = platform::DispatchQueue::createConcurrent("stress.blocked");
    const Clock::time_point start = Clock::now();
    platform::DispatchSemaphore gate, done;
    for (int i = 0; i < kBlockedWorkers; ++i) {
        queue->async([gate, done] {
            gate.wait();
            done.signal();
        });
    }
    queue->async([gate] {
        for (int i = 0; i < kBlockedWorkers; ++i) {
            gate.signal();
        }
    });
    auto settled = VPLPromise::resolvedWith(1);
    for (int i = 0; i < kBlockedWorkers; ++i) {
        queue->async([settled, done] {
            (void)VPLPromiseAwait(settled);
            done.signal();
        });
    }
    int finished = 0;
    const Clock::time_point deadline = Clock::now() + kRunLimit;
    while (finished < 2 * kBlockedWorkers && done.waitUntil(deadline)) {
        ++finished;
    }
    const platform::WorkerPool::Stats stats = platform::WorkerPool::shared().stats();
    std::printf(
        "blocked workers: %d semaphore waiters and %d awaiters, %d of %d finished in %.3f s, "
        "peak worker threads: %zu\n",
        kBlockedWorkers, kBlockedWorkers, finished, 2 * kBlockedWorkers, secondsSince(start),
        stats.peakWorkers);
    return finished == 2 * kBlockedWorkers;
}

// `any` over settled inputs, on a serial queue. Returns false when it does not settle in time.
bool runAnyOfSettledInputs() {
    auto queue = platform::DispatchQueue::createSerial("stress.any");
    VPLValue::List inputs;
    inputs.reserve(kAnyInputs);
    for (int i = 0; i < kAnyInputs; ++i) {
        inputs.emplace_back(VPLPromise::resolvedWith(i));
    }
    const Clock::time_point start = Clock::now();
    auto combined = VPLPromise::any(queue, std::move(inputs));
    platform::DispatchSemaphore settled;
    combined->observeOnQueue(
        queue, [settled](const VPLValue&) { settled.signal(); },
        [settled](const sdk::Error&) { settled.signal(); });
    const bool done = settled.wait(kRunLimit);
    std::printf("any of %d settled inputs: %s in %.3f s\n", kAnyInputs,
                done ? "settled" : "NOT settled", secondsSince(start));
    return done && combined->isFulfilled();
}

bool runChains() {
    std::vector<platform::QueueRef> queues = {
        platform::DispatchQueue::createSerial("stress.serial.1"),
        platform::DispatchQueue::createSerial("stress.serial.2"),
        platform::DispatchQueue::createSerial("stress.serial.3"),
        platform::DispatchQueue::createConcurrent("stress.concurrent"),
        platform::DispatchQueue::main(),
    };
    Totals totals;
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int chain = t; chain < kChains; chain += kThreads) {
                buildChain(queues, chain, totals);
            }
        });
    }
    const bool done = platform::runMainQueueUntil([&] { return totals.finished.load() == kChains; },
                                                  std::chrono::minutes(5));
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double elapsed = secondsSince(start);
    std::printf("chains: %d of %d steps from %d threads, %d finished, %d wrong\n", kChains, kSteps,
                kThreads, totals.finished.load(), totals.wrong.load());
    std::printf("settled promises: %ld in %.3f s (%.0f per second)\n", totals.settled.load(),
                elapsed, static_cast<double>(totals.settled.load()) / elapsed);
    return done && totals.wrong.load() == 0;
}

void dropLongChains() {
    auto queue = platform::DispatchQueue::createSerial("stress.long");
    const Clock::time_point start = Clock::now();
    for (int c = 0; c < kLongChains; ++c) {
        auto head = VPLPromise::pendingPromise();
        VPLPromise::Ptr step = head;
        for (int s = 0; s < kLongSteps; ++s) {
            step = step->then(queue, [](const VPLValue& value) { return value; });
        }
        // head and step go out of scope here: the whole chain is released unsettled.
    }
    std::printf("dropped %d pending chains of %d steps in %.3f s\n", kLongChains, kLongSteps,
                secondsSince(start));
}

}  // namespace

int main() {
    platform::registerMainThread();
    std::printf("worker thread cap: %zu, hard limit: %zu\n", platform::WorkerPool::kMaxWorkers,
                platform::WorkerPool::kHardLimit);
    runBlockingBlocks();
    bool ok = true;
    if (platform::WorkerPool::shared().stats().peakWorkers > platform::WorkerPool::kMaxWorkers) {
        std::printf("sleeping blocks took the pool past its cap\n");
        ok = false;
    }
    ok = runBlockedWorkers() && ok;
    ok = runAnyOfSettledInputs() && ok;
    ok = runChains() && ok;
    dropLongChains();
    if (!VPLPromiseWaitUntilIdle(60)) {
        std::printf("the promise group did not become idle\n");
        ok = false;
    }
    const platform::WorkerPool::Stats stats = platform::WorkerPool::shared().stats();
    std::printf("peak worker threads: %zu\n", stats.peakWorkers);
    if (stats.peakWorkers > platform::WorkerPool::kHardLimit) {
        ok = false;
    }
    std::printf("%s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
