#include "sdk/core/RZDLogger.h"

#include <gtest/gtest.h>

#include <string>

#include "sdk/core/RZDConfiguration.h"
#include "sdk/core/RZDCoreVersionString.h"
#include "sdk/utilities/AssertionHandler.h"
#include "tests/sdk/core/CoreTestSupport.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

using sdktest::runCommand;

// One launch of the probe with `arguments` and XDG_CONFIG_HOME at `config`: its whole output.
std::string launchProbe(const std::filesystem::path& config, const std::string& arguments) {
    return runCommand("XDG_CONFIG_HOME='" + config.string() + "' '" CB_RZD_LOGGER_PROBE "' " +
                      arguments + " 2>&1");
}

// The standard suite of a probe run under `config`, as plistutil (not our code) reads it.
std::string storedSuite(const std::filesystem::path& config) {
    const std::filesystem::path file =
        config / "cellarbright" / (std::string(platform::kFallbackBundleIdentifier) + ".plist");
    return runCommand("plistutil -i '" + file.string() + "' -f xml 2>&1");
}

TEST(RZDLoggerSetUpTest, TheDebugSwitchPersistsAcrossLaunchesUntilDisabled) {
    cb::testsupport::TempDir config("cb-debug-switch");
    const std::string kDebugKey = "<key>/vovidu/razudizo/debug_mode</key>";

    std::string output = launchProbe(config.path(), "");
    EXPECT_NE(output.find("level=5\n"), std::string::npos) << output;

    output = launchProbe(config.path(), "-RZDDebugEnabled");
    EXPECT_NE(output.find("level=7\n"), std::string::npos) << output;
    // The message is printed as it stands: the wrapper gives no arguments to fill in.
    EXPECT_NE(output.find("11.15.0 - [RazudizoCore][I-COR000100] kept %@ and %d"),
              std::string::npos)
        << output;
    std::string stored = storedSuite(config.path());
    EXPECT_NE(stored.find(kDebugKey + "\n\t<true/>"), std::string::npos) << stored;

    output = launchProbe(config.path(), "");
    EXPECT_NE(output.find("level=7\n"), std::string::npos) << output;

    output = launchProbe(config.path(), "-RZDDebugEnabled -RZDDebugDisabled");
    EXPECT_NE(output.find("level=5\n"), std::string::npos) << output;
    stored = storedSuite(config.path());
    EXPECT_EQ(stored.find(kDebugKey), std::string::npos) << stored;

    output = launchProbe(config.path(), "");
    EXPECT_NE(output.find("level=5\n"), std::string::npos) << output;
}

class RZDLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RZDLoggerInitialize();
        // LoggedLines forgot the version that the set-up (once per process) wrote.
        VDULoggerSetVersionString(RZDCoreVersionString());
        RZDLoggerSetAnalyticsDebugMode(false);
    }
    void TearDown() override { RZDLoggerSetAnalyticsDebugMode(false); }

    sdktest::LoggedLines lines_;  // also sets the level back to 5 (notice)
};

TEST_F(RZDLoggerTest, TheAnalyticsDebugFlagForcesOnlyTheAnalyticsService) {
    RZDLoggerLogDebug(kRZDLoggerServiceAnalytics, "I-ACS000001", "analytics %d", 1);
    RZDLoggerLogDebug(kRZDLoggerServiceCore, "I-COR000001", "core %d", 1);
    EXPECT_TRUE(lines_.take().empty());
    EXPECT_FALSE(RZDLoggerIsLoggableLevel(7, true));

    RZDLoggerSetAnalyticsDebugMode(true);
    RZDLoggerLogDebug(kRZDLoggerServiceAnalytics, "I-ACS000001", "analytics %d", 2);
    RZDLoggerLogDebug(kRZDLoggerServiceCore, "I-COR000001", "core %d", 2);
    RZDLoggerLogDebug("[RazudizoAnalytics] ", "I-ACS000001", "not exactly the service");
    EXPECT_EQ(lines_.take(), (std::vector<std::string>{
                                 "com.vovidu.razudizo 11.15.0 - [RazudizoAnalytics][I-ACS000001] "
                                 "analytics 2"}));
    EXPECT_TRUE(RZDLoggerIsLoggableLevel(7, true));
    EXPECT_FALSE(RZDLoggerIsLoggableDebug());
    EXPECT_TRUE(RZDLoggerIsLoggableNotice());
}

TEST_F(RZDLoggerTest, LevelFunctionsAndTheFormattedEntryPoints) {
    RZDLoggerSetLevelDebug();
    EXPECT_EQ(RZDLoggerGetLevel(), 7);
    EXPECT_TRUE(RZDLoggerIsLoggableDebug());
    RZDLoggerLogDebug(kRZDLoggerServiceCore, "I-COR000002", "Configuring app named %@", "my-app");
    RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000005", "100%% done");  // still a format
    RZDLoggerLogBasicWarning(kRZDLoggerServiceCore, "I-COR000027", "%@ and %@",
                             {sdk::FormatArg("a b"), sdk::FormatArg("1.0")});
    RZDLoggerSetLevelError();
    EXPECT_EQ(RZDLoggerGetLevel(), 3);
    RZDLoggerLogWarning(kRZDLoggerServiceCore, "I-COR000003", "dropped");
    RZDLoggerSetLevel(9);  // refused by the shared logger, which says so
    EXPECT_EQ(RZDLoggerGetLevel(), 3);
    EXPECT_EQ(lines_.take(),
              (std::vector<std::string>{
                  "com.vovidu.razudizo 11.15.0 - [RazudizoCore][I-COR000002] Configuring app named "
                  "my-app",
                  "com.vovidu.razudizo 11.15.0 - [RazudizoCore][I-COR000005] 100% done",
                  "com.vovidu.razudizo 11.15.0 - [RazudizoCore][I-COR000027] a b and 1.0",
                  "com.vovidu.utilities.logger 11.15.0 - [VDULogger][I-COR000023] Invalid logger "
                  "level, 9"}));
}

TEST_F(RZDLoggerTest, ConfigurationLevelOutsideThreeToSevenGoesToTheAssertionHandler) {
    RZDConfiguration& configuration = RZDConfiguration::sharedInstance();
    configuration.setLoggerLevel(6);
    EXPECT_EQ(configuration.loggerLevel(), 6);
    std::vector<std::string> reported;
    sdk::AssertionHandler previous = sdk::setCurrentThreadAssertionHandler(
        [&reported](std::string_view, const std::string& message) { reported.push_back(message); });
    configuration.setLoggerLevel(2);
    configuration.setLoggerLevel(8);
    sdk::setCurrentThreadAssertionHandler(std::move(previous));
    EXPECT_EQ(reported,
              (std::vector<std::string>{"Invalid logger level, 2", "Invalid logger level, 8"}));
    EXPECT_EQ(configuration.loggerLevel(), 6);
    EXPECT_THROW(configuration.setLoggerLevel(0), sdk::InternalInconsistencyException);
}

}  // namespace
