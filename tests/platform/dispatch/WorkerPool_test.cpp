#include "platform/dispatch/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/ThreadStart.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kLongWait = 10s;

// A thread starter that refuses every thread, as the system does at a process limit.
void refuseThread(std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

// Restores the real thread starter however the test ends.
class ThreadStartTest : public ::testing::Test {
  protected:
    void TearDown() override { TEST_setThreadStarter(nullptr); }
};

TEST(WorkerPoolTest, BlocksThatBlockOutsideTheDispatchWaitsStayWithinTheCap) {
    constexpr int kBlocks = 300;
    QueueRef queue = DispatchQueue::createConcurrent("test.cap");
    std::atomic<bool> open{false};
    std::atomic<int> started{0};
    DispatchSemaphore done;
    for (int i = 0; i < kBlocks; ++i) {
        // A sleep is no dispatch wait: the worker keeps its slot.
        queue->async([&open, &started, done] {
            started.fetch_add(1);
            while (!open.load()) {
                std::this_thread::sleep_for(1ms);
            }
            done.signal();
        });
    }
    for (int i = 0; i < 2000 && started.load() < static_cast<int>(WorkerPool::kMaxWorkers); ++i) {
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(WorkerPool::shared().stats().workers, WorkerPool::kMaxWorkers);
    EXPECT_LE(started.load(), static_cast<int>(WorkerPool::kMaxWorkers));
    open = true;
    for (int i = 0; i < kBlocks; ++i) {
        ASSERT_TRUE(done.wait(kLongWait));
    }
}

// What the blocks of one case wait for, shared by copies.
struct WaitFixture {
    DispatchSemaphore gate;
    DispatchGroup group;
    QueueRef busy = DispatchQueue::createSerial("test.busy");
};

struct BlockedWaitCase {
    const char* name;
    std::function<void(const WaitFixture&)> prepare;  // on the test thread, before the blocks
    std::function<void(const WaitFixture&)> wait;     // in each blocked block
    std::function<void(const WaitFixture&, int blocks)> release;  // in a block queued behind
};

// As many blocks as the pool has slots, and more, each wait in one of the dispatch layer's
// waits for a block queued behind them on the same concurrent queue: replacements start for
// the blocked workers, so every block finishes, and other queues keep running meanwhile.
TEST(WorkerPoolTest, BlockedWorkersAreReplacedUntilTheyReturn) {
    const BlockedWaitCase cases[] = {
        {"semaphore wait", nullptr, [](const WaitFixture& f) { f.gate.wait(); },
         [](const WaitFixture& f, int blocks) {
             for (int i = 0; i < blocks; ++i) {
                 f.gate.signal();
             }
         }},
        {"timed semaphore wait", nullptr,
         [](const WaitFixture& f) { EXPECT_TRUE(f.gate.wait(kLongWait)); },
         [](const WaitFixture& f, int blocks) {
             for (int i = 0; i < blocks; ++i) {
                 f.gate.signal();
             }
         }},
        {"group wait", [](const WaitFixture& f) { f.group.enter(); },
         [](const WaitFixture& f) { f.group.wait(); },
         [](const WaitFixture& f, int) { f.group.leave(); }},
        {"sync onto a busy serial queue",
         [](const WaitFixture& f) {
             DispatchSemaphore gate = f.gate;
             f.busy->async([gate] { gate.wait(); });
         },
         [](const WaitFixture& f) { f.busy->sync([] {}); },
         [](const WaitFixture& f, int) { f.gate.signal(); }},
    };
    constexpr int kBlocks = static_cast<int>(WorkerPool::kMaxWorkers) + 16;
    for (const BlockedWaitCase& c : cases) {
        SCOPED_TRACE(c.name);
        WaitFixture fixture;
        if (c.prepare) {
            c.prepare(fixture);
        }
        QueueRef queue = DispatchQueue::createConcurrent("test.blocked");
        DispatchSemaphore done;
        auto waiting = std::make_shared<std::atomic<int>>(0);
        for (int i = 0; i < kBlocks; ++i) {
            queue->async([wait = c.wait, fixture, waiting, done] {
                waiting->fetch_add(1);
                wait(fixture);
                done.signal();
            });
        }
        // Every waiter has started before the block that releases them runs.
        for (int i = 0; i < 2000 && waiting->load() < kBlocks; ++i) {
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(waiting->load(), kBlocks);
        DispatchSemaphore otherRan;
        DispatchQueue::createSerial("test.other")->async([otherRan] { otherRan.signal(); });
        EXPECT_TRUE(otherRan.wait(kLongWait));
        queue->async([release = c.release, fixture] { release(fixture, kBlocks); });
        int finished = 0;
        while (finished < kBlocks && done.wait(kLongWait)) {
            ++finished;
        }
        ASSERT_EQ(finished, kBlocks);
        const WorkerPool::Stats stats = WorkerPool::shared().stats();
        EXPECT_GT(stats.peakWorkers, WorkerPool::kMaxWorkers);
        EXPECT_LE(stats.peakWorkers, WorkerPool::kHardLimit);
        // The replacements end as the blocked workers return, well before the idle timeout.
        for (int i = 0; i < 300 && WorkerPool::shared().stats().workers > WorkerPool::kMaxWorkers;
             ++i) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_LE(WorkerPool::shared().stats().workers, WorkerPool::kMaxWorkers);
    }
}

TEST(WorkerPoolTest, PastTheHardLimitTheBlockedPoolIsReportedOnce) {
    constexpr int kBlocks = static_cast<int>(WorkerPool::kHardLimit) + 20;
    QueueRef queue = DispatchQueue::createConcurrent("test.hard-limit");
    DispatchSemaphore gate, done;
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < kBlocks; ++i) {
        queue->async([gate, done] {
            gate.wait();
            done.signal();
        });
    }
    for (int i = 0;
         i < 2000 && WorkerPool::shared().stats().blockedWorkers < WorkerPool::kHardLimit; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    const WorkerPool::Stats stats = WorkerPool::shared().stats();
    EXPECT_EQ(stats.workers, WorkerPool::kHardLimit);
    EXPECT_EQ(stats.blockedWorkers, WorkerPool::kHardLimit);
    // More work while every worker is blocked waits, and is not reported again.
    auto laterRan = std::make_shared<std::atomic<bool>>(false);
    queue->async([laterRan, done] {
        *laterRan = true;
        done.signal();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(laterRan->load());
    for (int i = 0; i < kBlocks; ++i) {
        gate.signal();
    }
    int finished = 0;
    while (finished < kBlocks + 1 && done.wait(kLongWait)) {
        ++finished;
    }
    const std::string stderrText = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(finished, kBlocks + 1);
    EXPECT_TRUE(laterRan->load());
    EXPECT_LE(WorkerPool::shared().stats().peakWorkers, WorkerPool::kHardLimit);
    const std::string report = "worker threads are blocked waiting";
    const std::size_t first = stderrText.find(report);
    ASSERT_NE(first, std::string::npos) << stderrText;
    EXPECT_EQ(stderrText.find(report, first + 1), std::string::npos) << stderrText;
}

TEST_F(ThreadStartTest, WorkQueuedWhenNoThreadStartsRunsOnTheWorkersThatExist) {
    QueueRef queue = DispatchQueue::createConcurrent("test.no-threads");
    DispatchSemaphore gate, started, done;
    // The timer thread runs before threads are refused.
    (void)queue->after(0ms, [done] { done.signal(); });
    ASSERT_TRUE(done.wait(kLongWait));
    queue->async([gate, started] {
        started.signal();
        (void)gate.wait(kLongWait);
    });
    ASSERT_TRUE(started.wait(kLongWait));
    TEST_setThreadStarter(refuseThread);
    std::atomic<int> ran{0};
    for (int i = 0; i < 10; ++i) {
        EXPECT_NO_THROW(queue->async([&ran, done] {
            ran.fetch_add(1);
            done.signal();
        }));
    }
    // The timer thread hands its block to the pool the same way.
    (void)queue->after(1ms, [&ran, done] {
        ran.fetch_add(1);
        done.signal();
    });
    gate.signal();
    for (int i = 0; i < 11; ++i) {
        ASSERT_TRUE(done.wait(kLongWait));
    }
    EXPECT_EQ(ran.load(), 11);
}

TEST_F(ThreadStartTest, NoWorkerAtAllEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            TEST_setThreadStarter(refuseThread);
            DispatchQueue::createConcurrent("test.none")->async([] {});
        },
        "no worker thread could be started");
}

}  // namespace
}  // namespace platform
