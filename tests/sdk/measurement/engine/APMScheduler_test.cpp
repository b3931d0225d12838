#include "sdk/measurement/engine/APMScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "platform/dispatch/MainQueue.h"
#include "sdk/core/RZDException.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

using namespace std::chrono_literals;

struct CustomFailure {};

class APMSchedulerTest : public ::testing::Test {
  protected:
    // Waits until every block queued on the worker queue so far has run.
    void drainWorker() {
        scheduler_.workerQueue()->sync([] {});
    }

    sdktest::MonitorRecorder recorder_;
    APMScheduler scheduler_{"com.vovidu.diru.worker"};
};

TEST_F(APMSchedulerTest, AThrowingBlockIsReportedWithItsIdAndTheQueueGoesOn) {
    std::atomic<bool> nextRan{false};
    scheduler_.scheduleOnWorkerQueue("APMMeasurement:2476",
                                     [] { throw RZDException("com.razudizo.core", "bad state"); });
    scheduler_.scheduleOnWorkerQueue("APMMeasurement:2477", [] { throw CustomFailure(); });
    scheduler_.scheduleOnWorkerQueue("APMMeasurement:2478", [] { throw std::out_of_range("x"); });
    scheduler_.scheduleOnWorkerQueue("APMMeasurement:2479", [&] { nextRan = true; });
    drainWorker();

    EXPECT_TRUE(nextRan);
    const auto messages = recorder_.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].code, 30000);
    EXPECT_EQ(messages[0].level, 1);
    EXPECT_EQ(messages[0].message,
              "Exception on worker queue. Block ID=APMMeasurement:2476. Exception");
    ASSERT_EQ(messages[0].contexts.size(), 1u);
    EXPECT_EQ(messages[0].contexts[0].description(), "com.razudizo.core: bad state");
    EXPECT_EQ(messages[1].contexts[0].description(), "(anonymous namespace)::CustomFailure: ");
    EXPECT_EQ(messages[2].contexts[0].description(), "std::out_of_range: x");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(messages[0].contexts[0]),
              "com.razudizo.core");
}

TEST_F(APMSchedulerTest, SyncBlocksRunBeforeTheCallReturnsAndReportFailures) {
    int value = 0;
    scheduler_.dispatchSyncOnWorkerQueue("APMMeasurement:1", [&] { value = 7; });
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(recorder_.codes().empty());

    scheduler_.dispatchSyncOnWorkerQueue("APMMeasurement:2",
                                         [] { throw std::runtime_error("reset failed"); });
    const auto messages = recorder_.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].code, 30003);
    EXPECT_EQ(messages[0].message,
              "Exception on worker queue when processing sync block. Block ID=APMMeasurement:2. "
              "Exception");
    EXPECT_EQ(messages[1].code, 30004);
    EXPECT_EQ(messages[1].level, 4);
    EXPECT_EQ(messages[1].message, "Synchronous task failed. Block ID=APMMeasurement:2");
}

TEST_F(APMSchedulerTest, EmptyBlocksAreRefused) {
    scheduler_.scheduleOnWorkerQueue("APMMeasurement:5", {});
    scheduler_.dispatchSyncOnWorkerQueue("APMMeasurement:6", {});
    const auto messages = recorder_.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].code, 30005);
    EXPECT_EQ(messages[0].message,
              "Nil block dispatched asynchronously on worker queue. Block ID=APMMeasurement:5.");
    EXPECT_EQ(messages[1].code, 30002);
    EXPECT_EQ(messages[1].message,
              "Nil block dispatched synchronously on worker queue. Block ID=APMMeasurement:6.");
}

TEST_F(APMSchedulerTest, BlocksRunInOrderOneAtATime) {
    std::vector<int> order;  // only touched on the worker queue
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 50; ++i) {
        scheduler_.scheduleOnWorkerQueue("APMMeasurement:9", [&, i] {
            overlapped = overlapped || running.fetch_add(1) != 0;
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    drainWorker();
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 50u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST_F(APMSchedulerTest, BackgroundCheckFailsOnlyOnTheMainThread) {
    std::optional<bool> onMain;
    std::optional<bool> onMainEmptyName;
    platform::DispatchQueue::main()->async([&] {
        onMain = APMScheduler::checkOnBackgroundThreadWithMethodName("uploadData");
        onMainEmptyName = APMScheduler::checkOnBackgroundThreadWithMethodName("");
    });
    ASSERT_TRUE(platform::runMainQueueUntil([&] { return onMainEmptyName.has_value(); }, 10s));
    EXPECT_FALSE(*onMain);
    EXPECT_FALSE(*onMainEmptyName);

    std::atomic<bool> onWorker{false};
    scheduler_.scheduleOnWorkerQueue("APMMeasurement:3", [&] {
        onWorker = APMScheduler::checkOnBackgroundThreadWithMethodName("uploadData");
    });
    drainWorker();
    EXPECT_TRUE(onWorker);

    const auto messages = recorder_.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].code, 30001);
    EXPECT_EQ(messages[0].message, "Method uploadData should execute on background thread");
    EXPECT_EQ(messages[1].message,
              "Method <empty method name> should execute on background thread");
}

}  // namespace
