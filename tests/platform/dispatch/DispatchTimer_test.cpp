#include "platform/dispatch/DispatchTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
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

TEST(DispatchTimerTest, WallClockTimerTicksSoonAfterTheClockIsSetBack) {
    const WallClock::time_point start = WallClock::now();
    TEST_setWallClockTime(start);
    QueueRef queue = DispatchQueue::createSerial("test.wall-back");
    std::atomic<int> fired{0};
    DispatchSemaphore tick;
    DispatchTimer timer(queue, [&] {
        fired.fetch_add(1);
        tick.signal();
    });
    timer.scheduleAt(start + 1s, 1s);
    TEST_setWallClockTime(start + 1s);
    ASSERT_TRUE(tick.wait(kLongWait));
    // Two hours forward: one tick; then back again, to half way between two ticks.
    TEST_setWallClockTime(start + 2h + 1500ms);
    ASSERT_TRUE(tick.wait(kLongWait));
    TEST_setWallClockTime(start + 1500ms);
    // Setting the clock back is no tick of its own.
    EXPECT_FALSE(tick.wait(200ms));
    EXPECT_EQ(fired.load(), 2);
    // The next tick is on the old phase, at most one interval later, not two hours.
    TEST_setWallClockTime(start + 2s);
    EXPECT_TRUE(tick.wait(kLongWait));
    TEST_setWallClockTime(start + 3s);
    EXPECT_TRUE(tick.wait(kLongWait));
    timer.cancel();
    TEST_setWallClockTime(std::nullopt);
}

TEST(DispatchTimerTest, HandlerNeverOverlapsItselfOnAConcurrentQueue) {
    QueueRef queue = DispatchQueue::createConcurrent("test.overlap");
    struct Counts {
        std::atomic<int> running{0}, mostAtOnce{0}, runs{0};
    };
    // Shared with the handler: a run that began just before `cancel` may still be ending.
    auto counts = std::make_shared<Counts>();
    DispatchTimer timer(queue, [counts] {
        const int now = counts->running.fetch_add(1) + 1;
        int most = counts->mostAtOnce.load();
        while (now > most && !counts->mostAtOnce.compare_exchange_weak(most, now)) {
        }
        std::this_thread::sleep_for(50ms);  // ten ticks come meanwhile
        counts->running.fetch_sub(1);
        counts->runs.fetch_add(1);
    });
    timer.schedule(5ms, 5ms);
    // Ticks during a run merge into one more run right after it.
    for (int i = 0; i < 2000 && counts->runs.load() < 4; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    timer.cancel();
    EXPECT_GE(counts->runs.load(), 4);
    EXPECT_EQ(counts->mostAtOnce.load(), 1);
}

}  // namespace
}  // namespace platform
