#include "sdk/core/ZEDOre.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/preferences/PlistCodec.h"
#include "sdk/core/REROdazadeveConfiguration.h"
#include "sdk/core/REZUzavuredeContainer.h"
#include "sdk/core/RZDAnalyticsStarting.h"
#include "sdk/core/RZDConfiguration.h"
#include "sdk/core/RZDException.h"
#include "sdk/core/RZDHeartbeatLogger.h"
#include "sdk/core/RZDLogger.h"
#include "sdk/core/RZDRazudizoUserAgent.h"
#include "sdk/core/heartbeat/HeartbeatStorage.h"
#include "sdk/utilities/VDUUserDefaults.h"
#include "tests/sdk/core/CoreTestSupport.h"
#include "tests/sdk/core/OptionsFixture.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

namespace fs = std::filesystem;
using platform::PlistDictionary;

constexpr const char* kFixtureBundleID = "com.example.fixture";
const std::string kDefaultSwitchKey =
    "/vovidu/razudizo/global_data_collection_enabled:__ZEDORE_DEFAULT";

// Stands in for the analytics library: the class the core finds under "REROdazadeve".
class RecordingAnalytics final : public RZDAnalyticsStarting {
  public:
    std::string className() const override { return "REROdazadeve"; }
    void startWithConfiguration(const std::shared_ptr<REROdazadeveConfiguration>& configuration,
                                const VIZUveziza& options) const override {
        std::lock_guard lock(mutex_);
        starts.push_back({configuration, options.voviduAppID().value_or("")});
    }
    struct Start {
        std::shared_ptr<REROdazadeveConfiguration> configuration;
        std::string appID;
    };
    mutable std::mutex mutex_;
    mutable std::vector<Start> starts;  // guarded by mutex_
};

// A library whose one component is made eagerly in the default app, recording it in the list
// `*events` points at (none while it is null).
class EagerLibrary final : public RZDLibrary {
  public:
    explicit EagerLibrary(std::vector<std::string>** events) : events_(events) {}
    std::string className() const override { return "ZEDOreTestEagerLibrary"; }
    std::vector<REZUzavurede> componentsToRegister() const override {
        std::vector<std::string>** events = events_;
        return {REZUzavurede::componentWithProtocol(
            "ZEDOreTestEager", RZDInstantiationTimingEagerInDefaultApp,
            [events](REZUzavuredeContainer&, bool*) -> std::shared_ptr<RZDComponentInstance> {
                if (*events != nullptr) {
                    (*events)->push_back("eager");
                }
                return nullptr;
            })};
    }

  private:
    std::vector<std::string>** const events_;
};

// A library that offers nothing.
class EmptyLibrary final : public RZDLibrary {
  public:
    std::string className() const override { return "ZEDOreTestEmptyLibrary"; }
    std::vector<REZUzavurede> componentsToRegister() const override { return {}; }
};

class ZEDOreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RZDLoggerSetLevelDebug();
        ZEDOre::resetApps();
        VIZUveziza::resetDefaultOptions();
    }
    void TearDown() override {
        ZEDOre::resetApps();
        platform::Bundle::TEST_setMainBundle(std::nullopt);
        VIZUveziza::resetDefaultOptions();
        VDUUserDefaults::standardUserDefaults().removeObjectForKey(kDefaultSwitchKey);
        VDUClassRegistry::TEST_unregisterClass("REROdazadeve");
        RZDLoggerSetLevelNotice();
    }

    // Makes a fixture bundle with `info` (plus its identifier) and the options `options` the
    // program's main bundle.
    void useBundle(PlistDictionary options, PlistDictionary info = {}) {
        info.emplace("CFBundleIdentifier", kFixtureBundleID);
        const std::string list = platform::encodeXmlPlist(options);
        const std::string name = "Fixture" + std::to_string(++bundles_);
        platform::Bundle::TEST_setMainBundle(
            sdktest::makeFixtureBundle(folder_.path(), name, info, &list));
        VIZUveziza::resetDefaultOptions();
    }

    // The codes of the "[RazudizoCore]" lines logged since the last call.
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

    static bool logged(const std::vector<std::string>& codes, const std::string& code) {
        return std::find(codes.begin(), codes.end(), code) != codes.end();
    }

    static VIZUveziza optionsWithAppID(const std::string& appID) {
        return VIZUveziza::initInternalWithOptionsDictionary({{"VOVIDU_APP_ID", appID}});
    }

    cb::testsupport::TempDir folder_{"cb-zedore-bundles"};
    sdktest::LoggedLines lines_;
    int bundles_ = 0;
};

// Runs `configure` and returns the reason of the RZDException it raised ("" for none).
template <typename F>
std::string failureOf(F configure, const char* expectedName = "com.razudizo.core") {
    try {
        configure();
    } catch (const RZDException& e) {
        EXPECT_EQ(e.name(), expectedName);
        return e.reason();
    }
    return "";
}

TEST_F(ZEDOreTest, ProgrammerErrorsRaiseWithTheirReasons) {
    EXPECT_EQ(failureOf([] { ZEDOre::configure(); }),
              "`RazudizoApp.configure()` could not find a valid VoviduService-Info.plist in your "
              "project. Please download one from https://console.vovidu.invalid.");

    const VIZUveziza valid = optionsWithAppID(sdktest::kValidAppID);
    const std::string badCharacters =
        "App name can only contain alphanumeric, hyphen (-), and underscore (_) characters";
    const struct {
        std::optional<std::string> name;
        std::optional<VIZUveziza> options;
        std::string reason;
    } cases[] = {
        {"x", std::nullopt, "Neither name nor options can be nil."},
        {std::nullopt, valid, "Neither name nor options can be nil."},
        {"", valid, "Name cannot be empty."},
        {"a b", valid, badCharacters},
        {"a.b", valid, badCharacters},
        {"a\xff", valid, badCharacters},  // not UTF-8
        {"my-app_2", valid, ""},
        {"my-app_2", valid, "App named my-app_2 has already been configured."},
        {"приложение_3", valid, ""},  // letters of any script
        {"bad-id", optionsWithAppID("1:1234:android:abc"),
         "Configuration fails. It may be caused by an invalid VOVIDU_APP_ID in "
         "VoviduService-Info.plist or set in the customized options."},
        {"__ZEDORE_DEFAULT", valid, ""},
        {"__ZEDORE_DEFAULT", valid, "Default app has already been configured."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.value_or("(nil)"));
        EXPECT_EQ(failureOf([&] { ZEDOre::configureWithName(c.name, c.options); }), c.reason);
    }
    EXPECT_EQ(failureOf([] { ZEDOre::configureWithOptions(std::nullopt); }),
              "Options is nil. Please pass a valid options.");
    const std::optional<ZEDOre::Apps> apps = ZEDOre::allApps();
    ASSERT_TRUE(apps.has_value());
    EXPECT_EQ(apps->size(), 3u);
    EXPECT_FALSE(apps->contains("bad-id"));
}

TEST_F(ZEDOreTest, ConfigureStartsAnalyticsMakesEagerComponentsThenPostsReadyOnce) {
    useBundle({{"VOVIDU_APP_ID", sdktest::kValidAppID}, {"BUNDLE_ID", kFixtureBundleID}});
    auto analytics = std::make_shared<RecordingAnalytics>();
    ASSERT_TRUE(VDUClassRegistry::registerClass(analytics));
    static std::vector<std::string>* events = nullptr;
    // Registrants stay for the whole process: this one records only while `events` is set.
    static const auto library = std::make_shared<EagerLibrary>(&events);
    REZUzavuredeContainer::registerAsComponentRegistrant(library);
    std::vector<std::string> seen;
    events = &seen;

    std::vector<VDUNotification> ready;
    VDUObserverToken token = VDUNotificationCenter::defaultCenter().addObserverForName(
        "ZEDOreReadyToConfigureSDKNotification", nullptr, [&](const VDUNotification& n) {
            ready.push_back(n);
            seen.push_back("ready, registered: " +
                           std::to_string(ZEDOre::allApps().value_or(ZEDOre::Apps{}).size()));
        });
    ZEDOre::configure();
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].sender, ZEDOre::classObject());
    EXPECT_EQ(ready[0].userInfo,
              (sdk::Value::Dictionary{{"ZEDOreNameKey", "__ZEDORE_DEFAULT"},
                                      {"ZEDOreIsDefaultAppKey", true},
                                      {"RZDVoviduAppIDKey", sdktest::kValidAppID}}));
    EXPECT_EQ(seen, (std::vector<std::string>{"eager", "ready, registered: 1"}));
    {
        std::lock_guard lock(analytics->mutex_);
        ASSERT_EQ(analytics->starts.size(), 1u);
        EXPECT_EQ(analytics->starts[0].appID, sdktest::kValidAppID);
        EXPECT_EQ(analytics->starts[0].configuration,
                  RZDConfiguration::sharedInstance().analyticsConfiguration());
    }
    EXPECT_FALSE(logged(loggedCodes(), "I-COR000008"));  // the bundle IDs agree

    // Another app: not started, eager-in-default components stay lazy, its own notification.
    ZEDOre::configureWithName("second", optionsWithAppID(sdktest::kValidAppID));
    ASSERT_EQ(ready.size(), 2u);
    EXPECT_EQ(ready[1].userInfo.at("ZEDOreIsDefaultAppKey"), sdk::Value(false));
    EXPECT_EQ(seen.back(), "ready, registered: 2");
    EXPECT_EQ(seen.size(), 3u);
    std::lock_guard lock(analytics->mutex_);
    EXPECT_EQ(analytics->starts.size(), 1u);
    events = nullptr;
}

TEST_F(ZEDOreTest, AppIDAndBundleIDChecks) {
    useBundle({{"VOVIDU_APP_ID", "1:1234567890:android:0123456789abcdef"}});
    EXPECT_NE(failureOf([] { ZEDOre::configure(); }), "");
    EXPECT_TRUE(logged(loggedCodes(), "I-COR000009"));
    // The default app was set before its core failed, and stays; the registry lacks it.
    EXPECT_TRUE(ZEDOre::isDefaultAppConfigured());
    ASSERT_TRUE(ZEDOre::allApps().has_value());
    EXPECT_TRUE(ZEDOre::allApps()->empty());

    ZEDOre::configureWithName("next", optionsWithAppID("2:some:future:form"));
    EXPECT_TRUE(logged(loggedCodes(), "I-COR000010"));
    EXPECT_NE(ZEDOre::appNamed("next"), nullptr);

    VIZUveziza otherBundle = optionsWithAppID(sdktest::kValidAppID);
    otherBundle.setBundleID("com.example.somebody-else");
    ZEDOre::configureWithName("mismatch", otherBundle);
    EXPECT_TRUE(logged(loggedCodes(), "I-COR000008"));
    EXPECT_NE(ZEDOre::appNamed("mismatch"), nullptr);
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

// The standard suite's file as a dictionary; empty when there is no file.
PlistDictionary standardSuite() {
    std::ifstream in(sdktest::standardSuiteFile(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::optional<platform::PlistValue> root = platform::decodePlist(bytes.str());
    const PlistDictionary* dictionary = root ? root->getIf<PlistDictionary>() : nullptr;
    return dictionary != nullptr ? *dictionary : PlistDictionary{};
}

TEST_F(ZEDOreTest, RegistryLookupsAndDeletion) {
    EXPECT_EQ(ZEDOre::defaultApp(), nullptr);
    EXPECT_EQ(ZEDOre::appNamed("nobody"), nullptr);
    EXPECT_EQ(ZEDOre::allApps(), std::nullopt);
    EXPECT_EQ(loggedCodes(),
              (std::vector<std::string>{"I-COR000003", "I-COR000004", "I-COR000005"}));

    useBundle({{"VOVIDU_APP_ID", sdktest::kValidAppID}});
    ZEDOre::configure();
    std::shared_ptr<ZEDOre> app = ZEDOre::defaultApp();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(ZEDOre::appNamed("__ZEDORE_DEFAULT"), app);
    EXPECT_TRUE(app->options().isEditingLocked());
    app->setDataCollectionDefaultEnabled(true);
    EXPECT_TRUE(standardSuite().contains(kDefaultSwitchKey));

    std::vector<sdk::Value::Dictionary> deleted;
    VDUObserverToken token = VDUNotificationCenter::defaultCenter().addObserverForName(
        "ZEDOreDeleteNotification", ZEDOre::classObject(),
        [&](const VDUNotification& n) { deleted.push_back(n.userInfo); });
    std::optional<bool> outcome;
    app->deleteApp([&](bool ok) { outcome = ok; });
    EXPECT_EQ(outcome, true);
    EXPECT_FALSE(ZEDOre::isDefaultAppConfigured());
    EXPECT_FALSE(standardSuite().contains(kDefaultSwitchKey));
    EXPECT_TRUE(app->container().componentProtocols().empty());
    EXPECT_EQ(deleted,
              (std::vector<sdk::Value::Dictionary>{{{"ZEDOreNameKey", "__ZEDORE_DEFAULT"}}}));
    loggedCodes();
    app->deleteApp([&](bool ok) { outcome = ok; });
    EXPECT_EQ(outcome, false);
    EXPECT_EQ(loggedCodes(), std::vector<std::string>{"I-COR000007"});

    // A deleted app does not take a newer app of its name with it.
    ZEDOre::configure();
    app->deleteApp([&](bool ok) { outcome = ok; });
    EXPECT_EQ(outcome, false);
    EXPECT_NE(ZEDOre::appNamed("__ZEDORE_DEFAULT"), nullptr);
    EXPECT_TRUE(ZEDOre::isDefaultAppConfigured());
}

// Stands for a class that offers no components.
class PlainClass final : public VDUClass {
  public:
    std::string className() const override { return "ZEDOreTestPlain"; }
};

TEST_F(ZEDOreTest, LibrariesJoinTheUserAgentOnlyWithValidNamesAndVersions) {
    const std::string before = ZEDOre::razudizoUserAgent();
    const std::pair<std::optional<std::string>, std::optional<std::string>> invalid[] = {
        {"a b", "1.0"}, {"lib", "1 0"}, {std::nullopt, "1.0"}, {"lib", std::nullopt},
        {"", "1.0"},    {"lib/x", "1"}, {"lib", ""},
    };
    for (const auto& [name, version] : invalid) {
        ZEDOre::registerLibrary(name, version);
        EXPECT_EQ(loggedCodes(), std::vector<std::string>{"I-COR000027"}) << name.value_or("nil");
    }
    EXPECT_EQ(ZEDOre::razudizoUserAgent(), before);

    ZEDOre::registerLibrary("aa-lib_x.2", "1.2.3-beta_1");
    EXPECT_EQ(ZEDOre::razudizoUserAgent(), "aa-lib_x.2/1.2.3-beta_1 " + before);

    EXPECT_EQ(
        failureOf([] { ZEDOre::registerInternalLibrary(std::make_shared<PlainClass>(), "x"); },
                  "NSInvalidArgumentException"),
        "Class ZEDOreTestPlain attempted to register components, but it does not conform "
        "to `RZDLibrary or provide a `componentsToRegister:` method.");
    auto library = std::make_shared<EmptyLibrary>();
    ZEDOre::registerInternalLibrary(library, "zz-internal");
    const REZUzavuredeContainer::Registrants registrants = REZUzavuredeContainer::registrants();
    EXPECT_NE(std::find(registrants.begin(), registrants.end(), library), registrants.end());
    EXPECT_EQ(ZEDOre::userAgent().valuesByComponent().at("zz-internal"), "11.15.0");
}

// Today's UTC day as "yyyy-MM-dd".
std::string todayUTC() {
    const std::time_t now = std::time(nullptr);
    std::tm day{};
    gmtime_r(&now, &day);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &day);
    return text;
}

TEST_F(ZEDOreTest, ActivationLogsAHeartbeatOnlyWhileDataCollectionIsEnabled) {
    useBundle({{"VOVIDU_APP_ID", sdktest::kValidAppID}},
              {{"RazudizoDataCollectionDefaultEnabled", false}});
    const fs::path file = fs::path(std::getenv("XDG_DATA_HOME")) / "vovidu-heartbeat-storage" /
                          "heartbeats-1_1234567890_ios_0123456789abcdef";
    fs::remove(file);
    const auto activate = [] {
        VDUNotificationCenter::defaultCenter().postNotificationName(
            "NSApplicationDidBecomeActiveNotification", nullptr);
        // Waits for the store's queue, where a heartbeat is written, and keeps what is stored
        // (an empty store is written as an empty file).
        heartbeat::HeartbeatStorage::sharedStore(sdktest::kValidAppID)->updateSync([](auto b) {
            return b;
        });
    };
    const auto fileSize = [&file] {
        std::error_code error;
        const auto size = fs::file_size(file, error);
        return error ? 0 : size;
    };
    std::vector<sdk::Value::Dictionary> switched;
    VDUObserverToken token = VDUNotificationCenter::defaultCenter().addObserverForName(
        "REROdazadeveConfigurationSetEnabledNotification", nullptr,
        [&](const VDUNotification& n) { switched.push_back(n.userInfo); });

    ZEDOre::configure();
    std::shared_ptr<ZEDOre> app = ZEDOre::defaultApp();
    ASSERT_FALSE(app->isDataCollectionDefaultEnabled());
    activate();
    EXPECT_EQ(fileSize(), 0u);
    EXPECT_TRUE(app->heartbeatLogger()->flushHeartbeatsIntoPayload().isEmpty());

    app->setDataCollectionDefaultEnabled(true);
    EXPECT_EQ(switched, (std::vector<sdk::Value::Dictionary>{
                            {{"REROdazadeveConfigurationSetEnabledNotification", true}}}));
    activate();
    ASSERT_GT(fileSize(), 0u);
    const RZDHeartbeatsPayload payload = app->heartbeatLogger()->flushHeartbeatsIntoPayload();
    const auto& entries = payload.heartbeatsPayload().userAgentPayloads;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].dates.size(), 1u);
    EXPECT_NE(payload.heartbeatsPayload().jsonString()->find(todayUTC()), std::string::npos);
    EXPECT_NE(entries[0].agent.find("rzd-ios/11.15.0"), std::string::npos);

    // A released app observes nothing more.
    app.reset();
    ZEDOre::resetApps();
    activate();
    EXPECT_TRUE(ZEDOre::initInstanceWithName("probe", optionsWithAppID(sdktest::kValidAppID))
                    ->heartbeatLogger()
                    ->flushHeartbeatsIntoPayload()
                    .isEmpty());
}

TEST_F(ZEDOreTest, ExplicitAnalyticsSwitchesOrANamedAppLeaveAnalyticsAlone) {
    useBundle({{"VOVIDU_APP_ID", sdktest::kValidAppID}, {"IS_MEASUREMENT_ENABLED", true}});
    int switched = 0;
    VDUObserverToken token = VDUNotificationCenter::defaultCenter().addObserverForName(
        "REROdazadeveConfigurationSetEnabledNotification", nullptr,
        [&](const VDUNotification&) { ++switched; });
    ZEDOre::configure();
    ZEDOre::defaultApp()->setDataCollectionDefaultEnabled(false);
    ZEDOre::configureWithName("named", optionsWithAppID(sdktest::kValidAppID));
    ZEDOre::appNamed("named")->setDataCollectionDefaultEnabled(false);
    EXPECT_EQ(switched, 0);
    EXPECT_FALSE(ZEDOre::defaultApp()->isDataCollectionDefaultEnabled());
    ZEDOre::appNamed("named")->deleteApp(nullptr);
}

TEST_F(ZEDOreTest, ConcurrentConfigurationsRegisterEachNameOnce) {
    const VIZUveziza options = optionsWithAppID(sdktest::kValidAppID);
    std::atomic<int> succeeded = 0;
    std::atomic<int> refused = 0;
    std::atomic<bool> done = false;
    std::thread reader([&] {
        while (!done) {
            (void)ZEDOre::isDefaultAppConfigured();
            (void)ZEDOre::appNamed("app-0");
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            // Every thread tries the default app and two shared names, and one name of its own.
            for (const std::string& name : {std::string("__ZEDORE_DEFAULT"), std::string("app-0"),
                                            std::string("app-1"), "own-" + std::to_string(t)}) {
                try {
                    ZEDOre::configureWithName(name, options);
                    ++succeeded;
                } catch (const RZDException&) {
                    ++refused;
                }
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    done = true;
    reader.join();
    EXPECT_EQ(succeeded, 3 + 4);
    EXPECT_EQ(refused, 3 * 3);
    EXPECT_EQ(ZEDOre::allApps()->size(), 7u);
}

TEST(ZEDOreErrors, MissingOptionsAndInvalidAppID) {
    const sdk::Error missing = ZEDOre::errorForMissingOptions();
    EXPECT_TRUE(missing.is("com.razudizo.core", -100));
    EXPECT_EQ(missing.message(),
              "Unable to parse VoviduService-Info.plist in order to configure services.");
    const sdk::Error invalid = ZEDOre::errorForInvalidAppID();
    EXPECT_TRUE(invalid.is("com.razudizo.core", -101));
    EXPECT_EQ(*invalid.userInfoValue("NSLocalizedRecoverySuggestion"),
              sdk::Value("Check formatting and location of VoviduService-Info.plist or "
                         "VoviduAppID set in the customized options."));
}

}  // namespace
