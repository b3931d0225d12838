#include "sdk/measurement/engine/APMMonitor.h"

#include <gtest/gtest.h>

#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMMeasurement.h"
#include "sdk/utilities/VDULogger.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

constexpr const char* kPrefix = "com.vovidu.razudizo.analytics  - <DivEdadevadeze>";

class APMMonitorTest : public ::testing::Test {
  protected:
    APMMonitor& monitor_ = APMMeasurement::monitor();
    sdktest::LoggedLines lines_;  // resets the shared logger to level 5
    sdktest::MonitorRecorder recorder_;
};

TEST_F(APMMonitorTest, LevelDecidesWhetherAMessagePrints) {
    struct Case {
        std::int64_t level;
        bool prints;  // at the shared logger's default level 5
    };
    const Case cases[] = {{0, true},  {1, true}, {2, false}, {3, true},  {4, true},
                          {5, false}, {6, true}, {7, false}, {8, false}, {9, false}};
    for (const Case& c : cases) {
        monitor_.logWithLevel(c.level, 1, "m");
        const auto printed = lines_.take();
        EXPECT_EQ(printed.size(), c.prints ? 1u : 0u) << "level " << c.level;
    }
    EXPECT_EQ(recorder_.messages().size(), std::size(cases)) << "the observer sees them all";
}

TEST_F(APMMonitorTest, DebugAndVerboseLevelsFollowTheSharedLoggerAndTheVerboseSwitch) {
    VDULoggerSetLevel(VDULoggerLevelDebug);
    monitor_.logWithLevel(7, 2, "debug");
    monitor_.logWithLevel(8, 3, "verbose");
    EXPECT_EQ(lines_.take().size(), 1u) << "verbose is off";
    monitor_.setVerboseLoggingEnabled(true);
    monitor_.logWithLevel(8, 3, "verbose");
    monitor_.setVerboseLoggingEnabled(false);
    EXPECT_EQ(lines_.take(),
              std::vector<std::string>{std::string(kPrefix) + "[I-ACS000003] verbose"});
}

TEST_F(APMMonitorTest, TextJoinsTheContextsAfterTheMessage) {
    const sdk::Error error = apm_errorWithCode(3, "Transaction failed");
    monitor_.logWithLevel(1, 34019, "Failed to delete database. Error", error);
    monitor_.logWithLevel(4, 12047, "Failed to ensure table. Table, error", "queue", 42,
                          APMMonitorContext());
    monitor_.logWithLevel(0, 25018, "");
    monitor_.logWithLevel(0, 1234567, "100% done");
    EXPECT_EQ(lines_.take(),
              (std::vector<std::string>{
                  std::string(kPrefix) +
                      "[I-ACS034019] Failed to delete database. Error: Error "
                      "Domain=com.vovidu.vud.measurement.ErrorDomain Code=3 \"Transaction "
                      "failed\"",
                  std::string(kPrefix) +
                      "[I-ACS012047] Failed to ensure table. Table, error: queue, 42, <null>",
                  std::string(kPrefix) + "[I-ACS025018] (Message was empty)",
                  std::string(kPrefix) + "[I-ACS1234567] 100% done"}));
    const auto messages = recorder_.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[1].contexts.size(), 3u);
    EXPECT_EQ(messages[1].level, 4);
}

TEST_F(APMMonitorTest, DebugModeIsAFlag) {
    EXPECT_FALSE(monitor_.isDebugModeEnabled());
    monitor_.setDebugModeEnabled(true);
    EXPECT_TRUE(monitor_.isDebugModeEnabled());
    monitor_.setDebugModeEnabled(false);
    EXPECT_FALSE(monitor_.isDebugModeEnabled());
    EXPECT_EQ(&APMMeasurement::monitor(), &monitor_);
    EXPECT_EQ(monitor_.libraryVersion(), 111500000);
}

TEST(APMMonitorLevels, TableOfNamesAndKinds) {
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(2), "ERROR");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(5), "WARNING");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(6), "NOTICE");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(7), "DEBUG");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(8), "");
    std::string monitorable;
    for (std::int64_t level = 0; level <= 9; ++level) {
        monitorable += APMMonitor::isMonitorableLevel(level) ? '1' : '0';
    }
    EXPECT_EQ(monitorable, "0110110001");
}

}  // namespace
