// Conditional user properties set, cleared and queried through the shared controller, and their
// transitions as the events the engine writes drive them, read back with the sqlite3 shell and
// protoc.
#include <chrono>

#include "tests/sdk/measurement/audiences/CUPTestSupport.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"

namespace {

using sdktest::ConditionalPropertyTest;

TEST_F(ConditionalPropertyTest, DurationsMustLieWithinAMillisecondAndHalfAYear) {
    struct Case {
        double triggerTimeout;
        double timeToLive;
        std::int64_t code;  // 0: valid
    };
    for (const Case& c : {Case{0.0005, 60, 11000}, Case{15552001, 60, 11000}, Case{0.001, 60, 0},
                          Case{15552000, 60, 0}, Case{60, 0.0005, 11001}, Case{60, 15552001, 11001},
                          Case{60, 0.001, 0}, Case{60, 15552000, 0}}) {
        monitor_.clear();
        APMConditionalUserProperty p =
            property("gold", std::nullopt, c.triggerTimeout, c.timeToLive);
        p.setName("plan");
        EXPECT_EQ(APMIsValidConditionalUserProperty(p), c.code == 0)
            << c.triggerTimeout << " " << c.timeToLive;
        EXPECT_EQ(countOf(11000) + countOf(11001), c.code == 0 ? 0 : 1);
        if (c.code != 0) {
            EXPECT_TRUE(monitor_.saw(c.code));
        }
    }
}

TEST_F(ConditionalPropertyTest, InvalidInputStopsBeforeTheWorkerQueue) {
    APMConditionalUserProperty badOrigin = property("gold");
    badOrigin.setOrigin("");
    set(badOrigin, "plan");
    set(property("gold"), "");
    APMConditionalUserProperty badValue = property("gold");
    badValue.setValue(stringValue(std::string(200, 'v')));
    set(badValue, "plan");
    set(property("gold", std::nullopt, 0), "plan");
    controller().setConditionalUserProperty(nullptr, "plan");
    clear(std::nullopt, "");
    drain(*engine_);

    EXPECT_EQ(countOf(11002), 1);
    EXPECT_EQ(countOf(11000), 1);
    // Each validator failure was logged by the validator itself.
    std::int64_t validatorLogs = 0;
    for (std::int64_t code : monitor_.codes()) {
        validatorLogs += code >= 13000 && code <= 13014;
    }
    EXPECT_GE(validatorLogs, 4);
    EXPECT_EQ(sqlite("SELECT count(*) FROM conditional_properties;"), "0\n");
    EXPECT_FALSE(monitor_.saw(11013));
    EXPECT_FALSE(monitor_.saw(11018));
}

TEST_F(ConditionalPropertyTest, WithoutTriggerItIsActiveAtOnceAndLogsItsTriggeredEvent) {
    set(property("gold"), "plan");
    EXPECT_EQ(row("plan"), "1|1800000000.0|gold|-\n");
    EXPECT_EQ(userProperty("plan"), "gold|1800000000.0|rcm\n");
    EXPECT_EQ(writtenEvents(), "gold_triggered\n");
    // The template's name and parameters, the property's origin, the creation time.
    const std::string text = decodedEvent("gold_triggered");
    EXPECT_NE(text.find("string_value: \"gold_triggered_tag\""), std::string::npos) << text;
    EXPECT_NE(text.find("string_value: \"rcm\""), std::string::npos) << text;
    EXPECT_EQ(text.find("tmpl"), std::string::npos) << text;
    EXPECT_NE(text.find("timestamp_millis: 1800000000000"), std::string::npos) << text;
}

TEST_F(ConditionalPropertyTest, TriggerBoundIsInclusiveAndOneSecondLaterItTimesOut) {
    set(property("gold", "level_up", 60), "plan");
    EXPECT_EQ(row("plan"), "0|0.0|gold|level_up\n");
    EXPECT_EQ(userProperty("plan"), "");
    EXPECT_EQ(writtenEvents(), "");

    setClock(kT0 + 60);
    logEvent("level_up");
    EXPECT_EQ(row("plan"), "1|1800000060.0|gold|level_up\n");
    EXPECT_EQ(userProperty("plan"), "gold|1800000060.0|rcm\n");
    EXPECT_EQ(writtenEvents(), "level_up\ngold_triggered\n");

    const double t1 = kT0 + 1000;
    setClock(t1);
    set(property("silver", "level_up", 60), "tier");
    setClock(t1 + 61);
    logEvent("level_up");
    EXPECT_EQ(row("tier"), "");
    // The timed-out property never set its user property, nor does it now.
    EXPECT_EQ(userProperty("tier"), "");
    EXPECT_EQ(writtenEvents(), "level_up\ngold_triggered\nsilver_timed_out\nlevel_up\n");
    EXPECT_TRUE(monitor_.saw(10002));
}

TEST_F(ConditionalPropertyTest, ExpiryDeletesRowAndUserPropertyAndLogsTheExpiredEvent) {
    set(property("gold", std::nullopt, 60, 100), "plan");
    setClock(kT0 + 100);
    logEvent("scan_started");
    EXPECT_EQ(row("plan"), "1|1800000000.0|gold|-\n");

    setClock(kT0 + 101);
    logEvent("scan_completed");
    EXPECT_EQ(row("plan"), "");
    EXPECT_EQ(userProperty("plan"), "");
    EXPECT_EQ(writtenEvents(), "gold_triggered\nscan_started\ngold_expired\nscan_completed\n");
    EXPECT_TRUE(monitor_.saw(10005));
}

TEST_F(ConditionalPropertyTest, TimingOutLeavesAUserPropertyOfTheSameNameAlone) {
    engine_->setUserAttribute(
        APMUserAttribute::initWithOrigin("app", "tier", APMValue("bronze"), kT0));
    drain(*engine_);
    ASSERT_EQ(userProperty("tier"), "bronze|1800000000.0|app\n");
    set(property("silver", "level_up", 60), "tier");
    setClock(kT0 + 61);
    logEvent("level_up");
    ASSERT_TRUE(monitor_.saw(10002));
    // The property never held the user property, so its end does not take the app's away.
    EXPECT_EQ(userProperty("tier"), "bronze|1800000000.0|app\n");
}

TEST_F(ConditionalPropertyTest, SettingAgainWhileActiveKeepsTheFirstActivation) {
    set(property("gold", std::nullopt, 60, 100), "plan");
    setClock(kT0 + 50);
    APMConditionalUserProperty again = property("silver", "never", 30, 100);
    again.setOrigin("riam");
    set(again, "plan");
    // New value; trigger, creation, first activation and origin kept; no second event.
    EXPECT_EQ(row("plan"), "1|1800000000.0|silver|-\n");
    EXPECT_EQ(sqlite("SELECT origin, creation_timestamp, trigger_timeout FROM "
                     "conditional_properties;"),
              "rcm|1800000000.0|60.0\n");
    EXPECT_TRUE(monitor_.saw(11010));
    EXPECT_EQ(writtenEvents(), "gold_triggered\n");

    // The time to live counts from the first activation: expired at kT0 + 101, not kT0 + 151.
    setClock(kT0 + 101);
    logEvent("scan_started");
    EXPECT_EQ(row("plan"), "");
    EXPECT_EQ(writtenEvents(), "gold_triggered\nsilver_expired\nscan_started\n");
}

TEST_F(ConditionalPropertyTest, RemovalPaths) {
    // A nil value removes; its expired event serves as the clear event, with the stored origin.
    set(property("gold"), "plan");
    APMConditionalUserProperty removal = property("unused");
    removal.setValue(std::nullopt);
    removal.setOrigin("riam");
    removal.setExpiredEvent(templateEvent("plan_removed"));
    set(removal, "plan");
    EXPECT_EQ(row("plan"), "");
    EXPECT_EQ(userProperty("plan"), "");
    EXPECT_NE(decodedEvent("plan_removed").find("string_value: \"rcm\""), std::string::npos);

    // Clear with an event writes it; without one writes nothing; an inactive property leaves
    // the user property alone.
    set(property("silver", "level_up"), "tier");
    set(property("bronze", "level_up"), "rank");
    sqlite("INSERT INTO user_attributes VALUES ('rank', 1700000000, 'kept', 'app');");
    clear(templateEvent("tier_cleared"), "tier");
    clear(std::nullopt, "rank");
    EXPECT_EQ(sqlite("SELECT count(*) FROM conditional_properties;"), "0\n");
    EXPECT_EQ(userProperty("rank"), "kept|1700000000.0|app\n");
    EXPECT_EQ(writtenEvents(), "gold_triggered\nplan_removed\ntier_cleared\n");
    EXPECT_NE(decodedEvent("tier_cleared").find("string_value: \"rcm\""), std::string::npos);

    // A name that does not exist: logged, nothing changes.
    monitor_.clear();
    clear(templateEvent("ghost_cleared"), "ghost");
    EXPECT_EQ(countOf(11018), 1);
    EXPECT_EQ(writtenEvents(), "gold_triggered\nplan_removed\ntier_cleared\n");
}

TEST_F(ConditionalPropertyTest, OneEventTimesOutAAndTriggersB) {
    set(property("alpha", "other", 10), "a");
    set(property("beta", "go", 100), "b");
    setClock(kT0 + 20);
    logEvent("go");
    EXPECT_EQ(writtenEvents(), "alpha_timed_out\ngo\nbeta_triggered\n");
    EXPECT_EQ(row("a"), "");
    EXPECT_EQ(row("b"), "1|1800000020.0|beta|go\n");
}

TEST_F(ConditionalPropertyTest, AdImpressionTriggersShortNameWaitersOnlyWhenNoneWaitsForItself) {
    set(property("short1", "_ai"), "s1");
    logEvent("ad_impression");
    EXPECT_EQ(row("s1"), "1|1800000000.0|short1|_ai\n");

    set(property("long", "ad_impression"), "l");
    set(property("short2", "_ai"), "s2");
    logEvent("ad_impression");
    EXPECT_EQ(row("l"), "1|1800000000.0|long|ad_impression\n");
    EXPECT_EQ(row("s2"), "0|0.0|short2|_ai\n");
}

TEST_F(ConditionalPropertyTest, DisabledMeasurementRefusesSetRemoveAndQuery) {
    set(property("gold"), "plan");
    engine_->setEnabled(false);
    drain(*engine_);
    monitor_.clear();
    set(property("silver"), "plan");
    clear(std::nullopt, "plan");
    EXPECT_EQ(countOf(11007), 1);
    EXPECT_EQ(countOf(11015), 1);
    EXPECT_FALSE(controller().conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt));
    EXPECT_EQ(countOf(11005), 1);
    EXPECT_EQ(row("plan"), "1|1800000000.0|gold|-\n");
}

TEST_F(ConditionalPropertyTest, QueryMatchesPrefixLiterallyAndNarrowsByOrigin) {
    set(property("v1", "x"), "AB_x");
    set(property("v2", "x"), "abx");
    APMConditionalUserProperty other = property("v3", "x");
    other.setOrigin("riam");
    set(other, "abc");

    const auto names = [](const std::optional<std::vector<APMConditionalUserProperty>>& found) {
        std::string joined;
        for (const APMConditionalUserProperty& p : found.value()) {
            joined += p.name() + ",";
        }
        return joined;
    };
    EXPECT_EQ(names(controller().conditionalUserPropertiesWithNamePrefix("ab", std::nullopt)),
              "AB_x,abx,abc,");
    EXPECT_EQ(names(controller().conditionalUserPropertiesWithNamePrefix("a_", std::nullopt)), "");
    EXPECT_EQ(names(controller().conditionalUserPropertiesWithNamePrefix("ab", "riam")), "abc,");
    EXPECT_EQ(names(controller().conditionalUserPropertiesWithNamePrefix(std::nullopt, "RCM")),
              "AB_x,abx,");
    EXPECT_EQ(
        names(controller().conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt)),
        "AB_x,abx,abc,");
    // Copies carry every field back.
    const auto found = controller().conditionalUserPropertiesWithNamePrefix("abc", std::nullopt);
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ(found->front().triggerEventName(), "x");
    EXPECT_EQ(found->front().timedOutEvent()->name(), "v3_timed_out");
    EXPECT_EQ(*found->front().value()->stringValue(), "v3");
}

TEST_F(ConditionalPropertyTest, FullTableRefusesANewActiveNameAndKeepsNoUserProperty) {
    set(property("gold"), "existing");
    sqlite(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 999) "
        "INSERT INTO conditional_properties (name, origin, value, creation_timestamp, active, "
        "trigger_timeout, triggered_timestamp, time_to_live, trigger_event_name) "
        "SELECT 'filler' || i, 'rcm', 'v', 1800000000, 0, 60, 0, 60, 'never' FROM n;");
    ASSERT_EQ(sqlite("SELECT count(*) FROM conditional_properties;"), "1000\n");
    monitor_.clear();

    set(property("silver"), "newcomer");
    EXPECT_EQ(countOf(11014), 1);
    EXPECT_EQ(row("newcomer"), "");
    EXPECT_EQ(userProperty("newcomer"), "");
    EXPECT_EQ(writtenEvents(), "gold_triggered\n");

    set(property("platinum"), "existing");
    EXPECT_EQ(countOf(11013), 1);
    EXPECT_EQ(row("existing"), "1|1800000000.0|platinum|-\n");
}

TEST_F(ConditionalPropertyTest, EventIsWrittenWhenTheTableIsGone) {
    sqlite("DROP TABLE conditional_properties;");
    logEvent("scan_started");
    EXPECT_TRUE(monitor_.saw(10001));
    EXPECT_TRUE(monitor_.saw(23050));
    EXPECT_EQ(writtenEvents(), "scan_started\n");
}

TEST_F(ConditionalPropertyTest, QueryOnTheWorkerQueueReturnsAtOnce) {
    std::optional<std::vector<APMConditionalUserProperty>> found{
        std::vector<APMConditionalUserProperty>{}};
    const auto start = std::chrono::steady_clock::now();
    APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
        found = controller().conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt);
    });
    EXPECT_FALSE(found);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
