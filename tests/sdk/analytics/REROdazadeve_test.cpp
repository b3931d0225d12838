#include "sdk/analytics/REROdazadeve.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "platform/dispatch/MainQueue.h"

#include "sdk/core/REROdazadeveConfiguration.h"
#include "sdk/core/REZUzavuredeContainer.h"
#include "sdk/core/RZDConfiguration.h"
#include "sdk/core/RZDRazudizoUserAgent.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/utilities/VDUNotificationCenter.h"
#include "tests/sdk/analytics/ConfiguredAnalyticsTest.h"

namespace {

using ::testing::ElementsAre;

using REROdazadeveTest = sdktest::ConfiguredAnalyticsTest;

std::int64_t intParameter(const APMEvent& event, std::string_view name) {
    const auto it = event.parameters().find(name);
    return it == event.parameters().end() ? -1 : it->second.int64Value();
}

std::string stringParameter(const APMEvent& event, std::string_view name) {
    const auto it = event.parameters().find(name);
    return it == event.parameters().end() || !it->second.stringValue() ? ""
                                                                       : *it->second.stringValue();
}

TEST_F(REROdazadeveTest, BeforeConfigurationEventsAndPropertiesAreRefusedAndNothingIsWritten) {
    REROdazadeve::logEventWithName("early", std::nullopt);
    REROdazadeve::setUserPropertyString("direct", "distribution");
    std::vector<std::string> refused;
    for (const APMMonitorMessage& m : monitor_.messages()) {
        if (m.code == 25018 && m.contexts.size() == 1) {
            refused.push_back(m.contexts[0].description());
        }
    }
    EXPECT_THAT(refused, ElementsAre("early"));
    EXPECT_EQ(countOf(25019), 1);
    EXPECT_FALSE(APMAnalytics::isStarted());

    ZEDOre::configure();
    EXPECT_TRUE(APMAnalytics::isStarted());
    // Only the engine's own first-open reports are stored; the refused calls left nothing.
    std::vector<std::string> stored;
    for (const APMRawEventData& data : rawEvents()) {
        stored.push_back(data.rawEvent().origin() + " " + data.rawEvent().name());
    }
    EXPECT_THAT(stored, ElementsAre("auto _f", "auto _e"));
}

// Calls queued before the start flow after it, in call order, with the time of the call.
TEST_F(REROdazadeveTest, EventsQueuedBeforeTheStartAreStoredAfterItInCallOrder) {
    std::atomic<int> willStart{0};
    VDUObserverToken token = VDUNotificationCenter::defaultCenter().addObserverForName(
        "kREROdazadeveWillStartNotification", nullptr,
        [&](const VDUNotification&) { willStart.fetch_add(1); });

    const double before = APMCurrentTimeInterval();
    for (const char* name : {"first", "second", "third"}) {
        APMAnalytics::logEventWithName(name, {{"n", sdk::Value(name)}});
    }
    const double after = APMCurrentTimeInterval();
    EXPECT_EQ(APMMeasurement::sharedInstance(), nullptr);

    ZEDOre::configure();
    // The app's events; the engine's first-open reports ("_f", "_e") come from its start.
    std::vector<APMRawEventData> stored = rawEvents();
    std::erase_if(stored,
                  [](const APMRawEventData& data) { return data.rawEvent().origin() != "app"; });
    ASSERT_EQ(stored.size(), 3u);
    double previous = 0;
    std::vector<std::string> names;
    for (const APMRawEventData& data : stored) {
        names.push_back(data.rawEvent().name());
        EXPECT_EQ(data.rawEvent().origin(), "app");
        EXPECT_GE(data.rawEvent().timestamp(), std::max(before, previous));
        EXPECT_LE(data.rawEvent().timestamp(), after);
        previous = data.rawEvent().timestamp();
    }
    EXPECT_THAT(names, ElementsAre("first", "second", "third"));

    // A second start changes nothing.
    const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    APMAnalytics::startWithAppID("1:2:ios:ff", "fa", {});
    settle();
    EXPECT_EQ(willStart.load(), 1);
    EXPECT_EQ(APMMeasurement::sharedInstance(), engine);
    EXPECT_EQ(engine->appID(), sdktest::kValidAppID);
}

TEST_F(REROdazadeveTest, InvalidNamesAndAdEventIDsBecomeErrorEventsAndNumbers) {
    ZEDOre::configure();
    REROdazadeve::logEventWithName("1abc", std::nullopt);
    std::optional<APMEvent> invalid = storedEvent("_err");
    ASSERT_TRUE(invalid);
    EXPECT_EQ(intParameter(*invalid, "_err"), 2);
    EXPECT_EQ(stringParameter(*invalid, "_ev"), "1abc");
    EXPECT_EQ(invalid->origin(), "auto");

    REROdazadeve::logEventWithName("app_remove", std::nullopt);
    std::optional<APMEvent> reserved = storedEvent("_err");
    ASSERT_TRUE(reserved);
    EXPECT_EQ(intParameter(*reserved, "_err"), 13);
    EXPECT_EQ(stringParameter(*reserved, "_ev"), "app_remove");
    for (const APMRawEventData& data : rawEvents()) {
        EXPECT_NE(data.rawEvent().name(), "app_remove");
    }

    REROdazadeve::logInternalEventFromInstance("am", "_ad_one", {{"_aeid", "123"}});
    REROdazadeve::logInternalEventFromInstance("am", "_ad_two", {{"_aeid", "x"}});
    std::optional<APMEvent> numbered = storedEvent("_ad_one");
    ASSERT_TRUE(numbered);
    EXPECT_TRUE(numbered->parameters().at("_aeid").isInt64());
    EXPECT_EQ(intParameter(*numbered, "_aeid"), 123);
    std::optional<APMEvent> kept = storedEvent("_ad_two");
    ASSERT_TRUE(kept);
    EXPECT_EQ(stringParameter(*kept, "_aeid"), "x");
    EXPECT_EQ(countOf(25024), 1);
}

TEST_F(REROdazadeveTest, ListenersHearEveryLoggedEventUntilRemoved) {
    ZEDOre::configure();
    settle();  // the start's first-open reports are heard by no one yet
    std::mutex mutex;
    std::vector<std::string> heard;
    std::optional<APMAnalytics::ListenerToken> token =
        REROdazadeve::addLogEventListener([&](const APMEvent& event) {
            std::lock_guard lock(mutex);
            heard.push_back(event.origin() + " " + event.name());
        });
    ASSERT_TRUE(token);
    REROdazadeve::logEventWithName("scan_started", std::nullopt);
    REROdazadeve::logEventWithName("1abc", std::nullopt);
    settle();
    {
        std::lock_guard lock(mutex);
        EXPECT_THAT(heard, ElementsAre("app scan_started", "auto _err"));
    }

    REROdazadeve::removeLogEventListener(*token);
    REROdazadeve::removeLogEventListener(*token + 1000);
    REROdazadeve::logEventWithName("scan_completed", std::nullopt);
    settle();
    EXPECT_EQ(countOf(25015), 1);
    std::lock_guard lock(mutex);
    EXPECT_EQ(heard.size(), 2u);
}

// An interceptor takes public events instead of the engine; internal ones are still stored.
TEST_F(REROdazadeveTest, TheInterceptorTakesPublicEventsInsteadOfTheEngine) {
    ZEDOre::configure();
    std::mutex mutex;
    std::vector<std::string> intercepted;
    REROdazadeve::setLogEventInterceptor([&](const std::string& origin, const std::string& name,
                                             const APMRawParameters& parameters, double) {
        std::lock_guard lock(mutex);
        intercepted.push_back(origin + " " + name + " " + std::to_string(parameters.size()));
    });
    REROdazadeve::logEventWithName("scan_started", sdk::Value::Dictionary{{"mode", "home"}});
    REROdazadeve::logEventWithName("1abc", std::nullopt);
    settle();
    {
        std::lock_guard lock(mutex);
        EXPECT_THAT(intercepted, ElementsAre("app scan_started 1"));
    }
    EXPECT_FALSE(storedEvent("scan_started"));
    EXPECT_TRUE(storedEvent("_err"));
}

TEST_F(REROdazadeveTest, UserPropertyQueriesAreRefusedWithoutQueueCallbackOrCollection) {
    options_.writeOptions(
        {{"VOVIDU_APP_ID", sdktest::kValidAppID}, {"RAZUDIZO_ANALYTICS_COLLECTION_ENABLED", "NO"}});
    options_.use();
    ZEDOre::configure();
    const platform::QueueRef queue = platform::DispatchQueue::createSerial("test.answers");
    std::promise<sdk::Value::Dictionary> disabled;
    REROdazadeve::userPropertiesIncludingInternal(false, queue,
                                                  [&](sdk::Value::Dictionary properties) {
                                                      EXPECT_TRUE(queue->isCurrent());
                                                      disabled.set_value(std::move(properties));
                                                  });
    EXPECT_TRUE(disabled.get_future().get().empty());
    EXPECT_EQ(countOf(25008), 1);

    std::atomic<bool> onMain{false};
    REROdazadeve::userPropertiesIncludingInternal(
        true, nullptr, [&](sdk::Value::Dictionary properties) {
            onMain = properties.empty() && platform::isMainThread();
        });
    REROdazadeve::userPropertiesIncludingInternal(true, queue, nullptr);
    EXPECT_TRUE(
        platform::runMainQueueUntil([&] { return onMain.load(); }, std::chrono::seconds(10)));
    settle();
    EXPECT_EQ(countOf(25007), 1);
    EXPECT_EQ(countOf(25006), 1);

    const auto never = [](std::int32_t) { ADD_FAILURE() << "answered a refused query"; };
    REROdazadeve::maxUserPropertiesForOrigin("", queue, never);
    REROdazadeve::maxUserPropertiesForOrigin("auto", nullptr, never);
    REROdazadeve::maxUserPropertiesForOrigin("auto", queue, nullptr);
    EXPECT_EQ(countOf(25009) + countOf(25010) + countOf(25011), 3);
    EXPECT_TRUE(monitor_.saw(25009) && monitor_.saw(25010) && monitor_.saw(25011));
}

TEST_F(REROdazadeveTest, InvalidUserPropertiesBecomeErrorEvents) {
    ZEDOre::configure();
    struct Case {
        std::string name;
        std::string value;
        std::int64_t error;
    };
    for (const Case& c : {Case{"1bad", "v", 6}, Case{"first_open_time", "v", 15},
                          Case{"good_name", std::string(40, 'v'), 7}}) {
        SCOPED_TRACE(c.name);
        REROdazadeve::setUserPropertyString(c.value, c.name);
        std::optional<APMEvent> error = storedEvent("_err");
        ASSERT_TRUE(error);
        EXPECT_EQ(intParameter(*error, "_err"), c.error);
        EXPECT_EQ(stringParameter(*error, "_ev"), c.name);
    }

    // Personalised ads are a switch, not a property.
    REROdazadeve::setUserPropertyString("NO", "allow_personalized_ads");
    settle();
    EXPECT_EQ(APMPersistedConfig::sharedInstance()->allowPersonalizedAds(), sdk::Value(false));
    EXPECT_EQ(userProperties()["_npa"], sdk::Value(std::int64_t{1}));
    REROdazadeve::setUserPropertyString(std::nullopt, "allow_personalized_ads");
    settle();
    EXPECT_FALSE(userProperties().contains("_npa"));
}

TEST_F(REROdazadeveTest, TheUserIDIsAnInternalPropertyAndNoneRemovesItWithTheResetMark) {
    ZEDOre::configure();
    REROdazadeve::setUserID("reader-7");
    REROdazadeve::setUserPropertyString("direct", "distribution");
    settle();
    sdk::Value::Dictionary properties = userProperties();
    EXPECT_EQ(properties["_id"], sdk::Value("reader-7"));
    EXPECT_EQ(properties["distribution"], sdk::Value("direct"));
    // The advertising-ID reset mark goes with the user ID.
    std::optional<APMUserAttribute> lair =
        APMUserAttribute::initWithOrigin("auto", "_lair", APMValue(std::int64_t{1}), 1);
    ASSERT_TRUE(lair);
    APMMeasurement::sharedInstance()->setUserAttribute(*lair);
    settle();
    ASSERT_TRUE(userProperties().contains("_lair"));

    REROdazadeve::setUserID(std::nullopt);
    settle();
    properties = userProperties();
    EXPECT_FALSE(properties.contains("_id"));
    EXPECT_FALSE(properties.contains("_lair"));
    EXPECT_EQ(properties["distribution"], sdk::Value("direct"));
}

TEST_F(REROdazadeveTest, CollectionSwitchAndSessionTimeout) {
    options_.writeOptions({{"VOVIDU_APP_ID", sdktest::kValidAppID},
                           {"RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED", "YES"}});
    options_.use();
    ZEDOre::configure();
    settle();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    REROdazadeve::setAnalyticsCollectionEnabled(true);
    settle();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_FALSE(APMMeasurement::sharedInstance()->isEnabled());

    REROdazadeve::setSessionTimeoutInterval(-5);
    REROdazadeve::setSessionTimeoutInterval(0);
    settle();
    EXPECT_EQ(countOf(25060), 1);
    EXPECT_EQ(countOf(25059), 1);
    EXPECT_EQ(APMPersistedConfig::sharedInstance()->sessionTimeoutValue(), sdk::Value(0.0));
}

TEST_F(REROdazadeveTest, DisablingStopsCollection) {
    ZEDOre::configure();
    settle();
    EXPECT_TRUE(APMAnalytics::isEnabled());
    REROdazadeve::setAnalyticsCollectionEnabled(false);
    settle();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_EQ(countOf(23013), 1);
    REROdazadeve::logEventWithName("scan_started", std::nullopt);
    EXPECT_FALSE(storedEvent("scan_started"));
}

// The core's configuration object switches collection through its notification.
TEST_F(REROdazadeveTest, TheConfigurationsSetEnabledNotificationSwitchesCollection) {
    ZEDOre::configure();
    settle();
    const std::shared_ptr<REROdazadeveConfiguration> configuration =
        RZDConfiguration::sharedInstance().analyticsConfiguration();
    ASSERT_NE(configuration, nullptr);
    configuration->postNotificationName(REROdazadeveConfiguration::kSetEnabledNotification,
                                        sdk::Value("off"));
    settle();
    EXPECT_EQ(countOf(25000), 1);
    EXPECT_TRUE(APMAnalytics::isEnabled());

    configuration->setAnalyticsCollectionEnabled(false, false);
    settle();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_EQ(countOf(23013), 1);
}

TEST_F(REROdazadeveTest, ResetChoosesANewAppInstanceIDAndCompletes) {
    ZEDOre::configure();
    settle();
    const std::optional<std::string> before = REROdazadeve::appInstanceID();
    ASSERT_TRUE(before);
    REROdazadeve::resetAnalyticsData();
    const std::optional<std::string> pending = REROdazadeve::appInstanceID();
    ASSERT_TRUE(pending);
    EXPECT_NE(*pending, *before);
    settle();
    EXPECT_EQ(APMIdentity::sharedInstance()->appInstanceID(), pending);
    const sdk::Value::Dictionary suite = analyticsSuiteFile();
    EXPECT_FALSE(suite.empty());
    EXPECT_FALSE(suite.contains("reset_retry_count"));
    EXPECT_FALSE(suite.contains("app_instance_id_after_reset"));
    EXPECT_EQ(suite.at("need_first_open_after_reset"), sdk::Value(true));
    // The wiped store starts again with a first open.
    std::vector<std::string> stored;
    for (const APMRawEventData& data : rawEvents()) {
        stored.push_back(data.rawEvent().name());
    }
    EXPECT_NE(std::find(stored.begin(), stored.end(), "_f"), stored.end()) << stored.size();
}

TEST_F(REROdazadeveTest, SessionIDBeforeTheEngineStartsIsAnUninitializedError) {
    std::promise<std::pair<std::int64_t, sdk::Error>> answer;
    REROdazadeve::sessionIDWithCompletion([&](std::int64_t id, sdk::Error error) {
        answer.set_value({id, error});
    });
    REROdazadeve::sessionIDWithCompletion(nullptr);
    const auto [id, error] = answer.get_future().get();
    EXPECT_EQ(id, 0);
    EXPECT_EQ(error.code(), 13);
    EXPECT_EQ(error.message(), "Analytics uninitialized");
    EXPECT_EQ(countOf(25050), 1);
}

TEST_F(REROdazadeveTest, ConsentKeepsValidValuesUnderTheThirdPartyKey) {
    REROdazadeve::setConsent({{"ad_storage", "maybe"}, {"analytics_storage", "yes"}});
    EXPECT_EQ(countOf(25042), 2);
    EXPECT_EQ(countOf(25041), 1);
    EXPECT_TRUE(analyticsSuiteFile().empty());

    REROdazadeve::setConsent({{"analytics_storage", "granted"}, {"ad_storage", "no"}});
    const sdk::Value::Dictionary suite = analyticsSuiteFile();
    EXPECT_EQ(suite.at("consent_source"), sdk::Value(std::int64_t{10}));
    EXPECT_EQ(suite.at("consent_settings_3p"),
              sdk::Value(sdk::Value::Dictionary{{"analytics_storage", "granted"}}));
    EXPECT_FALSE(suite.contains("consent_settings"));
}

// A status counts in any letter case, and is kept in the form it stands for.
TEST_F(REROdazadeveTest, ConsentValuesCountInAnyLetterCase) {
    REROdazadeve::setConsent({{"analytics_storage", "DENIED"}, {"ad_storage", "Granted"}});
    EXPECT_EQ(countOf(25042), 0);
    EXPECT_EQ(countOf(25041), 0);
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G110");
    EXPECT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_EQ(analyticsSuiteFile().at("consent_settings_3p"),
              sdk::Value(sdk::Value::Dictionary{{"analytics_storage", "denied"},
                                                {"ad_storage", "granted"}}));

    REROdazadeve::setConsent({{"analytics_storage", "gRANTED"}, {"ad_storage", "dEnIeD"}});
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G101");
    EXPECT_EQ(countOf(25042), 0);
}

TEST_F(REROdazadeveTest, HashedValuesOfHexadecimalTextBecomeTheirBytes) {
    const std::string hex = "00ff10" + std::string(58, 'a');
    const sdk::Bytes text(hex.begin(), hex.end());
    sdk::Bytes expected{0x00, 0xff, 0x10};
    expected.resize(32, 0xaa);
    EXPECT_EQ(REROdazadeve::hashedValueFromData(text), expected);
    // Not hexadecimal, or not 64 bytes: kept as given.
    sdk::Bytes notHex = text;
    notHex[5] = 'g';
    EXPECT_EQ(REROdazadeve::hashedValueFromData(notHex), notHex);
    EXPECT_EQ(REROdazadeve::hashedValueFromData(expected), expected);
    EXPECT_EQ(REROdazadeve::hashedValueFromData(std::nullopt), sdk::Bytes{});

    ZEDOre::configure();
    REROdazadeve::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(text);
    REROdazadeve::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(expected);
    settle();
    EXPECT_EQ(countOf(25056), 1);
    EXPECT_EQ(countOf(25057), 0);
}

TEST_F(REROdazadeveTest, TheCoreStartsAnalyticsWithTheAppsIDAndSwitches) {
    ZEDOre::configure();
    settle();
    std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->appID(), sdktest::kValidAppID);
    EXPECT_TRUE(engine->isAnalyticsCollectionEnabled());
    EXPECT_FALSE(engine->isAnalyticsCollectionDeactivated());
    EXPECT_EQ(APMMeasurement::monitor().logTag(), "[RazudizoAnalytics]");
    // The version line gives the analytics class's version string, as the core reports it.
    std::vector<std::string> versionLines;
    for (const APMMonitorMessage& message : monitor_.messages()) {
        if (message.code == 23007) {
            versionLines.push_back(message.message);
        }
    }
    EXPECT_THAT(versionLines, ElementsAre("Analytics v.11.15.0 started"));
    EXPECT_EQ(VDUClassRegistry::classNamed("REROdazadeve")->sdkVersion(),
              REROdazadeve::topLevelVersion());
}

// The engine hears the application leave the active state and schedules an upload.
TEST_F(REROdazadeveTest, ResigningActiveIsHeardByTheStartedEngine) {
    VDUNotificationCenter::defaultCenter().postNotificationName(
        "NSApplicationWillResignActiveNotification", nullptr);
    EXPECT_EQ(countOf(23144), 0);
    ZEDOre::configure();
    settle();
    VDUNotificationCenter::defaultCenter().postNotificationName(
        "NSApplicationWillResignActiveNotification", nullptr);
    settle();
    EXPECT_EQ(countOf(23144), 1);
}

TEST_F(REROdazadeveTest, TheConnectorRegistersItsLibraryAndAnUncachedInteropComponent) {
    EXPECT_NE(VDUClassRegistry::classNamed("REROdazadeveConnector"), nullptr);
    EXPECT_EQ(ZEDOre::userAgent().valuesByComponent().at("rzd-analytics"), "11.15.0");
    ZEDOre::configure();
    REZUzavuredeContainer& container = ZEDOre::defaultApp()->container();
    std::shared_ptr<RZDComponentInstance> first =
        container.instanceForProtocol("REROdazadeveInterop");
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->conformsTo("REROdazadeveInterop"));
    EXPECT_NE(container.instanceForProtocol("REROdazadeveInterop"), first);
    EXPECT_TRUE(container.cachedProtocols().empty());
}

}  // namespace
