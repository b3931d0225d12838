#include "platform/dispatch/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <system_error>

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

TEST(WorkerPoolTest, BlockingBlocksStayWithinTheCap) {
    constexpr int kBlocks = 300;
    QueueRef queue = DispatchQueue::createConcurrent("test.cap");
    DispatchSemaphore gate, done;
    std::atomic<int> started{0};
    for (int i = 0; i < kBlocks; ++i) {
        // Copies of the semaphores (they share one counter): a block may still be returning
        // from `signal` when the test ends.
        queue->async([&started, gate, done] {
            started.fetch_add(1);
            gate.wait();
            done.signal();
        });
    }
    // As many blocks as the pool has threads start; the rest wait for a free worker.
    for (int i = 0; i < 2000 && started.load() < static_cast<int>(WorkerPool::kMaxWorkers); ++i) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_LE(WorkerPool::shared().stats().workers, WorkerPool::kMaxWorkers);
    EXPECT_LE(started.load(), static_cast<int>(WorkerPool::kMaxWorkers));
    for (int i = 0; i < kBlocks; ++i) {
        gate.signal();
    }
    for (int i = 0; i < kBlocks; ++i) {
        ASSERT_TRUE(done.wait(kLongWait));
    }
    EXPECT_LE(WorkerPool::shared().stats().peakWorkers, WorkerPool::kMaxWorkers);
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
