#include "sdk/measurement/engine/APMAlarm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>

#include "platform/dispatch/DispatchSemaphore.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

using namespace std::chrono_literals;

constexpr double kHour = 3600;

class APMAlarmTest : public ::testing::Test {
  protected:
    void drainQueue() {
        queue_->sync([] {});
    }

    sdktest::MonitorRecorder recorder_;
    platform::QueueRef queue_ = platform::DispatchQueue::createSerial("alarm test");
    APMAlarm alarm_{queue_, "Measurement timer"};
    platform::DispatchSemaphore fired_{0};
};

TEST_F(APMAlarmTest, SchedulingAgainDropsThePendingBlock) {
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    alarm_.runAfterDelay(kHour, [&] { ++first; });
    EXPECT_TRUE(alarm_.hasActiveTimer());
    alarm_.runAfterDelay(0, [&] {
        ++second;
        fired_.signal();
    });
    ASSERT_TRUE(fired_.wait(10s));
    drainQueue();

    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_FALSE(alarm_.scheduledTimestamp());
    EXPECT_FALSE(alarm_.hasActiveTimer());
    EXPECT_EQ(recorder_.codes(), (std::vector<std::int64_t>{2002, 2003, 2002, 2001, 2003}));
    const auto messages = recorder_.messages();
    EXPECT_EQ(messages[0].message, "Measurement timer scheduled to fire in approx. (s)");
    EXPECT_EQ(messages[0].contexts[0].description(), "3600");
    EXPECT_EQ(messages[1].message, "Measurement timer canceled");
    EXPECT_EQ(messages[3].message, "Measurement timer fired");
}

TEST_F(APMAlarmTest, ABlockMayScheduleItsAlarmAgain) {
    std::atomic<int> runs{0};
    std::function<void()> block = [&] {
        if (++runs < 3) {
            alarm_.runAfterDelay(0, block);
        } else {
            fired_.signal();
        }
    };
    alarm_.runAfterDelay(0, block);
    ASSERT_TRUE(fired_.wait(10s));
    drainQueue();
    EXPECT_EQ(runs, 3);
    EXPECT_FALSE(alarm_.scheduledTimestamp());
}

TEST_F(APMAlarmTest, CancellingDropsTheBlockAndAnIdleAlarmLogsNothing) {
    alarm_.cancel();
    EXPECT_TRUE(recorder_.codes().empty());

    std::atomic<bool> ran{false};
    {
        APMAlarm doomed(queue_, "");
        doomed.runAfterDelay(0.05, [&] { ran = true; });
        EXPECT_EQ(doomed.name(), "Timer");
    }  // destruction cancels
    alarm_.runAfterDelay(0.05, [&] { ran = true; });
    const double due = alarm_.scheduledTimestamp()->timeIntervalSince1970();
    EXPECT_NEAR(due, sdk::Date::now().timeIntervalSince1970() + 0.05, 5);
    alarm_.cancel();
    EXPECT_FALSE(alarm_.scheduledTimestamp());
    EXPECT_FALSE(alarm_.hasActiveTimer());

    // A later block on the same queue shows the cancelled ones never ran.
    alarm_.runAfterDelay(0.2, [&] { fired_.signal(); });
    ASSERT_TRUE(fired_.wait(10s));
    drainQueue();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(recorder_.saw(2004));
}

TEST_F(APMAlarmTest, OddDelaysFireAtOnceOrSaturate) {
    for (double delay : {-5.0, std::nan("")}) {
        alarm_.runAfterDelay(delay, [&] { fired_.signal(); });
        ASSERT_TRUE(fired_.wait(10s)) << delay;
    }
    const double now = sdk::Date::now().timeIntervalSince1970();
    alarm_.runAfterDelay(1e300, [&] { fired_.signal(); });
    EXPECT_TRUE(alarm_.hasActiveTimer());
    EXPECT_GT(alarm_.scheduledTimestamp()->timeIntervalSince1970(), now + 1e299);
    alarm_.cancel();

    recorder_.clear();
    alarm_.runAfterDelay(1, {});
    EXPECT_EQ(recorder_.codes(), std::vector<std::int64_t>{2000});
    EXPECT_EQ(recorder_.messages()[0].message,
              "Measurement timer tried to schedule an empty block");
    EXPECT_FALSE(alarm_.scheduledTimestamp());
}

TEST_F(APMAlarmTest, SchedulingFromManyThreadsLeavesOneBlock) {
    std::atomic<int> runs{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                alarm_.runAfterDelay(kHour, [&] { ++runs; });
                if (i % 7 == 0) {
                    alarm_.cancel();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    alarm_.runAfterDelay(0, [&] {
        ++runs;
        fired_.signal();
    });
    ASSERT_TRUE(fired_.wait(10s));
    drainQueue();
    EXPECT_EQ(runs, 1);
}

}  // namespace
