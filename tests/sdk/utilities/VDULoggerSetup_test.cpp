// Runs alone in its process: it checks the logger before its one-time set-up.
#include <gtest/gtest.h>

#include "sdk/utilities/VDULogger.h"

namespace {

TEST(VDULoggerSetupTest, LevelIsZeroBeforeSetUpAndFiveAfter) {
    EXPECT_EQ(VDULoggerGetLevel(), 0);
    VDULoggerInitialize();
    EXPECT_EQ(VDULoggerGetLevel(), 5);
    VDULoggerSetLevel(4);
    VDULoggerInitialize();  // a second set-up changes nothing
    EXPECT_EQ(VDULoggerGetLevel(), 4);
}

}  // namespace
