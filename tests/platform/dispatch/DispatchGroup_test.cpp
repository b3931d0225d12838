#include "platform/dispatch/DispatchGroup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/dispatch/DispatchSemaphore.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kLongWait = 10s;

TEST(DispatchGroupTest, NotifyRunsAfterTheLastLeave) {
    DispatchGroup group;
    QueueRef queue = DispatchQueue::createSerial("test.notify");
    std::atomic<int> left{0};
    std::atomic<int> seenAtNotify{-1};
    DispatchSemaphore notified;
    group.enter();
    group.enter();
    group.enter();
    group.notify(queue, [&] {
        seenAtNotify = left.load();
        notified.signal();
    });
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&] {
            std::this_thread::sleep_for(10ms);
            left.fetch_add(1);
            group.leave();
        });
    }
    ASSERT_TRUE(notified.wait(kLongWait));
    EXPECT_EQ(seenAtNotify.load(), 3);
    for (auto& worker : workers) {
        worker.join();
    }
}

TEST(DispatchGroupTest, NotifyOnAnEmptyGroupRunsAtOnceAndOnlyOnce) {
    DispatchGroup group;
    QueueRef queue = DispatchQueue::createSerial("test.notify-empty");
    std::atomic<int> runs{0};
    group.notify(queue, [&] { runs.fetch_add(1); });
    queue->sync([] {});
    EXPECT_EQ(runs.load(), 1);
    // A later enter/leave does not run it again.
    group.enter();
    group.leave();
    queue->sync([] {});
    EXPECT_EQ(runs.load(), 1);
}

TEST(DispatchGroupTest, WaitTimesOutWhileWorkIsOutstandingAndSucceedsAfter) {
    DispatchGroup group;
    QueueRef queue = DispatchQueue::createSerial("test.wait");
    DispatchSemaphore release;
    group.async(queue, [&] { (void)release.wait(kLongWait); });
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(group.wait(30ms));
    EXPECT_GE(Clock::now() - start, 30ms);
    release.signal();
    EXPECT_TRUE(group.wait(kLongWait));
    EXPECT_TRUE(group.wait(0ms));
}

TEST(DispatchGroupTest, AsyncBlocksCountUntilTheyHaveRun) {
    DispatchGroup group;
    QueueRef queue = DispatchQueue::createConcurrent("test.group-async");
    std::atomic<int> ran{0};
    for (int i = 0; i < 50; ++i) {
        group.async(queue, [&] { ran.fetch_add(1); });
    }
    group.wait();
    EXPECT_EQ(ran.load(), 50);
}

TEST(DispatchGroupTest, UnbalancedLeaveThrowsAndKeepsTheCount) {
    DispatchGroup group;
    EXPECT_THROW(group.leave(), std::logic_error);
    group.enter();
    EXPECT_FALSE(group.wait(1ms));
    group.leave();
    EXPECT_TRUE(group.wait(0ms));
}

TEST(DispatchSemaphoreTest, WaitTimesOutWithoutASignal) {
    DispatchSemaphore semaphore;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(semaphore.wait(30ms));
    EXPECT_GE(Clock::now() - start, 30ms);
}

TEST(DispatchSemaphoreTest, CountsSignalsAndInitialValue) {
    DispatchSemaphore semaphore(2);
    EXPECT_TRUE(semaphore.wait(0ms));
    EXPECT_TRUE(semaphore.wait(0ms));
    EXPECT_FALSE(semaphore.wait(0ms));
    semaphore.signal();
    EXPECT_TRUE(semaphore.wait(0ms));
    EXPECT_THROW(DispatchSemaphore(-1), std::invalid_argument);
}

TEST(DispatchSemaphoreTest, SignalFromAnotherThreadWakesAWaiter) {
    DispatchSemaphore semaphore;
    std::thread signaller([semaphore] {
        std::this_thread::sleep_for(10ms);
        semaphore.signal();
    });
    EXPECT_TRUE(semaphore.wait(kLongWait));
    signaller.join();
}

}  // namespace
}  // namespace platform
