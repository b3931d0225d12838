#include "platform/dispatch/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

// Operations added from several threads run one at a time, each thread's in its own order.
TEST(OperationQueueTest, RunsOneOperationAtATimeInTheOrderAdded) {
    std::shared_ptr<OperationQueue> queue = OperationQueue::create("test.operations", false);
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::mutex mutex;
    std::vector<std::vector<int>> seen(4);
    std::vector<std::thread> adders;
    for (int t = 0; t < 4; ++t) {
        adders.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                queue->addOperation([&, t, i] {
                    if (running.fetch_add(1) != 0) {
                        overlapped = true;
                    }
                    {
                        std::lock_guard lock(mutex);
                        seen[t].push_back(i);
                    }
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (std::thread& adder : adders) {
        adder.join();
    }
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(overlapped.load());
    for (const std::vector<int>& order : seen) {
        ASSERT_EQ(order.size(), 200u);
        for (int i = 0; i < 200; ++i) {
            EXPECT_EQ(order[i], i);
        }
    }
}

// Made suspended, the queue holds its operations; suspension is a switch, not a count.
TEST(OperationQueueTest, ASuspendedQueueHoldsItsOperationsUntilResumedOnce) {
    std::shared_ptr<OperationQueue> queue = OperationQueue::create("test.suspended", true);
    EXPECT_TRUE(queue->isSuspended());
    std::atomic<int> ran{0};
    queue->addOperation([&] { ran.fetch_add(1); });
    queue->setSuspended(true);
    queue->addOperation([&] { ran.fetch_add(1); });
    EXPECT_EQ(ran.load(), 0);

    queue->setSuspended(false);
    EXPECT_FALSE(queue->isSuspended());
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 2);

    // Suspending again holds what comes next; the finished ones are not waited for again.
    queue->setSuspended(true);
    queue->addOperation([&] { ran.fetch_add(1); });
    EXPECT_EQ(ran.load(), 2);
    queue->setSuspended(false);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 3);
}

// Waiting covers operations that earlier operations add.
TEST(OperationQueueTest, WaitingCoversOperationsAddedByOperations) {
    std::shared_ptr<OperationQueue> queue = OperationQueue::create("test.nested", false);
    std::atomic<int> ran{0};
    queue->addOperation([&] {
        queue->addOperation([&] { ran.fetch_add(1); });
        ran.fetch_add(1);
    });
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 2);
}

}  // namespace
}  // namespace platform
