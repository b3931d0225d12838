// The experiments client's monitor hands its messages to the measurement monitor unchanged.
#include <gtest/gtest.h>

#include "sdk/measurement/experiments/APMEMonitor.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

TEST(APMEMonitor, ForwardsLevelCodeMessageAndContextsToTheMeasurementMonitor) {
    sdktest::MonitorRecorder monitor;
    APMEMonitor::logWithLevel(1, 860001, "Diversion key is empty");
    APMEMonitor::logWithLevel(4, 820015, "Cannot create experiment snapshots", {"div_x", 3});
    const auto messages = monitor.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].level, 1);
    EXPECT_EQ(messages[0].code, 860001);
    EXPECT_EQ(messages[0].message, "Diversion key is empty");
    EXPECT_TRUE(messages[0].contexts.empty());
    EXPECT_EQ(messages[1].level, 4);
    EXPECT_EQ(messages[1].code, 820015);
    ASSERT_EQ(messages[1].contexts.size(), 2u);
    EXPECT_EQ(messages[1].contexts[0].description(), "div_x");
    EXPECT_EQ(messages[1].contexts[1].description(), "3");
}
