#include "platform/dispatch/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchSemaphore.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kLongWait = 10s;

// Each test leaves the main queue empty and the wakeup hook removed.
class MainQueueTest : public ::testing::Test {
  protected:
    void TearDown() override {
        setMainQueueWakeup(nullptr);
        while (drainMainQueue() > 0) {
        }
    }
};

TEST_F(MainQueueTest, BlocksRunOnlyWhenDrainedInOrderOnTheDrainingThread) {
    std::vector<int> order;
    bool current = false;
    for (int i = 0; i < 3; ++i) {
        DispatchQueue::main()->async([&, i] {
            order.push_back(i);
            current = DispatchQueue::main()->isCurrent();
        });
    }
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(drainMainQueue(), 3u);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(current);
    EXPECT_FALSE(DispatchQueue::main()->isCurrent());
}

TEST_F(MainQueueTest, BlocksAddedWhileDrainingWaitForTheNextDrain) {
    int runs = 0;
    std::function<void()> again = [&] {
        ++runs;
        DispatchQueue::main()->async(again);
    };
    DispatchQueue::main()->async(again);
    EXPECT_EQ(drainMainQueue(), 1u);
    EXPECT_EQ(drainMainQueue(), 1u);
    EXPECT_EQ(runs, 2);
    // Break the chain: the queued copy runs once more and adds the new, final block.
    again = [&] { ++runs; };
    EXPECT_EQ(drainMainQueue(), 1u);
    EXPECT_EQ(drainMainQueue(), 1u);
    EXPECT_EQ(drainMainQueue(), 0u);
    EXPECT_EQ(runs, 4);
}

TEST_F(MainQueueTest, WakeupHookIsCalledForEachBlockFromTheSubmittingThread) {
    std::atomic<int> wakeups{0};
    std::atomic<int> fromSubmitter{0};
    std::thread::id submitterId;  // written before the submitter starts submitting
    std::mutex idMutex;
    setMainQueueWakeup([&] {
        wakeups.fetch_add(1);
        std::lock_guard lock(idMutex);
        if (std::this_thread::get_id() == submitterId) {
            fromSubmitter.fetch_add(1);
        }
    });
    std::thread submitter([&] {
        {
            std::lock_guard lock(idMutex);
            submitterId = std::this_thread::get_id();
        }
        DispatchQueue::main()->async([] {});
        DispatchQueue::main()->async([] {});
    });
    submitter.join();
    EXPECT_EQ(wakeups.load(), 2);
    EXPECT_EQ(fromSubmitter.load(), 2);
    EXPECT_EQ(drainMainQueue(), 2u);
}

TEST_F(MainQueueTest, SyncOntoTheMainQueueFromTheMainThreadIsRefused) {
    ASSERT_TRUE(isMainThread());  // the test's thread drains the main queue
    // Outside any block, from a main-queue block, and through a serial queue in between.
    QueueRef serial = DispatchQueue::createSerial("test.between");
    EXPECT_THROW(DispatchQueue::main()->sync([] {}), std::logic_error);
    int refused = 0;
    DispatchQueue::main()->async([&] {
        try {
            DispatchQueue::main()->sync([] {});
        } catch (const std::logic_error&) {
            ++refused;
        }
        serial->sync([&] {
            try {
                DispatchQueue::main()->sync([] {});
            } catch (const std::logic_error&) {
                ++refused;
            }
        });
    });
    EXPECT_EQ(drainMainQueue(), 1u);
    EXPECT_EQ(refused, 2);
    // Through a busy serial queue, whose worker runs the block on this thread's behalf.
    DispatchSemaphore gate, started;
    serial->async([&] {
        started.signal();
        (void)gate.wait(kLongWait);
    });
    ASSERT_TRUE(started.wait(kLongWait));
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        gate.signal();
    });
    serial->sync([&] {
        try {
            DispatchQueue::main()->sync([] {});
        } catch (const std::logic_error&) {
            ++refused;
        }
    });
    releaser.join();
    EXPECT_EQ(refused, 3);
}

TEST_F(MainQueueTest, TheRegisteredThreadIsTheMainThread) {
    bool mainThere = false;
    std::thread other([&] {
        registerMainThread();
        mainThere = isMainThread();
    });
    other.join();
    EXPECT_TRUE(mainThere);
    EXPECT_FALSE(isMainThread());
    registerMainThread();
    EXPECT_TRUE(isMainThread());
}

TEST_F(MainQueueTest, SyncFromAWorkerCompletesWhileTheTestThreadDrains) {
    std::atomic<bool> finished{false};
    int value = 0;
    std::thread worker([&] {
        DispatchQueue::main()->sync([&] { value = 42; });
        finished = true;
    });
    EXPECT_TRUE(runMainQueueUntil([&] { return finished.load(); }, kLongWait));
    worker.join();
    EXPECT_EQ(value, 42);
}

TEST_F(MainQueueTest, RunUntilPicksUpTimersAndTimesOut) {
    bool fired = false;
    (void)DispatchQueue::main()->after(20ms, [&] { fired = true; });
    EXPECT_TRUE(runMainQueueUntil([&] { return fired; }, kLongWait));
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(runMainQueueUntil([] { return false; }, 30ms));
    EXPECT_GE(Clock::now() - start, 30ms);
}

TEST_F(MainQueueTest, NestedDrainFromABlockRunsTheRest) {
    std::vector<int> order;
    DispatchQueue::main()->async([&] {
        order.push_back(1);
        drainMainQueue();
    });
    DispatchQueue::main()->async([&] { order.push_back(2); });
    DispatchQueue::main()->async([&] { order.push_back(3); });
    drainMainQueue();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace platform
