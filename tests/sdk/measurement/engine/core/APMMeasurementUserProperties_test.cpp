// User properties on the worker queue: per-origin and public limits, the user ID's side effects,
// removal, the collection switch, listing for the app, "_npa", and the ad campaign info kept
// from a stored "_vbraid".
#include <cstdlib>
#include <fstream>
#include <future>
#include <iostream>

#include "platform/bundle/Bundle.h"
#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

using sdktest::EngineTest;

class UserPropertiesTest : public EngineTest {
  protected:
    // These tests start as fresh installs: the start reports the first open.
    UserPropertiesTest() { freshInstall_ = true; }

    static std::optional<APMUserAttribute> attribute(const std::string& origin,
                                                     const std::string& name, APMValue value) {
        return APMUserAttribute::initWithOrigin(origin, name, std::move(value),
                                                APMCurrentTimeInterval());
    }

    // setUserPropertyInDatabaseOnWorkerQueue's answer.
    bool setProperty(const std::string& origin, const std::string& name, APMValue value) {
        bool stored = false;
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
            std::optional<APMUserAttribute> a = attribute(origin, name, std::move(value));
            ASSERT_TRUE(a) << name;
            stored = engine_->setUserPropertyInDatabaseOnWorkerQueue(*a);
        });
        return stored;
    }

    std::string valueOf(const std::string& name) {
        return sqlite("SELECT value FROM user_attributes WHERE name = '" + name + "';");
    }

    std::string token() {
        return engine_->identity()
            ->sessionStitchingTokenWithSessionNumber(1, false, true)
            .value_or("");
    }

    // Stops and starts collection again, which runs the steps after the start once more.
    void reenable() {
        engine_->setEnabled(false);
        engine_->setEnabled(true);
        drain(*engine_);
    }

    sdk::Value::Dictionary listed(bool includeInternal) {
        std::promise<sdk::Value::Dictionary> answer;
        engine_->userPropertiesIncludingInternal(
            includeInternal, [&](sdk::Value::Dictionary d) { answer.set_value(std::move(d)); });
        return answer.get_future().get();
    }
};

TEST_F(UserPropertiesTest, EachOriginKeepsAtMostTwentyFiveNewProperties) {
    ASSERT_TRUE(startEngine(kAppID));
    for (int i = 1; i <= 25; ++i) {
        ASSERT_TRUE(setProperty("rcm", "_rcm" + std::to_string(i), APMValue(std::int64_t{i})));
    }
    EXPECT_FALSE(setProperty("rcm", "_rcm26", APMValue(std::int64_t{26})));
    EXPECT_EQ(countOf(23084), 1);
    EXPECT_EQ(valueOf("_rcm26"), "");
    // A stored property still changes, and other origins have their own allowance.
    EXPECT_TRUE(setProperty("rcm", "_rcm1", APMValue(std::int64_t{100})));
    EXPECT_EQ(valueOf("_rcm1"), "100\n");
    EXPECT_TRUE(setProperty("rdl", "_rdl1", APMValue(std::int64_t{1})));
}

TEST_F(UserPropertiesTest, PublicPropertiesFollowTheConfiguredLimit) {
    ASSERT_TRUE(startEngine(kAppID));
    storeConfig({{"measurement.upload.max_public_user_properties", "25"}});
    for (int i = 1; i <= 25; ++i) {
        ASSERT_TRUE(setProperty(i % 2 ? "app" : "auto", "prop" + std::to_string(i), APMValue("v")));
    }
    EXPECT_FALSE(setProperty("app", "prop26", APMValue("v")));
    EXPECT_EQ(countOf(23084), 1);
}

TEST_F(UserPropertiesTest, ANewUserIDDropsTheAdvertisingResetAndTheStitchingToken) {
    ASSERT_TRUE(startEngine(kAppID));
    ASSERT_TRUE(setProperty("app", "_id", APMValue("user-1")));
    ASSERT_TRUE(setProperty("auto", "_lair", APMValue(std::int64_t{1})));
    const std::string first = token();
    ASSERT_FALSE(first.empty());

    ASSERT_TRUE(setProperty("app", "_id", APMValue("user-1")));
    EXPECT_EQ(valueOf("_lair"), "1\n");
    EXPECT_EQ(token(), first);

    ASSERT_TRUE(setProperty("app", "_id", APMValue("user-2")));
    EXPECT_EQ(valueOf("_lair"), "");
    EXPECT_EQ(valueOf("_id"), "user-2\n");
    EXPECT_NE(token(), first);
}

TEST_F(UserPropertiesTest, ARefusedUserIDChangesNothing) {
    ASSERT_TRUE(startEngine(kAppID));
    for (int i = 1; i <= 25; ++i) {
        ASSERT_TRUE(setProperty("app", "_app" + std::to_string(i), APMValue(std::int64_t{i})));
    }
    ASSERT_TRUE(setProperty("auto", "_lair", APMValue(std::int64_t{1})));
    const std::string first = token();
    EXPECT_FALSE(setProperty("app", "_id", APMValue("user-1")));
    EXPECT_EQ(valueOf("_id"), "");
    EXPECT_EQ(valueOf("_lair"), "1\n");
    EXPECT_EQ(token(), first);
}

TEST_F(UserPropertiesTest, AdvertisingResetIsRecordedWithTheNextEventOnlyForAKnownUser) {
    ASSERT_TRUE(startEngine(kAppID));
    engine_->identity()->setShouldSetLastAdvertisingIDResetUserProperty(true);
    logEvent("scan_started");
    EXPECT_EQ(valueOf("_lair"), "");
    EXPECT_TRUE(engine_->identity()->shouldSetLastAdvertisingIDResetUserProperty());

    ASSERT_TRUE(setProperty("app", "_id", APMValue("user-1")));
    logEvent("scan_finished");
    EXPECT_EQ(sqlite("SELECT value, origin FROM user_attributes WHERE name = '_lair';"),
              "1|auto\n");
    EXPECT_FALSE(engine_->identity()->shouldSetLastAdvertisingIDResetUserProperty());
}

TEST_F(UserPropertiesTest, RemovalAndTheCollectionSwitch) {
    ASSERT_TRUE(startEngine(kAppID));
    ASSERT_TRUE(setProperty("app", "plan", APMValue("gold")));
    engine_->removeUserAttribute(attribute("", "plan", APMValue(0.0)));
    drain(*engine_);
    EXPECT_EQ(countOf(23078), 1);
    EXPECT_EQ(valueOf("plan"), "");

    engine_->setEnabled(false);
    engine_->setUserAttribute(attribute("app", "plan", APMValue("silver")));
    engine_->removeUserAttribute(attribute("", "_fi", APMValue(0.0)));
    drain(*engine_);
    EXPECT_EQ(countOf(23081), 1);
    EXPECT_EQ(countOf(23076), 1);
    EXPECT_EQ(valueOf("plan"), "");
    EXPECT_EQ(valueOf("_fi"), "1\n");

    engine_->setUserAttribute(std::nullopt);
    engine_->removeUserAttribute(std::nullopt);
    EXPECT_EQ(countOf(23079), 1);
    EXPECT_EQ(countOf(23074), 1);
}

TEST_F(UserPropertiesTest, ListingForTheAppLeavesOutInternalReservedAndInvalidNames) {
    ASSERT_TRUE(startEngine(kAppID));
    ASSERT_TRUE(setProperty("app", "plan", APMValue("gold")));
    ASSERT_TRUE(setProperty("app", "score", APMValue(2.5)));
    ASSERT_TRUE(setProperty("app", "_id", APMValue("user-1")));
    ASSERT_TRUE(setProperty("app", "ma_x", APMValue("x")));
    ASSERT_TRUE(setProperty("app", "user_id", APMValue("x")));
    // A valid internal name that is no public one.
    ASSERT_TRUE(setProperty("app", "1st", APMValue("x")));

    const sdk::Value::Dictionary forApp = listed(false);
    EXPECT_EQ(forApp,
              (sdk::Value::Dictionary{{"plan", sdk::Value("gold")}, {"score", sdk::Value(2.5)}}));
    EXPECT_EQ(countOf(23092), 1);
    const sdk::Value::Dictionary all = listed(true);
    for (const char* name : {"plan", "score", "_id", "ma_x", "user_id", "1st", "_fi", "_fot"}) {
        EXPECT_TRUE(all.contains(name)) << name;
    }
}

TEST_F(UserPropertiesTest, QueriesAnswerOnTheirQueues) {
    ASSERT_TRUE(startEngine(kAppID));
    ASSERT_TRUE(setProperty("app", "plan", APMValue("gold")));
    std::promise<std::pair<std::optional<APMUserAttribute>, bool>> property;
    engine_->userAttributeWithName("plan", [&](std::optional<APMUserAttribute> a) {
        property.set_value({std::move(a), engine_->scheduler()->workerQueue()->isCurrent()});
    });
    const auto [plan, onWorker] = property.get_future().get();
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->value(), APMValue("gold"));
    EXPECT_TRUE(onWorker);

    std::promise<std::pair<std::int32_t, bool>> limit;
    engine_->maxUserPropertiesForOrigin("rcm", [&](std::int32_t n) {
        limit.set_value({n, platform::DispatchQueue::global()->isCurrent()});
    });
    EXPECT_EQ(limit.get_future().get(), std::make_pair(std::int32_t{25}, true));
    engine_->maxUserPropertiesForOrigin("", [](std::int32_t) { ADD_FAILURE(); });
    EXPECT_EQ(countOf(23093), 1);
}

TEST_F(UserPropertiesTest, PersonalizedAdsOffStoresNpaOnceAndNoSettingRemovesIt) {
    APMPersistedConfig::sharedInstance()->setAllowPersonalizedAds(sdk::Value(false));
    ASSERT_TRUE(startEngine(kAppID));
    EXPECT_EQ(sqlite("SELECT value, origin FROM user_attributes WHERE name = '_npa';"), "1|auto\n");
    const std::string setAt = sqlite(
        "SELECT set_timestamp FROM user_attributes WHERE name = "
        "'_npa';");

    TEST_APMSetCurrentTimeInterval(APMCurrentTimeInterval() + 100);
    reenable();
    EXPECT_EQ(sqlite("SELECT set_timestamp FROM user_attributes WHERE name = '_npa';"), setAt);

    // Clearing the switch as the facade does: the stored value goes and so does the
    // "ad_personalization" consent the engine derived from it at the start.
    APMPersistedConfig::sharedInstance()->setAllowPersonalizedAds(std::nullopt);
    APMConsentSettingsUtil::unsetAdPersonalization();
    reenable();
    TEST_APMSetCurrentTimeInterval(std::nullopt);
    EXPECT_EQ(valueOf("_npa"), "");
    EXPECT_EQ(countOf(23180), 1);
}

constexpr const char* kConsentChildHome = "CB_CONSENT_CHILD_HOME";

// Run by ConsentDefaultsOfTheStoredConfigurationApplyAtTheNextStart in a child process.
TEST_F(UserPropertiesTest, ConsentChildStarts) {
    const char* home = std::getenv(kConsentChildHome);
    if (home == nullptr) {
        GTEST_SKIP() << "runs only as the child of another test";
    }
    setenv("XDG_DATA_HOME", (std::filesystem::path(home) / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (std::filesystem::path(home) / "config").c_str(), 1);
    ASSERT_TRUE(startEngine(kAppID));
    const APMConsentSettings defaults =
        APMConsentSettingsUtil::defaultSettings().value_or(APMConsentSettings{});
    const APMConsentSettings regional =
        APMConsentSettingsUtil::regionalDefaults().value_or(APMConsentSettings{});
    std::cout << "defaults="
              << (defaults.contains("ad_personalization") ? defaults.at("ad_personalization") : "")
              << " regional="
              << (regional.contains("ad_user_data") ? regional.at("ad_user_data") : "")
              << " update_npa=" << engine_->shouldUpdateNPAUserProperty() << "\n";
}

TEST_F(UserPropertiesTest, ConsentDefaultsOfTheStoredConfigurationApplyAtTheNextStart) {
    ASSERT_TRUE(startEngine(kAppID));
    APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
        const auto entry = [](std::int32_t type, std::int32_t status) {
            auto e = std::make_shared<APMPBConsentDefaultEntry>();
            APMPBSetInt32(e.get(), apmpb::ConsentDefaultEntry::kType, type);
            APMPBSetInt32(e.get(), apmpb::ConsentDefaultEntry::kStatus, status);
            return e;
        };
        APMPBConsentConfig consent;
        // ad_personalization denied; regionally, ad_user_data granted.
        APMPBSetRepeated(&consent, apmpb::ConsentConfig::kDefaults,
                         APMPBRepeatedArray{entry(4, 2)});
        APMPBSetRepeated(&consent, apmpb::ConsentConfig::kEnforcedDefaults,
                         APMPBRepeatedArray{entry(3, 1)});
        APMPBMeasurementConfig config;
        APMPBSetString(&config, apmpb::MeasurementConfig::kAppId, kAppID);
        APMPBSetMessage(&config, apmpb::MeasurementConfig::kConsentConfig, &consent);
        ASSERT_TRUE(engine_->remoteConfigInstance()->updateMeasurementConfig(&config));
    });
    APMPersistedConfig::sharedInstance()->userDefaults()->persistToDisk();

    sdktest::ScopedEnv child(kConsentChildHome, home().string());
    const platform::ProcessResult result = platform::ProcessRunner::shared().run(
        std::filesystem::read_symlink("/proc/self/exe").string(),
        {"--gtest_filter=UserPropertiesTest.ConsentChildStarts"});
    ASSERT_TRUE(result.launched) << result.launchError;
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("defaults=denied regional=granted update_npa=1"),
              std::string::npos)
        << result.output;
    // The denied default turns personalised ads off.
    EXPECT_EQ(sqlite("SELECT value, origin FROM user_attributes WHERE name = '_npa';"), "1|auto\n");
}

TEST_F(UserPropertiesTest, AdNetworkRegistrationIsOffOnlyByANumberInTheInfoPlist) {
    struct Case {
        const char* entry;
        bool allowed;
    };
    for (const Case& c :
         {Case{"", true}, Case{"<integer>0</integer>", false}, Case{"<false/>", false},
          Case{"<true/>", true}, Case{"<string>NO</string>", true}}) {
        std::ofstream(bundle_.path() / "Contents" / "Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            << (*c.entry ? std::string("<key>VOVIDU_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_"
                                       "ENABLED</key>") +
                               c.entry
                         : std::string())
            << "</dict></plist>\n";
        platform::Bundle::TEST_setMainBundle(bundle_.path());
        EXPECT_EQ(APMMeasurement::shouldAllowAdNetworkRegistration(), c.allowed) << c.entry;
    }
}

TEST_F(UserPropertiesTest, StoredClickIdentifierBecomesTheCachedCampaignInfo) {
    // The property is there before the engine opens its database.
    std::filesystem::create_directories(measurementFolder());
    sqlite(
        "CREATE TABLE user_attributes (name TEXT PRIMARY KEY, set_timestamp REAL NOT NULL, "
        "value BLOB NOT NULL, origin TEXT);"
        "INSERT INTO user_attributes VALUES ('_vbraid', 1700000000.25, 'click-1', 'auto');");
    ASSERT_TRUE(startEngine(kAppID));
    const std::optional<sdk::Value> buffer =
        APMPersistedConfig::sharedInstance()->adCampaignInfoBuffer();
    ASSERT_TRUE(buffer && buffer->bytes());
    const std::string text =
        messages_test::protoc("--decode=apmpb.AdCampaignInfo",
                              std::string(buffer->bytes()->begin(), buffer->bytes()->end()));
    EXPECT_EQ(text, "vbraid: \"click-1\"\nclick_timestamp_millis: 1700000000250\n");
}

}  // namespace
