#include "sdk/core/heartbeat/HeartbeatController.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HeartbeatTestSupport.h"
#include "platform/dispatch/DispatchSemaphore.h"

namespace heartbeat {
namespace {

using heartbeattest::utc;

// A controller over an in-memory store with a clock the test sets.
class HeartbeatControllerTest : public ::testing::Test {
  protected:
    HeartbeatsPayload payloadOf(
        std::vector<std::pair<std::string, std::vector<sdk::Date>>> entries) {
        std::vector<HeartbeatsPayload::UserAgentPayload> list;
        for (auto& [agent, dates] : entries) {
            list.push_back({agent, dates});
        }
        return HeartbeatsPayload(std::move(list), 2);
    }

    // The bundle as stored now (after every queued operation).
    std::optional<HeartbeatsBundle> stored() {
        return store_->swapSync([](auto bundle) { return bundle; }).old;
    }

    std::shared_ptr<heartbeattest::MemoryStorage::State> state_ =
        std::make_shared<heartbeattest::MemoryStorage::State>();
    std::shared_ptr<HeartbeatStorage> store_ =
        HeartbeatStorage::make("test", std::make_unique<heartbeattest::MemoryStorage>(state_));
    heartbeattest::ManualClock clock_;
    HeartbeatController controller_{store_, clock_.function()};
};

TEST_F(HeartbeatControllerTest, OneHeartbeatPerUtcDayAndTheFirstAgentWins) {
    clock_.set(utc(2024, 3, 5, 10));
    controller_.log("first/1");
    clock_.set(utc(2024, 3, 5, 86399));
    controller_.log("second/1");
    clock_.set(utc(2024, 3, 6, 1));
    controller_.log("third/1");
    EXPECT_EQ(controller_.flush(),
              payloadOf({{"first/1", {utc(2024, 3, 5)}}, {"third/1", {utc(2024, 3, 6)}}}));
}

TEST_F(HeartbeatControllerTest, ClockSetBackLogsNothingUntilThatDayHasPassed) {
    clock_.set(utc(2024, 3, 10));
    controller_.log("a");
    for (const unsigned day : {9u, 3u, 10u}) {
        clock_.set(utc(2024, 3, day, 5));
        controller_.log("back");
    }
    clock_.set(utc(2024, 3, 11));
    controller_.log("b");
    EXPECT_EQ(controller_.flush(),
              payloadOf({{"a", {utc(2024, 3, 10)}}, {"b", {utc(2024, 3, 11)}}}));
}

TEST_F(HeartbeatControllerTest, FlushEmptiesTheRingButRemembersTheDay) {
    clock_.set(utc(2024, 3, 5, 7));
    EXPECT_EQ(controller_.flush(), HeartbeatsPayload::empty());
    EXPECT_TRUE(state_->bytes.value_or(sdk::Bytes{}).empty());  // still nothing stored

    controller_.log("a");
    EXPECT_EQ(controller_.flush(), payloadOf({{"a", {utc(2024, 3, 5)}}}));
    controller_.log("a");
    EXPECT_EQ(controller_.flush(), HeartbeatsPayload::empty());
    clock_.set(utc(2024, 3, 6));
    controller_.log("a");

    platform::DispatchSemaphore done(0);
    controller_.flushAsync([&](HeartbeatsPayload payload) {
        EXPECT_EQ(payload, payloadOf({{"a", {utc(2024, 3, 6)}}}));
        done.signal();
    });
    done.wait();
    EXPECT_EQ(stored()->lastAddedHeartbeatDates().at(TimePeriod::daily), utc(2024, 3, 6));
}

TEST_F(HeartbeatControllerTest, FlushHeartbeatFromTodayTakesOnlyToday) {
    clock_.set(utc(2024, 3, 4));
    controller_.log("yesterday");
    clock_.set(utc(2024, 3, 5, 100));
    EXPECT_EQ(controller_.flushHeartbeatFromToday(), HeartbeatsPayload::empty());
    controller_.log("today");
    EXPECT_EQ(controller_.flushHeartbeatFromToday(), payloadOf({{"today", {utc(2024, 3, 5)}}}));
    EXPECT_EQ(controller_.flushHeartbeatFromToday(), HeartbeatsPayload::empty());
    EXPECT_EQ(controller_.flush(), payloadOf({{"yesterday", {utc(2024, 3, 4)}}}));
}

TEST_F(HeartbeatControllerTest, BundleWithoutDatesNeverTakesAHeartbeat) {
    (void)store_->swapSync([](auto) { return std::optional(HeartbeatsBundle(30, {})); });
    clock_.set(utc(2024, 3, 5));
    controller_.log("a");
    clock_.set(utc(2025, 3, 5));
    controller_.log("a");
    EXPECT_EQ(controller_.flush(), HeartbeatsPayload::empty());
}

TEST_F(HeartbeatControllerTest, ThirtyFirstDayOverwritesSlotZero) {
    for (int day = 0; day < 31; ++day) {
        clock_.set(utc(2024, 1, 1, day * 86400.0 + 60));
        controller_.log("day" + std::to_string(day));
    }
    const auto bundle = stored();
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->buffer().tailIndex(), 1);
    EXPECT_EQ(bundle->buffer().circularQueue()[0]->agent, "day30");
    EXPECT_EQ(bundle->buffer().circularQueue()[1]->agent, "day1");
    EXPECT_EQ(bundle->lastAddedHeartbeatDates().at(TimePeriod::daily), utc(2024, 1, 31));
}

TEST_F(HeartbeatControllerTest, StoreFailuresGiveTheEmptyPayload) {
    clock_.set(utc(2024, 3, 5));
    controller_.log("a");
    (void)stored();
    state_->failWrites = true;
    EXPECT_EQ(controller_.flush(), HeartbeatsPayload::empty());
    state_->failWrites = false;
    // The failed swap left the heartbeat in place.
    EXPECT_EQ(controller_.flush(), payloadOf({{"a", {utc(2024, 3, 5)}}}));

    state_->failReads = true;
    controller_.log("b");
    EXPECT_EQ(controller_.flush(), HeartbeatsPayload::empty());
}

}  // namespace
}  // namespace heartbeat
