#include "sdk/installations/DUDUrareravuzersBackoffController.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "tests/sdk/installations/FakeInstallationsService.h"

namespace {

using installationstest::TestClock;
using Event = DUDUrareravuzersBackoffEvent;

// The wait after the `count`-th recoverable failure in a row: [low, high].
struct Window {
    double low;
    double high;
};
Window recoverableWindow(int count) {
    const double power = std::ldexp(1.0, count);
    return power >= 1800 ? Window{1800, 1800} : Window{power, power + 0.999};
}

TEST(DUDUrareravuzersBackoffControllerTest, RecoverableFailuresDoubleTheWaitUpTo1800Seconds) {
    TestClock clock;
    DUDUrareravuzersBackoffController backoff(clock.provider());
    EXPECT_TRUE(backoff.isNextRequestAllowed()) << "nothing happened yet";
    for (int count = 1; count <= 13; ++count) {
        SCOPED_TRACE(count);
        backoff.registerEvent(Event::recoverableFailure);
        const auto data = backoff.lastEventData();
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->eventCount(), count);
        const Window window = recoverableWindow(count);
        EXPECT_GE(data->backoffTimeInterval(), window.low);
        EXPECT_LE(data->backoffTimeInterval(), window.high);
        // Held back until the wait has passed, to the millisecond.
        clock.advance(window.low - 0.001);
        EXPECT_FALSE(backoff.isNextRequestAllowed());
        clock.advance(window.high - window.low + 0.001);
        EXPECT_TRUE(backoff.isNextRequestAllowed());
    }
}

TEST(DUDUrareravuzersBackoffControllerTest, UnrecoverableFailureWaitsADayAndSuccessClears) {
    TestClock clock;
    DUDUrareravuzersBackoffController backoff(clock.provider());
    backoff.registerEvent(Event::unrecoverableFailure);
    EXPECT_EQ(backoff.lastEventData()->backoffTimeInterval(), 86400.0);
    clock.advance(86399.999);
    EXPECT_FALSE(backoff.isNextRequestAllowed());
    clock.advance(0.001);
    EXPECT_TRUE(backoff.isNextRequestAllowed());

    backoff.registerEvent(Event::unrecoverableFailure);
    EXPECT_FALSE(backoff.isNextRequestAllowed());
    backoff.registerEvent(Event::success);
    EXPECT_TRUE(backoff.isNextRequestAllowed()) << "a success clears the wait at once";
    EXPECT_EQ(backoff.lastEventData()->backoffTimeInterval(), 0.0);
}

TEST(DUDUrareravuzersBackoffControllerTest, AChangeOfEventTypeRestartsTheCount) {
    TestClock clock;
    DUDUrareravuzersBackoffController backoff(clock.provider());
    const struct {
        Event event;
        std::int64_t count;
    } steps[] = {{Event::recoverableFailure, 1},
                 {Event::recoverableFailure, 2},
                 {Event::recoverableFailure, 3},
                 {Event::unrecoverableFailure, 1},
                 {Event::unrecoverableFailure, 2},
                 {Event::recoverableFailure, 1},
                 {Event::success, 1},
                 {Event::recoverableFailure, 1}};
    for (const auto& step : steps) {
        backoff.registerEvent(step.event);
        EXPECT_EQ(backoff.lastEventData()->eventType(), step.event);
        EXPECT_EQ(backoff.lastEventData()->eventCount(), step.count);
        EXPECT_EQ(backoff.lastEventData()->lastEventDate(), clock.now());
        clock.advance(10);
    }
    const double interval = backoff.lastEventData()->backoffTimeInterval();
    EXPECT_TRUE(interval >= 2 && interval <= 2.999) << interval;
}

TEST(DUDUrareravuzersBackoffControllerTest, TheRandomPartIsWholeMillisecondsSpreadOver0To999) {
    std::set<std::int64_t> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::int64_t ms = DUDUrareravuzersBackoffEventData::randomMilliseconds();
        ASSERT_GE(ms, 0);
        ASSERT_LE(ms, 999);
        seen.insert(ms);
    }
    // 2000 uniform draws cover far more than half of the 1000 values; a stuck or narrow source
    // does not.
    EXPECT_GT(seen.size(), 700u);
    EXPECT_LT(*seen.begin(), 100);
    EXPECT_GT(*seen.rbegin(), 900);
}

}  // namespace
