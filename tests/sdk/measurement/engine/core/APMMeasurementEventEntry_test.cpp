// The facade's event entry (default parameters, interceptor, ad events), default event
// parameters with their limit and back-fill, and the session-ID back-fill of a session start.
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"

namespace {

using sdktest::EngineTest;
using Dictionary = sdk::Value::Dictionary;

class EventEntryTest : public EngineTest {
  protected:
    // These tests start as fresh installs: the start reports the first open.
    EventEntryTest() { freshInstall_ = true; }

    static APMMeasurement::EventEntry entry(const std::string& origin, bool isPublic,
                                            const std::string& name,
                                            APMRawParameters parameters = {}) {
        APMMeasurement::EventEntry entry;
        entry.origin = origin;
        entry.isPublicEvent = isPublic;
        entry.name = name;
        entry.parameters = std::move(parameters);
        entry.timestamp = APMCurrentTimeInterval();
        entry.enabled = true;
        return entry;
    }

    void enter(APMMeasurement::EventEntry e) {
        engine_->logEventWithOrigin(std::move(e));
        drain(*engine_);
    }

    void setDefaults(const std::optional<Dictionary>& defaults) {
        engine_->setDefaultEventParameters(defaults);
        drain(*engine_);
    }

    static Dictionary storedDefaults() {
        return APMPersistedConfig::sharedInstance()->defaultEventParameters().value_or(
            Dictionary{});
    }

    // The stored event `name` (the last of that name), or none.
    std::optional<APMEvent> stored(const std::string& name) {
        std::optional<APMEvent> found;
        for (const APMRawEventData& data : rawEvents()) {
            if (data.rawEvent().name() == name) {
                found = data.rawEvent();
            }
        }
        return found;
    }

    static std::optional<APMValue> parameter(const std::optional<APMEvent>& event,
                                             const std::string& name) {
        if (!event) {
            return std::nullopt;
        }
        const auto found = event->parameters().find(name);
        return found == event->parameters().end() ? std::nullopt : std::optional(found->second);
    }

    // protoc's text of the stored "_f" row's data.
    std::string decodedFirstOpen() {
        const std::filesystem::path blob = home() / "first-open.bin";
        sqlite("SELECT writefile('" + blob.string() +
               "', data) FROM raw_events WHERE name = '_f';");
        return messages_test::protoc("--decode=apmpb.Event", messages_test::readFile(blob));
    }
};

TEST_F(EventEntryTest, StoredDefaultsAreAddedUnderTheEventsOwnParametersButNotToErrors) {
    ASSERT_TRUE(startEngine(kAppID));
    setDefaults(Dictionary{{"distribution", sdk::Value("direct")}, {"plan", sdk::Value("free")}});
    enter(entry("app", true, "scan_started", {{"plan", sdk::Value("pro")}}));
    enter(entry("auto", false, "_err", {{"_err", sdk::Value(std::int64_t{5})}}));

    const std::optional<APMEvent> scan = stored("scan_started");
    EXPECT_EQ(parameter(scan, "distribution"), APMValue("direct"));
    EXPECT_EQ(parameter(scan, "plan"), APMValue("pro"));
    const std::optional<APMEvent> error = stored("_err");
    ASSERT_TRUE(error);
    EXPECT_EQ(parameter(error, "distribution"), std::nullopt);
}

TEST_F(EventEntryTest, InterceptorTakesPublicEventsButNeverAdEventsOrIgnoringOnes) {
    ASSERT_TRUE(startEngine(kAppID));
    setDefaults(Dictionary{{"distribution", sdk::Value("direct")}});
    struct Intercepted {
        std::string origin;
        std::string name;
        APMRawParameters parameters;
        double timestamp;
    };
    std::vector<Intercepted> intercepted;
    const auto withInterceptor = [&](APMMeasurement::EventEntry e) {
        e.interceptor = [&](const std::string& origin, const std::string& name,
                            const APMRawParameters& parameters, double timestamp) {
            intercepted.push_back({origin, name, parameters, timestamp});
        };
        return e;
    };
    APMMeasurement::EventEntry scan = withInterceptor(entry("app", true, "scan_started"));
    scan.addedScreenParameters = {{"_sn", sdk::Value("Main")}};
    enter(scan);
    enter(withInterceptor(entry("am", true, "ad_shown")));
    enter(withInterceptor(entry("auto", false, "_xa")));
    APMMeasurement::EventEntry ignoring = withInterceptor(entry("app", true, "item_deleted"));
    ignoring.ignoreInterceptor = true;
    enter(ignoring);

    ASSERT_EQ(intercepted.size(), 1u);
    EXPECT_EQ(intercepted[0].origin, "app");
    EXPECT_EQ(intercepted[0].name, "scan_started");
    EXPECT_EQ(intercepted[0].timestamp, scan.timestamp);
    EXPECT_EQ(intercepted[0].parameters.count("_sn"), 1u);
    EXPECT_EQ(intercepted[0].parameters.count("distribution"), 1u);
    EXPECT_EQ(rawEventNames(),
              (std::vector<std::string>{"_f", "_e", "ad_shown", "_xa", "item_deleted"}));
    // Ignoring the interceptor also skips the default parameters.
    EXPECT_EQ(parameter(stored("item_deleted"), "distribution"), std::nullopt);
    EXPECT_EQ(parameter(stored("ad_shown"), "distribution"), APMValue("direct"));
}

TEST_F(EventEntryTest, EventsThatCannotBeMadeAreLoggedAndDropped) {
    ASSERT_TRUE(startEngine(kAppID));
    enter(entry("app", true, "1_not_a_name"));
    EXPECT_EQ(countOf(23219), 1);
    engine_->logEvent(std::nullopt);
    EXPECT_EQ(countOf(23048), 1);
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e"}));
}

TEST_F(EventEntryTest, DefaultsKeepTheLimitAndRefuseBadEntries) {
    ASSERT_TRUE(startEngine(kAppID));
    storeConfig({{"measurement.upload.max_public_event_params", "25"}});
    Dictionary thirty;
    for (int i = 0; i < 30; ++i) {
        thirty.emplace((i < 10 ? "p0" : "p") + std::to_string(i), sdk::Value(std::int64_t{i}));
    }
    setDefaults(thirty);
    Dictionary kept = storedDefaults();
    ASSERT_EQ(kept.size(), 25u);
    EXPECT_TRUE(kept.contains("p24"));
    EXPECT_FALSE(kept.contains("p25"));
    EXPECT_EQ(countOf(23215), 1);

    setDefaults(Dictionary{{"p00", sdk::Value()},
                           {"1bad", sdk::Value("x")},
                           {"list", sdk::Value(sdk::Value::Array{sdk::Value("a")})},
                           {"extra", sdk::Value("y")}});
    kept = storedDefaults();
    EXPECT_FALSE(kept.contains("p00"));
    EXPECT_FALSE(kept.contains("1bad"));
    EXPECT_FALSE(kept.contains("list"));
    EXPECT_EQ(kept.at("extra"), sdk::Value("y"));
    EXPECT_EQ(kept.size(), 25u);
    EXPECT_EQ(countOf(23214), 1);
    EXPECT_EQ(countOf(23213), 1);

    setDefaults(std::nullopt);
    EXPECT_TRUE(storedDefaults().empty());
}

TEST_F(EventEntryTest, DefaultsBeforeTheFirstAppEventReachTheStoredFirstOpen) {
    ASSERT_TRUE(startEngine(kAppID));
    setDefaults(Dictionary{{"distribution", sdk::Value("direct")}});
    const std::string backfilled = decodedFirstOpen();
    EXPECT_NE(backfilled.find("name: \"distribution\"\n  string_value: \"direct\""),
              std::string::npos)
        << backfilled;
    EXPECT_EQ(countOf(23272), 1);

    enter(entry("app", true, "app_launched"));
    setDefaults(Dictionary{{"plan", sdk::Value("gold")}});
    EXPECT_EQ(decodedFirstOpen().find("plan"), std::string::npos);
    EXPECT_EQ(parameter(stored("app_launched"), "plan"), std::nullopt);
    EXPECT_EQ(countOf(23216), 1);
}

TEST_F(EventEntryTest, SessionStartBackfillsEventsSinceTheFirstOpenWithoutASessionID) {
    ASSERT_TRUE(startEngine(kAppID));
    const double start = engine_->initTimestamp();
    APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
        // Older than the first open: left alone.
        std::optional<APMEvent> old =
            APMEvent::initWithOrigin("app", true, "old_event", start - 100, 0, {},
                                     APMRemoteConfig::current()->parameterLimits());
        ASSERT_TRUE(old);
        engine_->handleEventOnWorkerQueue(std::move(*old));
        // Written in a live session while its ID was a user property: it has one already.
        engine_->persistedConfig()->setLastSessionActivityClockTime(APMCurrentTimeInterval());
        std::optional<APMUserAttribute> sid = APMUserAttribute::initWithOrigin(
            "auto", "_sid", APMValue(std::int64_t{7}), APMCurrentTimeInterval());
        ASSERT_TRUE(sid);
        ASSERT_TRUE(engine_->setUserPropertyInDatabaseOnWorkerQueue(*sid));
    });
    logEvent("with_session", {}, true);
    sqlite("DELETE FROM user_attributes WHERE name = '_sid';");
    const std::int64_t sessionID = static_cast<std::int64_t>(APMCurrentTimeInterval());
    logEvent("_s", {{"_sid", APMValue(sessionID)}, {"_sno", APMValue(std::int64_t{3})}}, false,
             "auto");

    for (const char* name : {"_f", "_e"}) {
        EXPECT_EQ(parameter(stored(name), "_sid"), APMValue(sessionID)) << name;
        EXPECT_EQ(parameter(stored(name), "_sno"), APMValue(std::int64_t{3})) << name;
    }
    EXPECT_EQ(parameter(stored("old_event"), "_sid"), std::nullopt);
    EXPECT_EQ(parameter(stored("with_session"), "_sid"), std::nullopt);

    // Without a first open the back-fill looks 15 s before the session start.
    sqlite("DELETE FROM raw_events WHERE name = '_f';");
    APMMeasurementTestPeer::runOnWorkerQueueAndWait(
        *engine_, [&] { EXPECT_EQ(engine_->backfillStartTimestampForSessionID(1000.0), 985.0); });
}

}  // namespace
