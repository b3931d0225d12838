#include "sdk/measurement/script/APMPixieLogger.h"

#include <gtest/gtest.h>

#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

TEST(APMPixieLoggerTest, ScriptLevelsBecomeMonitorLevels) {
    const struct {
        std::int64_t script;
        std::int64_t silent, monitored, neither;
    } cases[] = {{2, 8, 8, 8}, {3, 7, 7, 7}, {4, 6, 6, 6}, {5, 5, 4, 3},
                 {6, 2, 1, 0}, {0, 6, 6, 6}, {7, 6, 6, 6}, {-1, 6, 6, 6}};
    for (const auto& c : cases) {
        EXPECT_EQ(APMPixieLogger::monitorLevel(c.script, true, true), c.silent) << c.script;
        EXPECT_EQ(APMPixieLogger::monitorLevel(c.script, true, false), c.silent) << c.script;
        EXPECT_EQ(APMPixieLogger::monitorLevel(c.script, false, true), c.monitored) << c.script;
        EXPECT_EQ(APMPixieLogger::monitorLevel(c.script, false, false), c.neither) << c.script;
    }
}

TEST(APMPixieLoggerTest, LinesReachTheMonitorWithTheirContexts) {
    sdktest::MonitorRecorder monitor;
    APMPixieLogger().logWithLevel(6, "script failed", {"rule", "7"}, false, true);
    const auto messages = monitor.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, 24005);
    EXPECT_EQ(messages[0].level, 1);
    EXPECT_EQ(messages[0].message, "script failed");
    ASSERT_EQ(messages[0].contexts.size(), 2u);
    EXPECT_EQ(messages[0].contexts[1].description(), "7");
}

}  // namespace
