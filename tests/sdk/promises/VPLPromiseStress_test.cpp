#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/promises/VPLPromise.h"
#include "tests/sdk/promises/PromiseTestSupport.h"

namespace {

// Eight threads settle and observe the same promises at once, racing fulfil against reject
// and registration against settlement; every observer must run exactly once.
TEST(VPLPromiseStress, EightThreadsSettleAndObserveEveryPromiseOnce) {
    constexpr int kThreads = 8;
    constexpr int kPromises = 2000;
    constexpr int kObserversPerThread = 2;

    std::vector<VPLPromise::Ptr> promises;
    for (int i = 0; i < kPromises; ++i) {
        promises.push_back(VPLPromise::pendingPromise());
    }
    std::vector<platform::QueueRef> queues = {
        platform::DispatchQueue::createSerial("stress.a"),
        platform::DispatchQueue::createSerial("stress.b"),
        platform::DispatchQueue::createConcurrent("stress.c"),
    };
    // Per promise, how many of its observers saw it fulfilled and how many rejected.
    std::vector<std::atomic<int>> fulfilled(kPromises);
    std::vector<std::atomic<int>> rejected(kPromises);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPromises; ++i) {
                const std::size_t index = (i + t * 97) % kPromises;
                const VPLPromise::Ptr& p = promises[index];
                for (int k = 0; k < kObserversPerThread; ++k) {
                    p->observeOnQueue(
                        queues[(t + k) % queues.size()],
                        [&, index](const VPLValue&) { ++fulfilled[index]; },
                        [&, index](const sdk::Error&) { ++rejected[index]; });
                }
                if ((i + t) % 3 == 0) {
                    p->fulfill(t);
                } else if ((i + t) % 3 == 1) {
                    p->reject(promises_test::testError(t + 1));
                }
                (void)p->value();
                (void)p->description();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const VPLPromise::Ptr& p : promises) {
        p->fulfill(-1);  // settles the few no thread settled; ignored by the rest
    }

    EXPECT_TRUE(VPLPromiseWaitUntilIdle(30));
    constexpr int kObservers = kThreads * kObserversPerThread;
    for (int i = 0; i < kPromises; ++i) {
        SCOPED_TRACE("promise " + std::to_string(i));
        // Every observer ran once and saw the outcome the promise kept.
        if (promises[i]->isFulfilled()) {
            ASSERT_EQ(fulfilled[i], kObservers);
            ASSERT_EQ(rejected[i], 0);
        } else {
            ASSERT_TRUE(promises[i]->isRejected());
            ASSERT_EQ(rejected[i], kObservers);
            ASSERT_EQ(fulfilled[i], 0);
        }
    }
}

// Eight threads chain onto promises that other threads settle, with transforms that return
// promises still pending: adoption must carry every outcome through exactly once.
TEST(VPLPromiseStress, ChainsAdoptAcrossThreads) {
    constexpr int kThreads = 8;
    constexpr int kChains = 500;
    auto queue = platform::DispatchQueue::createConcurrent("stress.chains");
    std::vector<VPLPromise::Ptr> sources(kChains);
    std::vector<VPLPromise::Ptr> inner(kChains);
    for (int i = 0; i < kChains; ++i) {
        sources[i] = VPLPromise::pendingPromise();
        inner[i] = VPLPromise::pendingPromise();
    }
    std::vector<std::vector<VPLPromise::Ptr>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kChains; ++i) {
                results[t].push_back(sources[i]->then(
                    queue, [adopted = inner[i]](const VPLValue&) { return VPLValue(adopted); }));
                // Each thread settles its share of both ends while others still chain.
                if (i % kThreads == t) {
                    sources[i]->fulfill(i);
                    inner[i]->fulfill(i * 2);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(30));
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kChains; ++i) {
            ASSERT_EQ(results[t][i]->value(), VPLValue(i * 2)) << "thread " << t << " chain " << i;
        }
    }
}

}  // namespace
