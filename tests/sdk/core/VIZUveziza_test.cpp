#include "sdk/core/VIZUveziza.h"

#include <gtest/gtest.h>

#include "sdk/core/RZDBundleUtil.h"
#include "sdk/core/RZDException.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/utilities/VDUUserDefaults.h"
#include "tests/sdk/core/CoreTestSupport.h"
#include "tests/sdk/core/OptionsFixture.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

using platform::PlistDictionary;

const std::string kDefaultSwitchKey =
    "/vovidu/razudizo/global_data_collection_enabled:__ZEDORE_DEFAULT";

// Fixture bundles as the program's main bundle, and the logger's lines.
class VIZUvezizaTest : public ::testing::Test {
  protected:
    void SetUp() override { VIZUveziza::resetDefaultOptions(); }
    void TearDown() override {
        platform::Bundle::TEST_setMainBundle(std::nullopt);
        VIZUveziza::resetDefaultOptions();
        ZEDOre::resetApps();
    }

    // Makes a bundle with `info` and the options file `options` (none when null) the main one.
    std::filesystem::path useMainBundle(const PlistDictionary& info,
                                        const std::string* options = nullptr) {
        const std::string name = "Fixture" + std::to_string(++bundles_);
        std::filesystem::path path =
            sdktest::makeFixtureBundle(folder_.path(), name, info, options);
        platform::Bundle::TEST_setMainBundle(path);
        return path;
    }

    // The codes of the "[RazudizoCore]" lines logged so far.
    std::vector<std::string> loggedCodes() {
        std::vector<std::string> codes;
        for (const std::string& line : lines_.take()) {
            const size_t at = line.find("[RazudizoCore][");
            if (at != std::string::npos) {
                codes.push_back(line.substr(at + 15, 11));
            }
        }
        return codes;
    }

    cb::testsupport::TempDir folder_{"cb-options-bundles"};
    sdktest::LoggedLines lines_;
    int bundles_ = 0;
};

std::string xmlOptions(const PlistDictionary& entries) {
    return platform::encodeXmlPlist(entries);
}

TEST_F(VIZUvezizaTest, DefaultOptionsComeFromTheBundleAndFailWithTheirCodes) {
    useMainBundle({{"CFBundleIdentifier", "com.example.fixture"}});
    EXPECT_EQ(VIZUveziza::defaultOptions(), std::nullopt);
    EXPECT_EQ(loggedCodes(), (std::vector<std::string>{"I-COR000012"}));
    EXPECT_EQ(VIZUveziza::defaultOptions(), std::nullopt);  // read once: no second log
    EXPECT_TRUE(loggedCodes().empty());

    const std::string array = platform::encodeXmlPlist(platform::PlistArray{"x"});
    useMainBundle({}, &array);
    VIZUveziza::resetDefaultOptions();
    EXPECT_EQ(VIZUveziza::defaultOptions(), std::nullopt);
    EXPECT_EQ(loggedCodes(), (std::vector<std::string>{"I-COR000011"}));

    const std::string binary = platform::encodeBinaryPlist(
        PlistDictionary{{"VOVIDU_APP_ID", sdktest::kValidAppID}, {"API_KEY", "key"}});
    useMainBundle({}, &binary);
    VIZUveziza::resetDefaultOptions();
    std::optional<VIZUveziza> options = VIZUveziza::defaultOptions();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->voviduAppID(), sdktest::kValidAppID);
    EXPECT_EQ(options->APIKey(), "key");
    EXPECT_EQ(options->projectID(), std::nullopt);
    EXPECT_TRUE(options->usingOptionsFromDefaultPlist());
    EXPECT_FALSE(options->isEditingLocked());
    EXPECT_TRUE(loggedCodes().empty());
}

TEST_F(VIZUvezizaTest, OptionsFromAFileOrFromCode) {
    EXPECT_EQ(VIZUveziza::initWithContentsOfFile(std::nullopt), std::nullopt);
    EXPECT_EQ(VIZUveziza::initWithContentsOfFile(folder_ / "missing.plist"), std::nullopt);
    const std::filesystem::path file = folder_ / "custom.plist";
    std::ofstream(file) << xmlOptions({{"PROJECT_ID", "p"}, {"IS_MEASUREMENT_ENABLED", true}});
    std::optional<VIZUveziza> fromFile = VIZUveziza::initWithContentsOfFile(file);
    EXPECT_EQ(loggedCodes(), (std::vector<std::string>{"I-COR000013", "I-COR000014"}));
    ASSERT_TRUE(fromFile.has_value());
    EXPECT_EQ(fromFile->projectID(), "p");
    EXPECT_FALSE(fromFile->usingOptionsFromDefaultPlist());
    EXPECT_EQ(fromFile->optionsDictionary().at("IS_MEASUREMENT_ENABLED"), sdk::Value(true));

    useMainBundle({{"CFBundleIdentifier", "com.example.coded"}});
    VIZUveziza coded("1:2:ios:ab", std::nullopt);
    EXPECT_EQ(coded.optionsDictionary(),
              (sdk::Value::Dictionary{{"VOVIDU_APP_ID", "1:2:ios:ab"},
                                      {"BUNDLE_ID", "com.example.coded"}}));
    EXPECT_EQ(VIZUveziza::libraryVersionID(), "111500000");
}

TEST_F(VIZUvezizaTest, LockedOptionsAndTheirCopiesRefuseEveryChange) {
    VIZUveziza options("1:2:ios:ab", "123");
    options.setAPIKey("before");
    options.setEditingLocked(true);
    const VIZUveziza copy = options;
    for (const VIZUveziza* locked : {static_cast<const VIZUveziza*>(&options), &copy}) {
        VIZUveziza target = *locked;
        try {
            target.setAPIKey("after");
            ADD_FAILURE() << "no exception";
        } catch (const RZDException& e) {
            EXPECT_EQ(e.name(), "com.razudizo.core");
            EXPECT_EQ(e.reason(),
                      "Attempted to modify options after it's set on ZEDOre. Please modify all "
                      "properties before initializing ZEDOre.");
        }
        EXPECT_THROW(target.setAppGroupID("group"), RZDException);
        EXPECT_EQ(target.APIKey(), "before");
        EXPECT_EQ(target.appGroupID(), std::nullopt);
    }
}

TEST_F(VIZUvezizaTest, EqualOptionsHaveEqualHashes) {
    const sdk::Value::Dictionary dictionary{{"API_KEY", "k"}, {"PROJECT_ID", "p"}};
    VIZUveziza a = VIZUveziza::initInternalWithOptionsDictionary(dictionary);
    VIZUveziza b = VIZUveziza::initInternalWithOptionsDictionary(dictionary);
    a.setDeepLinkURLScheme("scheme");
    b.setDeepLinkURLScheme("scheme");
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.hash(), b.hash());
    b.setAppGroupID("group.b");
    EXPECT_FALSE(a == b);
    a.setAppGroupID("group.b");
    a.setProjectID("other");
    EXPECT_FALSE(a == b);
}

// The switches: Info.plist over the options list, deactivation over everything, and the
// default app's data-collection switch when nothing is set.
TEST_F(VIZUvezizaTest, AnalyticsSwitchTable) {
    struct Case {
        const char* name;
        PlistDictionary info;
        sdk::Value::Dictionary options;
        bool measurement, collection, explicitlySet, deactivated;
    };
    const Case cases[] = {
        {"Info.plist NO beats options YES",
         {{"RAZUDIZO_ANALYTICS_COLLECTION_ENABLED", false}},
         {{"RAZUDIZO_ANALYTICS_COLLECTION_ENABLED", true}},
         false,
         false,
         true,
         false},
        {"options only", {}, {{"IS_MEASUREMENT_ENABLED", true}}, true, true, true, false},
        {"deactivated",
         {{"RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED", true}},
         {{"IS_MEASUREMENT_ENABLED", true}, {"RAZUDIZO_ANALYTICS_COLLECTION_ENABLED", true}},
         false,
         false,
         true,
         true},
        {"string switch",
         {},
         {{"RAZUDIZO_ANALYTICS_COLLECTION_ENABLED", "YES"}},
         false,
         true,
         false,
         false},
        {"nothing set, no default app", {}, {}, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        useMainBundle(c.info);
        const VIZUveziza options = VIZUveziza::initInternalWithOptionsDictionary(c.options);
        EXPECT_EQ(options.isMeasurementEnabled(), c.measurement);
        EXPECT_EQ(options.isAnalyticsCollectionEnabled(), c.collection);
        EXPECT_EQ(options.isAnalyticsCollectionExplicitlySet(), c.explicitlySet);
        EXPECT_EQ(options.isAnalyticsCollectionDeactivated(), c.deactivated);
    }

    // With a configured default app, its data-collection switch answers.
    useMainBundle({});
    ZEDOre::configureWithOptions(
        VIZUveziza::initInternalWithOptionsDictionary({{"VOVIDU_APP_ID", sdktest::kValidAppID}}));
    VDUUserDefaults::standardUserDefaults().removeObjectForKey(kDefaultSwitchKey);
    const VIZUveziza unset = VIZUveziza::initInternalWithOptionsDictionary({});
    EXPECT_TRUE(unset.isMeasurementEnabled());
    EXPECT_TRUE(unset.isAnalyticsCollectionEnabled());
    VDUUserDefaults::standardUserDefaults().setBool(false, kDefaultSwitchKey);
    EXPECT_FALSE(unset.isMeasurementEnabled());
    VDUUserDefaults::standardUserDefaults().removeObjectForKey(kDefaultSwitchKey);

    useMainBundle({{"RazudizoDataCollectionDefaultEnabled", false}});
    EXPECT_FALSE(ZEDOre::defaultApp()->isDataCollectionDefaultEnabled());
}

TEST_F(VIZUvezizaTest, AnalyticsSwitchesAreFixedAtFirstUse) {
    const VIZUveziza options = VIZUveziza::initInternalWithOptionsDictionary({});
    const sdk::Value::Dictionary info{{"IS_MEASUREMENT_ENABLED", false}};
    EXPECT_EQ(options.analyticsOptionsDictionaryWithInfoDictionary(info), info);
    EXPECT_EQ(options.analyticsOptionsDictionaryWithInfoDictionary({}), info);
    EXPECT_FALSE(options.isAnalyticsCollectionEnabled());
}

TEST_F(VIZUvezizaTest, BundleUtilFindsResourcesIdentifiersAndSchemes) {
    const std::string options = xmlOptions({{"API_KEY", "k"}});
    const std::filesystem::path without = sdktest::makeFixtureBundle(
        folder_.path(), "Without",
        {{"CFBundleIdentifier", "com.example.without"},
         {"CFBundleURLTypes",
          platform::PlistArray{
              PlistDictionary{{"CFBundleURLSchemes", platform::PlistArray{"one", "two"}}},
              PlistDictionary{{"CFBundleURLName", "no schemes"}}}}});
    const std::filesystem::path with = sdktest::makeFixtureBundle(
        folder_.path(), "With",
        {{"CFBundleIdentifier", "com.example.with"},
         {"CFBundleURLTypes", platform::PlistArray{PlistDictionary{
                                  {"CFBundleURLSchemes", platform::PlistArray{"three"}}}}}},
        &options);
    const std::vector<platform::Bundle> bundles{*platform::Bundle::open(without),
                                                *platform::Bundle::open(with)};
    EXPECT_EQ(RZDBundleUtil::optionsDictionaryPathWithResourceName("VoviduService-Info", "plist",
                                                                   bundles),
              with / "Contents" / "Resources" / "VoviduService-Info.plist");
    EXPECT_EQ(RZDBundleUtil::optionsDictionaryPathWithResourceName("Missing", "plist", bundles),
              std::nullopt);
    EXPECT_EQ(
        RZDBundleUtil::optionsDictionaryPathWithResourceName("../With.app/x", "plist", bundles),
        std::nullopt);
    EXPECT_TRUE(RZDBundleUtil::hasBundleIdentifierPrefix("com.example.with", bundles));
    EXPECT_FALSE(RZDBundleUtil::hasBundleIdentifierPrefix("com.example", bundles));
    EXPECT_EQ(RZDBundleUtil::bundleIdentifierByRemovingLastPartFrom("com.example.with"),
              "com.example");
    EXPECT_EQ(RZDBundleUtil::bundleIdentifierByRemovingLastPartFrom("plain"), "");
    EXPECT_EQ(RZDBundleUtil::relevantURLSchemes(bundles),
              (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_TRUE(RZDBundleUtil::relevantBundles().empty());  // the test runs outside a bundle
}

}  // namespace
