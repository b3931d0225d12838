#include "platform/dispatch/DispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/DeadlineScheduler.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/MainQueue.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

// Generous: these bound waits for work that is due now, so they only matter when broken.
constexpr auto kLongWait = 10s;

TEST(DispatchQueueTest, SerialQueueRunsBlocksInOrderOneAtATime) {
    QueueRef queue = DispatchQueue::createSerial("test.fifo");
    std::vector<int> order;  // touched only on the queue
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 1000; ++i) {
        queue->async([&, i] {
            if (running.fetch_add(1) != 0) {
                overlapped = true;
            }
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue->sync([] {});
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(order[i], i);
    }
}

TEST(DispatchQueueTest, ConcurrentSubmittersKeepPerThreadOrder) {
    QueueRef queue = DispatchQueue::createSerial("test.submitters");
    std::vector<std::pair<int, int>> seen;  // (thread, sequence), touched only on the queue
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                queue->async([&seen, t, i] { seen.emplace_back(t, i); });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    queue->sync([] {});
    ASSERT_EQ(seen.size(), 800u);
    std::vector<int> next(4, 0);
    for (auto [t, i] : seen) {
        ASSERT_EQ(i, next[t]++) << "thread " << t;
    }
}

TEST(DispatchQueueTest, SyncFromAnotherThreadRunsOnTheQueueAndWaits) {
    QueueRef queue = DispatchQueue::createSerial("test.sync");
    int value = 0;  // touched only on the queue, read after sync returns
    bool onQueue = false;
    queue->async([&] { value = 1; });
    std::thread other([&] {
        queue->sync([&] {
            onQueue = queue->isCurrent();
            value += 10;
        });
    });
    other.join();
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(value, 11);
    EXPECT_FALSE(queue->isCurrent());
}

TEST(DispatchQueueTest, SyncWaitsBehindQueuedBlocksAndKeepsOrder) {
    QueueRef queue = DispatchQueue::createSerial("test.sync-order");
    DispatchSemaphore gate, started;
    std::vector<int> order;  // touched only on the queue
    queue->async([&] {
        started.signal();
        (void)gate.wait(kLongWait);
        order.push_back(1);
    });
    queue->async([&] { order.push_back(2); });
    ASSERT_TRUE(started.wait(kLongWait));
    std::thread other([&] { queue->sync([&] { order.push_back(3); }); });
    std::this_thread::sleep_for(20ms);
    gate.signal();
    other.join();
    queue->sync([] {});
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(DispatchQueueTest, BlocksSubmittedDuringSyncRunAfterIt) {
    QueueRef queue = DispatchQueue::createSerial("test.sync-then-async");
    std::vector<int> order;
    DispatchSemaphore done;
    queue->sync([&] {
        queue->async([&] {
            order.push_back(2);
            done.signal();
        });
        std::this_thread::sleep_for(10ms);
        order.push_back(1);
    });
    ASSERT_TRUE(done.wait(kLongWait));
    queue->sync([] {});
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(DispatchQueueTest, SyncRethrowsTheBlocksException) {
    QueueRef queue = DispatchQueue::createSerial("test.throw");
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    // The queue keeps working afterwards.
    int ran = 0;
    queue->sync([&] { ran = 1; });
    EXPECT_EQ(ran, 1);
}

TEST(DispatchQueueTest, SyncOntoTheCurrentQueueIsRefused) {
    QueueRef queue = DispatchQueue::createSerial("test.self");
    bool refused = false;
    queue->sync([&] {
        try {
            queue->sync([] {});
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    EXPECT_TRUE(refused);
}

TEST(DispatchQueueTest, ConcurrentQueueAcceptsSyncFromItsOwnBlock) {
    QueueRef queue = DispatchQueue::createConcurrent("test.concurrent-sync");
    int inner = 0;
    queue->sync([&] { queue->sync([&] { inner = queue->isCurrent() ? 1 : -1; }); });
    EXPECT_EQ(inner, 1);
}

TEST(DispatchQueueTest, NestedSyncAcrossQueuesDoesNotStarve) {
    // Many queues each block in sync on a shared queue at once: the pool must not run out.
    QueueRef shared = DispatchQueue::createSerial("test.shared");
    DispatchSemaphore done;
    std::atomic<int> count{0};
    std::vector<QueueRef> queues;
    for (int i = 0; i < 32; ++i) {
        queues.push_back(DispatchQueue::createSerial("test.outer"));
        queues.back()->async([&] {
            shared->sync([&] { count.fetch_add(1); });
            done.signal();
        });
    }
    for (int i = 0; i < 32; ++i) {
        ASSERT_TRUE(done.wait(kLongWait));
    }
    EXPECT_EQ(count.load(), 32);
}

TEST(DispatchQueueTest, IsCurrentDistinguishesQueues) {
    QueueRef a = DispatchQueue::createSerial("test.a");
    QueueRef b = DispatchQueue::createSerial("test.b");
    bool aOnA = false, bOnA = true, aInsideB = true, bInsideB = false;
    a->sync([&] {
        aOnA = a->isCurrent();
        bOnA = b->isCurrent();
        b->sync([&] {
            aInsideB = a->isCurrent();
            bInsideB = b->isCurrent();
        });
    });
    EXPECT_TRUE(aOnA);
    EXPECT_FALSE(bOnA);
    EXPECT_FALSE(aInsideB);
    EXPECT_TRUE(bInsideB);
    EXPECT_EQ(a->label(), "test.a");
}

TEST(DispatchQueueTest, ConcurrentQueueRunsBlocksInParallel) {
    // Two blocks that each wait for the other can only finish when they run at the same time.
    QueueRef queue = DispatchQueue::createConcurrent("test.concurrent");
    DispatchSemaphore first, second, done;
    queue->async([&] {
        first.signal();
        if (second.wait(kLongWait)) {
            done.signal();
        }
    });
    queue->async([&] {
        second.signal();
        if (first.wait(kLongWait)) {
            done.signal();
        }
    });
    EXPECT_TRUE(done.wait(kLongWait));
    EXPECT_TRUE(done.wait(kLongWait));
}

TEST(DispatchQueueTest, QueueStaysAliveUntilItsBlocksHaveRun) {
    DispatchSemaphore gate, done;
    std::weak_ptr<DispatchQueue> weak;
    {
        QueueRef queue = DispatchQueue::createSerial("test.lifetime");
        weak = queue;
        queue->async([&] { (void)gate.wait(kLongWait); });
        queue->async([&] { done.signal(); });
    }
    gate.signal();
    EXPECT_TRUE(done.wait(kLongWait));
    // The drain job lets go of the queue once the last block has returned.
    for (int i = 0; i < 10000 && !weak.expired(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(weak.expired());
}

TEST(DispatchQueueTest, AfterFiresOnceNotBeforeItsDelay) {
    QueueRef queue = DispatchQueue::createSerial("test.after");
    std::atomic<int> fired{0};
    bool onQueue = false;
    DispatchSemaphore done;
    const Clock::time_point start = Clock::now();
    Clock::time_point firedAt;
    (void)queue->after(50ms, [&] {
        firedAt = Clock::now();
        onQueue = queue->isCurrent();
        fired.fetch_add(1);
        done.signal();
    });
    ASSERT_TRUE(done.wait(kLongWait));
    EXPECT_GE(firedAt - start, 50ms);
    EXPECT_TRUE(onQueue);
    // Nothing fires a second time.
    std::this_thread::sleep_for(100ms);
    queue->sync([] {});
    EXPECT_EQ(fired.load(), 1);
}

TEST(DispatchQueueTest, CancelledAfterNeverRunsAndReleasesItsBlock) {
    QueueRef queue = DispatchQueue::createSerial("test.cancel");
    std::atomic<bool> ran{false};
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> weakToken = token;
    Cancellable handle = queue->after(300ms, [&ran, token] { ran = true; });
    token.reset();
    EXPECT_FALSE(handle.isCancelled());
    handle.cancel();
    EXPECT_TRUE(handle.isCancelled());
    EXPECT_TRUE(weakToken.expired());
    // A later block on the same queue, due after the cancelled one would have been.
    DispatchSemaphore done;
    (void)queue->after(400ms, [&] { done.signal(); });
    ASSERT_TRUE(done.wait(kLongWait));
    EXPECT_FALSE(ran);
}

TEST(DispatchQueueTest, CancelOnTheQueueStopsABlockAlreadyDue) {
    // The after-block becomes due while the queue is busy; cancelling from the queue still
    // prevents it from running.
    QueueRef queue = DispatchQueue::createSerial("test.cancel-due");
    std::atomic<bool> ran{false};
    Cancellable handle;
    queue->sync([&] {
        handle = queue->after(0ms, [&] { ran = true; });
        std::this_thread::sleep_for(50ms);
        handle.cancel();
    });
    std::this_thread::sleep_for(50ms);
    queue->sync([] {});
    EXPECT_FALSE(ran);
}

TEST(DispatchQueueTest, EntriesDueAtTheSameTimeKeepTheirOrder) {
    QueueRef queue = DispatchQueue::createSerial("test.after-order");
    std::vector<int> order;  // touched only on the queue
    DispatchSemaphore done;
    // The same monotonic time point for every entry of the scheduler, and the same wall-clock
    // time point for every `at` block.
    const Clock::time_point due = Clock::now() + 20ms;
    for (int i = 0; i < 10; ++i) {
        DeadlineScheduler::shared().schedule(
            due, [queue, &order, i] { queue->async([&order, i] { order.push_back(i); }); });
    }
    const WallClock::time_point wallDue = WallClock::now() + 20ms;
    for (int i = 10; i < 20; ++i) {
        (void)queue->at(wallDue, [&, i] {
            order.push_back(i);
            if (i == 19) {
                done.signal();
            }
        });
    }
    ASSERT_TRUE(done.wait(kLongWait));
    queue->sync([] {});
    std::vector<int> expected;
    for (int i = 0; i < 20; ++i) {
        expected.push_back(i);
    }
    EXPECT_EQ(order, expected);
}

TEST(DispatchQueueTest, SyncLoopsAcrossQueuesAreRefused) {
    QueueRef a = DispatchQueue::createSerial("test.loop-a");
    QueueRef b = DispatchQueue::createSerial("test.loop-b");
    // True when the innermost sync onto `a` was refused.
    auto loopIsRefused = [&] {
        bool refused = false;
        a->sync([&] {
            b->sync([&] {
                try {
                    a->sync([] {});
                } catch (const std::logic_error&) {
                    refused = true;
                }
            });
        });
        return refused;
    };
    // b idle: its block runs inline on this thread.
    EXPECT_TRUE(loopIsRefused());
    // b busy: its block runs on b's worker, on behalf of this thread, which holds a.
    DispatchSemaphore gate, started;
    b->async([&] {
        started.signal();
        (void)gate.wait(kLongWait);
    });
    ASSERT_TRUE(started.wait(kLongWait));
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        gate.signal();
    });
    EXPECT_TRUE(loopIsRefused());
    releaser.join();
    // Both queues still work.
    int ran = 0;
    a->sync([&] { b->sync([&] { ran = 1; }); });
    EXPECT_EQ(ran, 1);
}

// The main thread waits in a->sync behind a block of `a` that syncs onto the main queue, in
// either order: the second of the two calls is refused, and nothing hangs.
TEST(DispatchQueueTest, SyncCyclesThroughTheMainThreadAreRefused) {
    ASSERT_TRUE(isMainThread());
    for (const bool mainWaitsFirst : {true, false}) {
        SCOPED_TRACE(mainWaitsFirst ? "main thread waits first" : "block waits first");
        QueueRef a = DispatchQueue::createSerial("test.main-cycle");
        DispatchSemaphore blockStarted, blockDone;
        auto blockRefused = std::make_shared<std::atomic<bool>>(false);
        a->async([=] {
            blockStarted.signal();
            if (mainWaitsFirst) {
                std::this_thread::sleep_for(200ms);  // the main thread is inside a->sync by now
            }
            try {
                DispatchQueue::main()->sync([] {});
            } catch (const std::logic_error&) {
                *blockRefused = true;
            }
            blockDone.signal();
        });
        ASSERT_TRUE(blockStarted.wait(kLongWait));
        if (!mainWaitsFirst) {
            std::this_thread::sleep_for(200ms);  // the block waits in main->sync by now
        }
        bool mainRefused = false;
        try {
            a->sync([] {});
        } catch (const std::logic_error&) {
            mainRefused = true;
        }
        // A refused main thread drains the main queue, so the block's sync completes.
        runMainQueueUntil([&] { return blockDone.wait(0ms); }, kLongWait);
        EXPECT_EQ(blockRefused->load(), mainWaitsFirst);
        EXPECT_EQ(mainRefused, !mainWaitsFirst);
        // Both still work.
        int ran = 0;
        a->sync([&] { ran = 1; });
        EXPECT_EQ(ran, 1);
    }
}

TEST(DispatchQueueTest, SuspendedSerialQueueHoldsItsBlocksUntilResumed) {
    QueueRef queue = DispatchQueue::createSerial("test.suspend");
    std::vector<int> order;  // touched only on the queue
    std::atomic<int> ran{0};
    queue->suspend();
    queue->suspend();
    for (int i = 0; i < 3; ++i) {
        queue->async([&, i] {
            order.push_back(i);
            ran.fetch_add(1);
        });
    }
    std::atomic<bool> syncReturned{false};
    std::thread syncer([&] {
        queue->sync([&] { order.push_back(3); });
        syncReturned = true;
    });
    std::this_thread::sleep_for(50ms);
    queue->resume();  // one suspend is left
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_FALSE(syncReturned);
    queue->resume();
    syncer.join();
    queue->sync([] {});
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_THROW(queue->resume(), std::logic_error);
    EXPECT_THROW(DispatchQueue::createConcurrent("test.c")->suspend(), std::logic_error);
}

TEST(DispatchQueueTest, SuspendFromABlockStopsTheBlocksBehindIt) {
    QueueRef queue = DispatchQueue::createSerial("test.suspend-inside");
    std::atomic<int> ran{0};
    queue->async([&] { queue->suspend(); });
    queue->async([&] { ran.fetch_add(1); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ran.load(), 0);
    queue->resume();
    queue->sync([] {});
    EXPECT_EQ(ran.load(), 1);
}

// Each test sets the wall clock it needs and restores the system clock afterwards.
class WallClockTest : public ::testing::Test {
  protected:
    void TearDown() override { TEST_setWallClockTime(std::nullopt); }
    const WallClock::time_point start_ = WallClock::now();
};

TEST_F(WallClockTest, AtFiresWhenTheWallClockReachesItsTime) {
    TEST_setWallClockTime(start_);
    QueueRef queue = DispatchQueue::createSerial("test.at");
    std::atomic<int> fired{0};
    DispatchSemaphore done;
    (void)queue->at(start_ + 1h, [&] {
        fired.fetch_add(1);
        done.signal();
    });
    DispatchSemaphore pastDone;
    (void)queue->at(start_ - 1min, [&] {  // passed: runs at once
        fired.fetch_add(10);
        pastDone.signal();
    });
    ASSERT_TRUE(pastDone.wait(kLongWait));
    std::this_thread::sleep_for(50ms);
    queue->sync([] {});
    EXPECT_EQ(fired.load(), 10);
    // The system slept for an hour: the monotonic clock did not move, the wall clock did.
    TEST_setWallClockTime(start_ + 1h);
    ASSERT_TRUE(done.wait(kLongWait));
    EXPECT_EQ(fired.load(), 11);
}

TEST(ClockTest, DurationFromSecondsSaturates) {
    EXPECT_EQ(durationFromSeconds(1.5), 1500ms);
    EXPECT_EQ(durationFromSeconds(-3), Clock::duration::zero());
    EXPECT_EQ(durationFromSeconds(std::nan("")), Clock::duration::zero());
    EXPECT_EQ(durationFromSeconds(1e300), Clock::duration::max());
    EXPECT_EQ(deadlineAfter(Clock::duration::max()), Clock::time_point::max());
}

}  // namespace
}  // namespace platform
