#include "sdk/core/ZEDOre.h"

#include <gtest/gtest.h>

#include "sdk/core/RZDException.h"
#include "tests/sdk/core/OptionsFixture.h"

namespace {

using sdktest::OptionsFixture;
using sdktest::PlistFormat;

class ZEDOreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZEDOre::resetApps();
        ZEDOre::TEST_setResourcesDirectory(options_.resources());
    }
    void TearDown() override {
        ZEDOre::resetApps();
        ZEDOre::TEST_setResourcesDirectory(std::nullopt);
    }

    // Runs configure() and returns the reason of the "com.razudizo.core" exception it raised,
    // or "" when it raised none.
    static std::string configureFailure() {
        try {
            ZEDOre::configure();
        } catch (const RZDException& e) {
            EXPECT_EQ(e.name(), "com.razudizo.core");
            return e.reason();
        }
        return "";
    }

    OptionsFixture options_;
};

TEST_F(ZEDOreTest, UnusableOptionsRaiseTheCoreErrorAndConfigureNothing) {
    const std::string missing = configureFailure();
    EXPECT_EQ(missing,
              "`RazudizoApp.configure()` could not find a valid VoviduService-Info.plist in your "
              "project. Please download one from https://console.vovidu.invalid.");
    EXPECT_FALSE(ZEDOre::isDefaultAppConfigured());

    const struct {
        const char* name;
        std::string contents;
    } unusable[] = {
        {"top-level array",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array>"
         "</plist>"},
        {"not a property list", "VOVIDU_APP_ID = 1:2:ios:ab"},
        {"empty file", ""},
    };
    for (const auto& c : unusable) {
        SCOPED_TRACE(c.name);
        options_.writeRaw(c.contents);
        EXPECT_EQ(configureFailure(), missing);
        EXPECT_FALSE(ZEDOre::isDefaultAppConfigured());
    }
}

TEST_F(ZEDOreTest, InvalidAppIDRaisesAndConfiguresNothing) {
    options_.writeOptions({{"VOVIDU_APP_ID", "1:1234:android:abc"}});
    EXPECT_EQ(configureFailure(),
              "Configuration fails. It may be caused by an invalid VOVIDU_APP_ID in "
              "VoviduService-Info.plist or set in the customized options.");
    EXPECT_FALSE(ZEDOre::isDefaultAppConfigured());
    EXPECT_EQ(ZEDOre::defaultApp(), nullptr);
}

TEST_F(ZEDOreTest, ConfiguresTheDefaultAppFromXmlAndBinaryLists) {
    for (PlistFormat format : {PlistFormat::xml, PlistFormat::binary}) {
        ZEDOre::resetApps();
        options_.writeOptions({{"VOVIDU_APP_ID", sdktest::kValidAppID},
                               {"API_KEY", "key"},
                               {"PROJECT_ID", "cellarbright"}},
                              format);
        ZEDOre::configure();
        std::shared_ptr<const ZEDOre> app = ZEDOre::defaultApp();
        ASSERT_NE(app, nullptr);
        EXPECT_TRUE(ZEDOre::isDefaultAppConfigured());
        EXPECT_EQ(app->name(), "__ZEDORE_DEFAULT");
        EXPECT_TRUE(app->isDefaultApp());
        EXPECT_EQ(app->voviduAppID(), sdktest::kValidAppID);
        EXPECT_EQ(app->options().at("API_KEY"), sdk::Value("key"));
    }
    EXPECT_EQ(configureFailure(), "Default app has already been configured.");
}

TEST_F(ZEDOreTest, OptionsKeepBooleansApartFromStrings) {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "VOVIDU_APP_ID", plist_new_string(sdktest::kValidAppID));
    plist_dict_set_item(root, "IS_MEASUREMENT_ENABLED", plist_new_bool(1));
    sdktest::writePlist(root, options_.optionsPath(), PlistFormat::xml);
    std::optional<sdk::Value::Dictionary> read = ZEDOre::readOptionsFile(options_.optionsPath());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->at("IS_MEASUREMENT_ENABLED"), sdk::Value(true));
}

TEST(ZEDOreAppID, Validation) {
    const struct {
        const char* id;
        bool valid;
    } cases[] = {
        {"1:1234567890:ios:0123456789abcdef", true},
        {"1:1:ios:A", true},
        {"2:anything at all", true},  // another version is let through
        {"", false},
        {"1:1234567890:android:0123456789abcdef", false},
        {"1:1234567890:ios:xyz", false},
        {"1:1234567890:ios:abc:def", false},
        {"1:1234567890:ios:", false},
        {"1:12x:ios:abc", false},
        {"x:1:ios:abc", false},
        {"1", false},
        {"1:1234567890:ios", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ZEDOre::validateAppID(c.id), c.valid) << c.id;
    }
}

}  // namespace
