#include "sdk/core/REROdazadeveConfiguration.h"

#include <gtest/gtest.h>

#include <vector>

#include "sdk/core/RZDConfiguration.h"
#include "sdk/utilities/VDUNotificationCenter.h"
#include "sdk/utilities/VDUUserDefaults.h"
#include "tests/sdk/core/CoreTestSupport.h"

namespace {

constexpr const char* kStateKey = "/vovidu/measurement/measurement_enabled_state";

class REROdazadeveConfigurationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        VDUUserDefaults::standardUserDefaults().removeObjectForKey(kStateKey);
        token_ = VDUNotificationCenter::defaultCenter().addObserverForName(
            REROdazadeveConfiguration::kSetEnabledNotification, configuration_.get(),
            [this](const VDUNotification& n) { posted_.push_back(n.userInfo); });
    }

    // The persisted switch as plistutil reads it from the standard suite's file.
    static std::string storedState() {
        const std::string xml = sdktest::runCommand(
            "plistutil -i '" + sdktest::standardSuiteFile().string() + "' -f xml 2>/dev/null");
        const std::string key = std::string("<key>") + kStateKey + "</key>";
        const size_t at = xml.find(key);
        if (at == std::string::npos) {
            return "absent";
        }
        const size_t start = xml.find("<integer>", at);
        const size_t end = xml.find("</integer>", start);
        return start == std::string::npos ? "not an integer"
                                          : xml.substr(start + 9, end - start - 9);
    }

    const std::shared_ptr<REROdazadeveConfiguration>& configuration_ =
        REROdazadeveConfiguration::sharedInstance();
    std::vector<sdk::Value::Dictionary> posted_;
    VDUObserverToken token_;
};

TEST_F(REROdazadeveConfigurationTest, SwitchingCollectionPersistsAndPosts) {
    configuration_->setAnalyticsCollectionEnabled(false);
    EXPECT_EQ(storedState(), "2");
    configuration_->setAnalyticsCollectionEnabled(true);
    EXPECT_EQ(storedState(), "1");
    const sdk::Value::Dictionary disabled{
        {"REROdazadeveConfigurationSetEnabledNotification", sdk::Value(false)}};
    const sdk::Value::Dictionary enabled{
        {"REROdazadeveConfigurationSetEnabledNotification", sdk::Value(true)}};
    EXPECT_EQ(posted_, (std::vector<sdk::Value::Dictionary>{disabled, enabled}));

    posted_.clear();
    configuration_->setAnalyticsCollectionEnabled(false, false);  // only the notification
    EXPECT_EQ(storedState(), "1");
    EXPECT_EQ(posted_, (std::vector<sdk::Value::Dictionary>{disabled}));
}

TEST_F(REROdazadeveConfigurationTest, PostsNothingWithoutANameOrAValue) {
    std::vector<std::string> names;
    VDUObserverToken any = VDUNotificationCenter::defaultCenter().addObserverForName(
        std::nullopt, configuration_.get(),
        [&names](const VDUNotification& n) { names.push_back(n.name); });
    configuration_->postNotificationName("", sdk::Value(true));
    configuration_->postNotificationName("custom", std::nullopt);
    configuration_->postNotificationName("custom", sdk::Value(3));
    EXPECT_EQ(names, (std::vector<std::string>{"custom"}));
}

TEST(RZDConfigurationTest, HoldsTheSharedAnalyticsConfiguration) {
    EXPECT_EQ(RZDConfiguration::sharedInstance().analyticsConfiguration(),
              REROdazadeveConfiguration::sharedInstance());
}

}  // namespace
