#include "platform/dispatch/DispatchTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dispatch/DispatchSemaphore.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kLongWait = 10s;

TEST(DispatchTimerTest, OneShotFiresOnceOnItsQueue) {
    QueueRef queue = DispatchQueue::createSerial("test.timer");
    std::atomic<int> fired{0};
    std::atomic<bool> onQueue{false};
    DispatchSemaphore done;
    DispatchTimer timer(queue, [&] {
        onQueue = queue->isCurrent();
        fired.fetch_add(1);
        done.signal();
    });
    EXPECT_FALSE(timer.isScheduled());
    timer.schedule(10ms);
    ASSERT_TRUE(done.wait(kLongWait));
    std::this_thread::sleep_for(50ms);
    queue->sync([] {});
    EXPECT_EQ(fired.load(), 1);
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(timer.isScheduled());
}

TEST(DispatchTimerTest, RepeatingTimerStopsWhenCancelledFromItsHandler) {
    QueueRef queue = DispatchQueue::createSerial("test.repeat");
    std::atomic<int> fired{0};
    DispatchSemaphore done;
    std::unique_ptr<DispatchTimer> timer;
    timer = std::make_unique<DispatchTimer>(queue, [&] {
        if (fired.fetch_add(1) + 1 == 3) {
            timer->cancel();
            done.signal();
        }
    });
    timer->schedule(5ms, 5ms);
    ASSERT_TRUE(done.wait(kLongWait));
    std::this_thread::sleep_for(50ms);
    queue->sync([] {});
    EXPECT_EQ(fired.load(), 3);
    EXPECT_FALSE(timer->isScheduled());
}

TEST(DispatchTimerTest, RescheduleReplacesTheEarlierDeadline) {
    QueueRef queue = DispatchQueue::createSerial("test.reschedule");
    std::atomic<int> fired{0};
    DispatchSemaphore done;
    DispatchTimer timer(queue, [&] {
        fired.fetch_add(1);
        done.signal();
    });
    const Clock::time_point start = Clock::now();
    timer.schedule(200ms);
    timer.schedule(50ms);
    ASSERT_TRUE(done.wait(kLongWait));
    EXPECT_GE(Clock::now() - start, 50ms);
    // Well past the first deadline, which must have been forgotten.
    std::this_thread::sleep_until(start + 300ms);
    queue->sync([] {});
    EXPECT_EQ(fired.load(), 1);
}

TEST(DispatchTimerTest, CancelAndDestructionStopAPendingTimer) {
    QueueRef queue = DispatchQueue::createSerial("test.timer-cancel");
    std::atomic<int> fired{0};
    {
        DispatchTimer destroyed(queue, [&] { fired.fetch_add(1); });
        destroyed.schedule(200ms);
    }
    DispatchTimer cancelled(queue, [&] { fired.fetch_add(1); });
    cancelled.schedule(200ms, 20ms);
    cancelled.cancel();
    DispatchTimer distant(queue, [&] { fired.fetch_add(1); });
    distant.schedule(1h);
    EXPECT_TRUE(distant.isScheduled());
    distant.cancel();
    EXPECT_FALSE(cancelled.isScheduled());
    // Past the cancelled deadlines.
    std::this_thread::sleep_for(300ms);
    queue->sync([] {});
    EXPECT_EQ(fired.load(), 0);
}

TEST(DispatchTimerTest, TicksMergeWhileTheQueueIsBlocked) {
    QueueRef queue = DispatchQueue::createSerial("test.merge");
    std::atomic<int> fired{0};
    DispatchTimer timer(queue, [&] { fired.fetch_add(1); });
    std::atomic<int> queuedWhileBlocked{-1};
    DispatchSemaphore done;
    queue->async([&] {
        timer.schedule(10ms, 10ms);
        std::this_thread::sleep_for(300ms);  // about 30 ticks pass while the queue is busy
        // Queued behind every handler block that the ticks above queued.
        queue->async([&] {
            queuedWhileBlocked = fired.load();
            done.signal();
        });
    });
    ASSERT_TRUE(done.wait(kLongWait));
    EXPECT_LE(queuedWhileBlocked.load(), 1);
    // Ticks go on once the queue is free.
    const int before = fired.load();
    for (int i = 0; i < 1000 && fired.load() <= before; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GT(fired.load(), before);
    timer.cancel();
}

TEST(DispatchTimerTest, WallClockTimerTicksOnTheWallClock) {
    const WallClock::time_point start = WallClock::now();
    TEST_setWallClockTime(start);
    QueueRef queue = DispatchQueue::createSerial("test.wall-timer");
    std::atomic<int> fired{0};
    DispatchSemaphore tick;
    DispatchTimer timer(queue, [&] {
        fired.fetch_add(1);
        tick.signal();
    });
    timer.scheduleAt(start + 10min, 10min);
    std::this_thread::sleep_for(50ms);
    queue->sync([] {});
    EXPECT_EQ(fired.load(), 0);
    TEST_setWallClockTime(start + 10min);
    EXPECT_TRUE(tick.wait(kLongWait));
    // Thirty minutes later (a sleep): one tick, not three, and the phase is kept.
    TEST_setWallClockTime(start + 40min);
    EXPECT_TRUE(tick.wait(kLongWait));
    std::this_thread::sleep_for(50ms);
    queue->sync([] {});
    EXPECT_EQ(fired.load(), 2);
    TEST_setWallClockTime(start + 50min);
    EXPECT_TRUE(tick.wait(kLongWait));
    timer.cancel();
    TEST_setWallClockTime(std::nullopt);
}

}  // namespace
}  // namespace platform
