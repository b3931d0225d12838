#include "sdk/measurement/engine/APMUserDefaults.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <cerrno>
#include <filesystem>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDeepLink.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

// The backup attribute of `path`: its value, "" when absent, or no value when the file system
// keeps no user attributes.
std::optional<std::string> backupAttribute(const std::filesystem::path& path) {
    char value[16] = {};
    const ssize_t length = getxattr(path.c_str(), "user.xdg.robots.backup", value, sizeof value);
    if (length < 0) {
        return errno == ENOTSUP ? std::nullopt : std::optional<std::string>("");
    }
    return std::string(value, static_cast<std::size_t>(length));
}

class APMUserDefaultsTest : public ::testing::Test {
  protected:
    cb::testsupport::TempDir folder_{"cb-apm-defaults"};
    sdktest::ScopedEnv configHome_{"XDG_CONFIG_HOME", folder_.path().string()};
    sdktest::LoggedLines lines_;
    std::unique_ptr<APMUserDefaults> defaults_ =
        std::make_unique<APMUserDefaults>("com.vovidu.vud.measurement.tcf.userdefaults");
};

TEST_F(APMUserDefaultsTest, TypedReadsAnswerOnlyTheirKind) {
    defaults_->setObject(sdk::Value("12"), "text");
    defaults_->setDouble(2.75, "real");
    EXPECT_FALSE(defaults_->boolForKey("text"));
    EXPECT_FALSE(defaults_->dictionaryForKey("text"));
    EXPECT_EQ(defaults_->integerForKey("real"), 2);
    EXPECT_FLOAT_EQ(defaults_->floatForKey("real"), 2.75f);
    EXPECT_FALSE(defaults_->stringForKey("real"));
    EXPECT_FALSE(defaults_->arrayForKey("real"));
    EXPECT_EQ(defaults_->integerForKey("missing"), 0);
}

TEST_F(APMUserDefaultsTest, EveryPropertyListKindRoundTripsThroughTheFile) {
    const sdk::Value values[] = {
        sdk::Value("text"),
        sdk::Value(std::int64_t{-7}),
        sdk::Value(1.5),
        sdk::Value(true),
        sdk::Value(sdk::Bytes{0, 1, 255}),
        sdk::Value(sdk::Date::fromTimeIntervalSince1970(1.7e9)),
        sdk::Value(sdk::Value::Array{sdk::Value("a"), sdk::Value(1)}),
        sdk::Value(sdk::Value::Dictionary{{"k", sdk::Value(sdk::Value::Array{})}}),
    };
    for (std::size_t i = 0; i < std::size(values); ++i) {
        defaults_->setObject(values[i], "key" + std::to_string(i));
    }
    defaults_.reset();  // the next instance reads the file afresh
    APMUserDefaults reread("com.vovidu.vud.measurement.tcf.userdefaults");
    for (std::size_t i = 0; i < std::size(values); ++i) {
        EXPECT_EQ(reread.objectForKey("key" + std::to_string(i)), values[i]) << i;
    }
    reread.clearAllData();
    EXPECT_TRUE(reread.store()->allKeys().empty());
    EXPECT_TRUE(lines_.take().empty());
}

TEST_F(APMUserDefaultsTest, OnlyANamedSuiteIsKeptOutOfBackups) {
    APMUserDefaults standard(std::nullopt);
    standard.setBool(true, "/vovidu/measurement/debug_mode");
    EXPECT_TRUE(standard.synchronize());
    EXPECT_TRUE(standard.isPreferenceFileExcluded());

    EXPECT_TRUE(defaults_->synchronize()) << "no file yet";
    EXPECT_FALSE(defaults_->isPreferenceFileExcluded());
    defaults_->setInteger(1, "IABTCF_gdprApplies");
    EXPECT_TRUE(defaults_->synchronize());
    EXPECT_TRUE(defaults_->isPreferenceFileExcluded());

    const std::optional<std::string> named = backupAttribute(defaults_->store()->path());
    if (!named) {
        GTEST_SKIP() << "no user attributes on this file system";
    }
    EXPECT_EQ(*named, "false");
    EXPECT_EQ(backupAttribute(standard.store()->path()), "");
}

TEST_F(APMUserDefaultsTest, AStoredDeepLinkExpiresAfterItsTime) {
    TEST_APMSetCurrentTimeInterval(1'700'000'000);
    EXPECT_FALSE(APMIsStoredDeepLinkExpired(*defaults_, 60)) << "nothing stored";
    APMStoreDeepLink(*defaults_, "cellarbright://open?utm_source=mail");
    EXPECT_EQ(defaults_->stringForKey(kAPMDeepLinkKey), "cellarbright://open?utm_source=mail");
    EXPECT_FALSE(APMClearExpiredStoredDeepLink(*defaults_, 60));

    TEST_APMSetCurrentTimeInterval(1'700'000'061);
    EXPECT_TRUE(APMIsStoredDeepLinkExpired(*defaults_, 60));
    TEST_APMSetCurrentTimeInterval(1'699'999'939);
    EXPECT_TRUE(APMIsStoredDeepLinkExpired(*defaults_, 60)) << "a clock set back counts too";
    EXPECT_TRUE(APMClearExpiredStoredDeepLink(*defaults_, 60));
    EXPECT_FALSE(defaults_->objectForKey(kAPMDeepLinkKey));
    EXPECT_FALSE(defaults_->objectForKey(kAPMDeepLinkTimestampKey));
    TEST_APMSetCurrentTimeInterval(std::nullopt);
}

TEST(APMPreviousHourStartMillis, StartsTheHourBefore) {
    EXPECT_EQ(APMPreviousHourStartMillis(7'200'000 + 1'234), 3'600'000);
    EXPECT_EQ(APMPreviousHourStartMillis(3'600'000), 0);
    EXPECT_EQ(APMPreviousHourStartMillis(-1), -3'600'000) << "truncating toward zero";
    EXPECT_EQ(APMPreviousHourStartMillis(std::numeric_limits<std::int64_t>::min()),
              std::numeric_limits<std::int64_t>::min() / 3'600'000 * 3'600'000);
}

}  // namespace
