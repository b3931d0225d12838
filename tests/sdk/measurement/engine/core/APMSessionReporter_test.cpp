// Sessions and engagement as the app's activity drives them: the session start "_s" on
// activation after the timeout, events that start a session before the first activation, the
// engaged time "_e", and the session ID query.
#include "sdk/measurement/engine/core/APMSessionReporter.h"

#include <atomic>

#include "platform/dispatch/MainQueue.h"
#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/APMEventAggregates.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/analytics/ActivityTestSupport.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/APMUptimeTesting.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"

namespace {

using SessionsTest = sdktest::ActivityTest;
using namespace std::chrono_literals;

constexpr std::int64_t kStartSeconds = 1800000000;

std::shared_ptr<APMSessionReporter> reporter() {
    return APMMeasurement::sharedInstance()->sessionReporter();
}

// The session ID the facade answers, with its error.
std::pair<std::int64_t, sdk::Error> sessionID() {
    std::promise<std::pair<std::int64_t, sdk::Error>> answer;
    REROdazadeve::sessionIDWithCompletion([&](std::int64_t id, sdk::Error error) {
        answer.set_value({id, std::move(error)});
    });
    return answer.get_future().get();
}

TEST_F(SessionsTest, ActivationStartsASessionOnlyAfterTheTimeout) {
    ZEDOre::configure();
    settle();
    EXPECT_TRUE(events("_s").empty()) << "the app was not active at the start";

    activate();
    std::vector<APMEvent> starts = events("_s");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].origin(), "auto");
    EXPECT_EQ(integer(starts[0], "_sid"), kStartSeconds);
    EXPECT_EQ(integer(starts[0], "_sno"), 1);
    sdk::Value::Dictionary properties = userProperties();
    EXPECT_EQ(properties["_sid"], sdk::Value(kStartSeconds));
    EXPECT_EQ(properties["_sno"], sdk::Value(std::int64_t{1}));

    TEST_APMSetCurrentTimeInterval(kStart + 1200);
    activate();
    EXPECT_EQ(events("_s").size(), 1u) << "still within the default timeout of 1800 s";

    TEST_APMSetCurrentTimeInterval(kStart + 1200 + 1801);
    activate();
    starts = events("_s");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(integer(starts[1], "_sid"), kStartSeconds + 3001);
    EXPECT_EQ(integer(starts[1], "_sno"), 2);
    EXPECT_EQ(userProperties()["_sno"], sdk::Value(std::int64_t{2}));
}

TEST_F(SessionsTest, ANegativeTimeoutBecomesZeroAndEveryActivationStartsASession) {
    ZEDOre::configure();
    settle();
    activate();
    APMMeasurement::sharedInstance()->setSessionTimeoutInterval(-5);
    settle();
    EXPECT_EQ(countOf(33001), 1);
    EXPECT_EQ(reporter()->timeoutSessionInterval(), 0.0);
    for (int second = 1; second <= 2; ++second) {
        TEST_APMSetCurrentTimeInterval(kStart + second);
        activate();
    }
    const std::vector<APMEvent> starts = events("_s");
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(integer(starts[2], "_sno"), 3);
}

TEST_F(SessionsTest, ATimeoutSetBeforeTheStartIsTakenByTheReporterOnce) {
    REROdazadeve::setSessionTimeoutInterval(60);
    ZEDOre::configure();
    settle();
    EXPECT_EQ(reporter()->timeoutSessionInterval(), 60.0);
    EXPECT_EQ(APMPersistedConfig::sharedInstance()->sessionTimeoutValue(), std::nullopt);
    // Set while the engine runs, it goes to the reporter directly.
    REROdazadeve::setSessionTimeoutInterval(90);
    settle();
    EXPECT_EQ(reporter()->timeoutSessionInterval(), 90.0);
}

TEST_F(SessionsTest, EngagedTimeIsCappedAtAnHourAndReportedOnResign) {
    ZEDOre::configure();
    settle();
    activate();
    const std::size_t before = events("_e").size();  // the first open's
    TEST_APMSetSystemUptime(kUptime + 5000);
    resign();
    const std::vector<APMEvent> engagements = events("_e");
    ASSERT_EQ(engagements.size(), before + 1);
    EXPECT_EQ(integer(engagements.back(), "_et"), 3600000);
    EXPECT_FALSE(reporter()->userEngagementTimer().hasActiveTimer());
}

TEST_F(SessionsTest, AScreenChangeReportsTheEngagementOfTheScreenLeftAfterASecond) {
    ZEDOre::configure();
    settle();
    activate();
    const std::size_t before = events("_e").size();
    REROdazadeve::logEventWithName("screen_view", sdk::Value::Dictionary{{"screen_name", "Home"}});
    TEST_APMSetSystemUptime(kUptime + 0.5);
    REROdazadeve::logEventWithName("screen_view", sdk::Value::Dictionary{{"screen_name", "List"}});
    EXPECT_EQ(events("_e").size(), before) << "less than a second on the screen";

    TEST_APMSetSystemUptime(kUptime + 3);
    REROdazadeve::logEventWithName("screen_view", sdk::Value::Dictionary{{"screen_name", "Item"}});
    const std::vector<APMEvent> engagements = events("_e");
    ASSERT_EQ(engagements.size(), before + 1);
    EXPECT_EQ(integer(engagements.back(), "_et"), 3000);
    EXPECT_EQ(text(engagements.back(), "_sn"), "List");
    const std::vector<APMEvent> views = events("_vs");
    ASSERT_EQ(views.size(), 3u);
    EXPECT_EQ(integer(engagements.back(), "_si"), integer(views[1], "_si"));
}

// Stores a configuration whose engagement interval is `milliseconds`, as a fetch would.
void storeEngagementInterval(const std::string& milliseconds) {
    std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine, [&] {
        APMPBMeasurementConfig config;
        APMPBSetString(&config, apmpb::MeasurementConfig::kAppId, engine->appID());
        auto setting = std::make_shared<APMPBSetting>();
        APMPBSetString(setting.get(), apmpb::Setting::kName,
                       "measurement.session.event_user_engagement_interval");
        APMPBSetString(setting.get(), apmpb::Setting::kValue, milliseconds);
        APMPBSetRepeated(&config, apmpb::MeasurementConfig::kSettings, APMPBRepeatedArray{setting});
        ASSERT_TRUE(engine->remoteConfigInstance()->updateMeasurementConfig(&config));
        engine->refreshActivitySettingsOnWorkerQueue();
    });
}

TEST_F(SessionsTest, TheEngagementTimerReportsAfterTheConfiguredInterval) {
    ZEDOre::configure();
    settle();
    // A zero interval would re-arm the timer at once, for ever: it reads as the default.
    storeEngagementInterval("0");
    EXPECT_EQ(reporter()->settings().sessionEventUserEngagementInterval, 3600.0);

    storeEngagementInterval("200");
    std::atomic<int> fired{0};
    VDUObserverToken token = VDUNotificationCenter::defaultCenter().addObserverForName(
        APMSessionReporter::kEngagementTimerDidFireNotification, nullptr,
        [&](const VDUNotification&) { fired.fetch_add(1); });
    activate();
    const std::size_t before = events("_e").size();
    TEST_APMSetSystemUptime(kUptime + 42);
    ASSERT_TRUE(platform::runMainQueueUntil([&] { return fired.load() >= 1; }, 10s));
    const std::vector<APMEvent> engagements = events("_e");
    ASSERT_GE(engagements.size(), before + 1);
    EXPECT_EQ(integer(engagements[before], "_et"), 42000);
    EXPECT_TRUE(reporter()->userEngagementTimer().hasActiveTimer()) << "armed again";
}

TEST_F(SessionsTest, BeforeTheFirstActivationOnlyExtendSessionOneStartsASession) {
    ZEDOre::configure();
    settle();
    REROdazadeve::logEventWithName("level_up", sdk::Value::Dictionary{{"extend_session", 2}});
    EXPECT_TRUE(events("_s").empty());
    EXPECT_EQ(countOf(23179), 1);

    TEST_APMSetCurrentTimeInterval(kStart + 5);
    REROdazadeve::logEventWithName("level_up", sdk::Value::Dictionary{{"extend_session", 1}});
    const std::vector<APMEvent> starts = events("_s");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].timestamp(), kStart + 5);
    EXPECT_EQ(integer(starts[0], "_aib"), 1);
    EXPECT_EQ(integer(starts[0], "_sid"), kStartSeconds + 5);
    EXPECT_EQ(integer(starts[0], "_sno"), 1);
    EXPECT_EQ(userProperties()["_sid"], sdk::Value(kStartSeconds + 5));

    // The session lives on: a later one only extends it.
    TEST_APMSetCurrentTimeInterval(kStart + 65);
    REROdazadeve::logEventWithName("level_up", sdk::Value::Dictionary{{"extend_session", 1}});
    EXPECT_EQ(events("_s").size(), 1u);
    EXPECT_EQ(APMPersistedConfig::sharedInstance()->lastSessionActivityClockTime(), kStart + 65);
}

TEST_F(SessionsTest, TheSessionIDIsAnsweredOnlyForALiveStoredSession) {
    ZEDOre::configure();
    settle();
    struct Case {
        const char* step;
        std::function<void()> before;
        std::int64_t id;
        const char* error;
    };
    const Case cases[] = {
        {"no session yet", [] {}, 0, "Session expired"},
        {"live session without an ID",
         [] { APMPersistedConfig::sharedInstance()->setLastSessionActivityClockTime(kStart); }, 0,
         "Session ID not found"},
        {"activated after the timeout",
         [] {
             TEST_APMSetCurrentTimeInterval(kStart + 1801);
             activate();
         },
         kStartSeconds + 1801, nullptr},
        {"collection off",
         [] {
             REROdazadeve::setAnalyticsCollectionEnabled(false);
             settle();
         },
         0, "Analytics disabled"},
    };
    for (const Case& c : cases) {
        c.before();
        const auto [id, error] = sessionID();
        EXPECT_EQ(id, c.id) << c.step;
        if (c.error == nullptr) {
            EXPECT_TRUE(error.ok()) << c.step << ": " << error.message();
        } else {
            EXPECT_EQ(error.code(), 13) << c.step;
            EXPECT_EQ(error.message(), c.error) << c.step;
        }
    }
}

TEST_F(SessionsTest, TheSessionNumberStartsFromTheStoredSessionStartsWhenNoneIsKept) {
    {
        sdk::Error error;
        std::unique_ptr<APMDatabase> database = APMDatabase::initWithDatabaseName(
            "vovidu-app-measurement.sql", APMPersistedConfig::sharedInstance(), &error);
        ASSERT_TRUE(database) << error.message();
        ASSERT_TRUE(database->updateEventAggregates(
            APMEventAggregates::initWithName("_s", 4, 0, 0, kStart - 86400), &error))
            << error.message();
    }
    ZEDOre::configure();
    settle();
    EXPECT_EQ(APMPersistedConfig::sharedInstance()->sessionNumber(), 4);
    activate();
    const std::vector<APMEvent> starts = events("_s");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(integer(starts[0], "_sno"), 5);
}

}  // namespace
