#include "sdk/measurement/engine/APMASLLogger.h"

#include <gtest/gtest.h>

#include "sdk/utilities/VDULogger.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

TEST(APMASLLogger, LevelsMapToTheSharedLogger) {
    const std::int64_t expected[] = {3, 3, 3, 4, 4, 4, 5, 7, 7, 4, 4};
    for (std::int64_t level = 0; level <= 10; ++level) {
        EXPECT_EQ(APMASLLogger::VDULoggerLevelFromLogLevel(level), expected[level]) << level;
    }
    EXPECT_EQ(APMASLLogger::VDULoggerLevelFromLogLevel(-1), 4);
}

TEST(APMASLLogger, LinesCarryTheCodeAndOnlyDebugIsForced) {
    sdktest::LoggedLines lines;
    VDULoggerSetVersionString("11.15.0");
    const APMASLLogger logger;
    logger.logMessage("Debug %d", "<DivEdadevadeze>", 25018, 7);  // forced past level 5
    logger.logMessage("Verbose", "<DivEdadevadeze>", 25019, 8);   // not forced: hidden
    logger.logMessage("Error 100%", "<Tag>", 1, 1);
    EXPECT_EQ(lines.take(), (std::vector<std::string>{
                                "com.vovidu.razudizo.analytics 11.15.0 - "
                                "<DivEdadevadeze>[I-ACS025018] Debug %d",
                                "com.vovidu.razudizo.analytics 11.15.0 - <Tag>[I-ACS000001] "
                                "Error 100%"}));
}

}  // namespace
