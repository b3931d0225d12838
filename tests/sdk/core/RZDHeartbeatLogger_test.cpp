#include "sdk/core/RZDHeartbeatLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchSemaphore.h"
#include "sdk/core/RZDRazudizoUserAgent.h"
#include "sdk/core/ZEDOre.h"
#include "tests/sdk/core/heartbeat/HeartbeatTestSupport.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

using heartbeattest::utc;

class RZDHeartbeatLoggerTest : public ::testing::Test {
  protected:
    // A logger of `id` over the shared store of the id, with the test's clock.
    RZDHeartbeatLogger loggerWithClock(const std::string& id,
                                       RZDHeartbeatLogger::UserAgentProvider provider) {
        auto controller = std::make_shared<heartbeat::HeartbeatController>(
            heartbeat::HeartbeatStorage::sharedStore(id), clock_.function());
        return RZDHeartbeatLogger(std::make_shared<RZDHeartbeatController>(controller),
                                  std::move(provider));
    }

    cb::testsupport::TempDir data_{"cb-heartbeat-logger"};
    sdktest::ScopedEnv dataHome_{"XDG_DATA_HOME", data_.path().string()};
    heartbeattest::ManualClock clock_;
};

TEST_F(RZDHeartbeatLoggerTest, HeaderValueDrainsTheStore) {
    RZDHeartbeatLogger logger("1:1:ios:ab", [] { return "agent/1"; });
    EXPECT_EQ(logger.headerValue(), std::nullopt);
    logger.log();
    const auto header = logger.headerValue();
    ASSERT_TRUE(header);
    EXPECT_NE(heartbeattest::decodeHeader(*header).find(R"("agent":"agent\/1")"),
              std::string::npos);
    EXPECT_EQ(logger.headerValue(), std::nullopt);
    EXPECT_EQ(RZDHeaderValueForPayload(RZDHeartbeatsPayload(heartbeat::HeartbeatsPayload())),
              std::nullopt);
}

TEST_F(RZDHeartbeatLoggerTest, HeaderOfThreeDaysDecodesWithStandardTools) {
    const char* agents[] = {"b/1", "a/1", "b/1"};
    std::size_t calls = 0;
    auto logger = loggerWithClock("1:2:ios:ab", [&] { return agents[calls++]; });
    for (unsigned day = 5; day <= 7; ++day) {
        clock_.set(utc(2024, 3, day, 3600));
        logger.log();
    }
    EXPECT_EQ(calls, 3u);
    EXPECT_EQ(heartbeattest::decodeHeader(logger.headerValue().value_or("")),
              R"({"heartbeats":[{"agent":"a\/1","dates":["2024-03-06"]},)"
              R"({"agent":"b\/1","dates":["2024-03-05","2024-03-07"]}],"version":2})");
}

TEST_F(RZDHeartbeatLoggerTest, HeartbeatCodeForTodayTakesTodaysHeartbeatOnce) {
    auto logger = loggerWithClock("1:3:ios:ab", [] { return "agent/1"; });
    clock_.set(utc(2024, 3, 5, 60));
    EXPECT_EQ(logger.heartbeatCodeForToday(), 0);
    logger.log();
    EXPECT_EQ(logger.heartbeatCodeForToday(), 2);
    EXPECT_EQ(logger.heartbeatCodeForToday(), 0);
    EXPECT_EQ(logger.headerValue(), std::nullopt);
}

TEST_F(RZDHeartbeatLoggerTest, LoggersOfOneAppShareTheirHeartbeats) {
    clock_.set(utc(2024, 3, 5));
    auto first = loggerWithClock("1:4:ios:ab", [] { return "first/1"; });
    auto second = loggerWithClock("1:4:ios:ab", [] { return "second/1"; });
    first.log();
    second.log();  // the same day: nothing more to store

    platform::DispatchSemaphore done(0);
    std::optional<std::string> header;
    second.asyncHeaderValueWithCompletionHandler([&](std::optional<std::string> value) {
        header = std::move(value);
        done.signal();
    });
    done.wait();
    ASSERT_TRUE(header);
    const auto json = heartbeattest::decodeHeader(*header);
    EXPECT_NE(json.find("first"), std::string::npos) << json;
    EXPECT_EQ(json.find("second"), std::string::npos) << json;
    EXPECT_EQ(first.flushHeartbeatsIntoPayload().isEmpty(), true);
}

// The default provider reads the shared user agent at each log: a library registered between
// two days' logs shows in the second day's heartbeat only.
TEST_F(RZDHeartbeatLoggerTest, DefaultProviderTakesTheUserAgentAtEachLog) {
    EXPECT_EQ(RZDHeartbeatLogger("1:5:ios:ab").userAgentProvider()(), ZEDOre::razudizoUserAgent());
    auto logger = loggerWithClock("1:5:ios:ab", RZDHeartbeatLogger::currentUserAgentProvider());
    const std::string before = ZEDOre::razudizoUserAgent();
    clock_.set(utc(2024, 3, 5));
    logger.log();
    ZEDOre::userAgent().setValue("9.9.9", "zz-heartbeat-test");
    const std::string after = ZEDOre::razudizoUserAgent();
    clock_.set(utc(2024, 3, 6));
    logger.log();
    ZEDOre::userAgent().setValue(std::nullopt, "zz-heartbeat-test");

    EXPECT_EQ(before.find("zz-heartbeat-test"), std::string::npos);
    EXPECT_NE(after.find("zz-heartbeat-test/9.9.9"), std::string::npos);
    const std::vector<heartbeat::Heartbeat> expected{
        {before, utc(2024, 3, 5), 0, {heartbeat::TimePeriod::daily}},
        {after, utc(2024, 3, 6), 0, {heartbeat::TimePeriod::daily}}};
    EXPECT_EQ(logger.flushHeartbeatsIntoPayload().heartbeatsPayload(),
              heartbeat::HeartbeatsPayload::fromHeartbeats(expected));
}

// Loggers of three apps made, used and dropped on many threads at once; each app's store
// must end with the one heartbeat of the day, sent once.
TEST_F(RZDHeartbeatLoggerTest, ConcurrentLoggersAcrossApps) {
    const std::vector<std::string> ids{"1:10:ios:ab", "1:11:ios:ab", "1:12:ios:ab"};
    std::atomic<int> headers[3] = {0, 0, 0};
    clock_.set(utc(2024, 3, 5, 7200));
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 15; ++round) {
                const auto index = static_cast<std::size_t>((t + round) % 3);
                auto logger =
                    loggerWithClock(ids[index], [t] { return "agent/" + std::to_string(t); });
                logger.log();
                if (round % 3 == 0 && logger.headerValue()) {
                    ++headers[index];
                }
                if (round % 5 == 0) {
                    platform::DispatchSemaphore done(0);
                    logger.flushHeartbeatsIntoPayloadWithCompletionHandler(
                        [&](RZDHeartbeatsPayload payload) {
                            headers[index] += payload.isEmpty() ? 0 : 1;
                            done.signal();
                        });
                    done.wait();
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        auto logger = loggerWithClock(ids[i], [] { return "late/1"; });
        EXPECT_EQ(headers[i] + (logger.headerValue() ? 1 : 0), 1) << ids[i];
    }
}

}  // namespace
