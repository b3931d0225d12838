// Ad exposure: "_xu" per ad unit and "_xa" for all ads, logged when an interval closes (the last
// end of a unit, a screen change, the engagement timer, the app resigning active).
#include "sdk/measurement/attribution/APMAdExposureReporter.h"

#include <thread>

#include "sdk/measurement/engine/core/APMSessionReporter.h"
#include "tests/sdk/analytics/ActivityTestSupport.h"
#include "tests/sdk/measurement/attribution/APMAdExposureReporterTestPeer.h"
#include "tests/sdk/measurement/engine/APMUptimeTesting.h"

namespace {

class AdExposureTest : public sdktest::ActivityTest {
  protected:
    static APMAdExposureReporter& reporter() { return *APMAdExposureReporter::sharedInstance(); }
    static void at(double seconds) { TEST_APMSetSystemUptime(kUptime + seconds); }

    // Started, active, on screen "Home".
    void startOnHome() {
        ZEDOre::configure();
        settle();
        activate();
        logScreen("Home", "HomeView");
    }
    static void logScreen(const std::string& name, const std::string& className) {
        sdk::Value::Dictionary parameters{{"screen_name", name}, {"screen_class", className}};
        REROdazadeve::logEventWithName("screen_view", std::move(parameters));
        settleAll();
    }
    // The stored exposure events, oldest first.
    static std::vector<APMEvent> exposures() {
        settleAll();
        std::vector<APMEvent> found;
        for (const APMRawEventData& data : rawEvents()) {
            if (data.rawEvent().name() == "_xu" || data.rawEvent().name() == "_xa") {
                found.push_back(data.rawEvent());
            }
        }
        return found;
    }
    // Checks `event`: its name, unit (none for "_xa"), exposure and screen name.
    static void expectExposure(const APMEvent& event, std::string_view name,
                               std::string_view adUnitID, std::int64_t millis,
                               std::string_view screenName) {
        SCOPED_TRACE(std::string(name) + " " + std::string(adUnitID));
        EXPECT_EQ(event.name(), name);
        EXPECT_EQ(event.origin(), "am");
        EXPECT_EQ(text(event, "_ai"), adUnitID);
        EXPECT_EQ(integer(event, "_xt"), millis);
        EXPECT_EQ(text(event, "_sn"), screenName);
        EXPECT_EQ(text(event, "_sc"), std::string(screenName) + "View");
        EXPECT_TRUE(parameter(event, "_si"));
    }
};

TEST_F(AdExposureTest, AUnitClosesWithItsLastEndAndTheOverallExposureWithTheLastUnit) {
    startOnHome();
    reporter().beginAdUnitExposure("banner");
    reporter().beginAdUnitExposure("banner");
    at(2);
    reporter().endAdUnitExposure("banner");
    EXPECT_TRUE(exposures().empty());

    at(3);
    reporter().endAdUnitExposure("banner");
    const std::vector<APMEvent> events = exposures();
    ASSERT_EQ(events.size(), 2u);
    expectExposure(events[0], "_xu", "banner", 3000, "Home");
    expectExposure(events[1], "_xa", "", 3000, "Home");
    EXPECT_EQ(integer(events[0], "_si"), integer(events[1], "_si"));

    // The unit is closed now.
    reporter().endAdUnitExposure("banner");
    EXPECT_EQ(countOf(1004), 1);
}

TEST_F(AdExposureTest, ExposuresUnderASecondAreNotLogged) {
    startOnHome();
    reporter().beginAdUnitExposure("short");
    at(0.9);
    reporter().endAdUnitExposure("short");
    EXPECT_TRUE(exposures().empty());
    EXPECT_EQ(countOf(1009), 1);
    EXPECT_EQ(countOf(1006), 1);

    at(5);
    reporter().beginAdUnitExposure("exact");
    at(6);
    reporter().endAdUnitExposure("exact");
    const std::vector<APMEvent> events = exposures();
    ASSERT_EQ(events.size(), 2u);
    expectExposure(events[0], "_xu", "exact", 1000, "Home");
    expectExposure(events[1], "_xa", "", 1000, "Home");
}

TEST_F(AdExposureTest, AtMostAHundredUnitsAreOpenAndEmptyOrUnknownIDsAreRefused) {
    startOnHome();
    for (int unit = 0; unit < 100; ++unit) {
        reporter().beginAdUnitExposure("unit" + std::to_string(unit));
    }
    reporter().beginAdUnitExposure("unit100");
    reporter().beginAdUnitExposure("unit0");  // already open, but refused as well
    reporter().beginAdUnitExposure("");
    reporter().endAdUnitExposure("");
    reporter().endAdUnitExposure("unit100");
    EXPECT_EQ(countOf(1002), 2);
    EXPECT_EQ(countOf(1000), 1);
    EXPECT_EQ(countOf(1003), 1);
    EXPECT_EQ(countOf(1004), 1);

    // "unit0" still has one begin: its single end closes it.
    at(2);
    reporter().endAdUnitExposure("unit0");
    const std::vector<APMEvent> events = exposures();
    ASSERT_EQ(events.size(), 1u);
    expectExposure(events[0], "_xu", "unit0", 2000, "Home");
    // With room again, a new unit opens.
    reporter().beginAdUnitExposure("unit100");
    reporter().endAdUnitExposure("unit100");
    EXPECT_EQ(countOf(1004), 1);
    EXPECT_EQ(countOf(1002), 2);
}

TEST_F(AdExposureTest, AScreenViewSplitsTheExposureAtTheChange) {
    startOnHome();
    reporter().beginAdUnitExposure("banner");
    at(2.5);
    logScreen("Detail", "DetailView");
    std::vector<APMEvent> events = exposures();
    ASSERT_EQ(events.size(), 2u);
    expectExposure(events[0], "_xu", "banner", 2500, "Home");
    expectExposure(events[1], "_xa", "", 2500, "Home");

    at(4);
    reporter().endAdUnitExposure("banner");
    events = exposures();
    ASSERT_EQ(events.size(), 4u);
    expectExposure(events[2], "_xu", "banner", 1500, "Detail");
    expectExposure(events[3], "_xa", "", 1500, "Detail");
}

TEST_F(AdExposureTest, TheEngagementTimerReportsEveryOpenUnitAndKeepsThemOpen) {
    startOnHome();
    reporter().beginAdUnitExposure("a");
    reporter().beginAdUnitExposure("a");
    at(1);
    reporter().beginAdUnitExposure("b");
    at(3);
    VDUNotificationCenter::defaultCenter().postNotificationName(
        APMSessionReporter::kEngagementTimerDidFireNotification, nullptr);
    std::vector<APMEvent> events = exposures();
    ASSERT_EQ(events.size(), 3u);
    expectExposure(events[0], "_xu", "a", 3000, "Home");
    expectExposure(events[1], "_xu", "b", 2000, "Home");
    expectExposure(events[2], "_xa", "", 3000, "Home");

    at(4.5);
    reporter().endAdUnitExposure("a");
    reporter().endAdUnitExposure("b");
    EXPECT_EQ(exposures().size(), 4u);  // "a" still has a begin open
    reporter().endAdUnitExposure("a");
    events = exposures();
    ASSERT_EQ(events.size(), 6u);
    expectExposure(events[3], "_xu", "b", 1500, "Home");
    expectExposure(events[4], "_xu", "a", 1500, "Home");
    expectExposure(events[5], "_xa", "", 1500, "Home");
}

TEST_F(AdExposureTest, ResigningReportsAtOnceAndBecomingActiveRestartsSilently) {
    startOnHome();
    reporter().beginAdUnitExposure("banner");
    at(2);
    // The events are handed to the facade before the call returns: settling the facade and the
    // engine, without the reporter's queue, finds them.
    resign();
    std::vector<APMEvent> events = exposures();
    ASSERT_EQ(events.size(), 2u);
    expectExposure(events[0], "_xu", "banner", 2000, "Home");
    expectExposure(events[1], "_xa", "", 2000, "Home");

    at(4);
    const APMScreen given("Given", "GivenView", 77);
    reporter().handleAppWillResignActiveWithScreen(&given);
    events = exposures();
    ASSERT_EQ(events.size(), 4u);
    expectExposure(events[2], "_xu", "banner", 2000, "Given");
    EXPECT_EQ(integer(events[2], "_si"), 77);

    at(7);
    activate();
    EXPECT_EQ(exposures().size(), 4u);
    at(8.25);
    reporter().endAdUnitExposure("banner");
    events = exposures();
    ASSERT_EQ(events.size(), 6u);
    expectExposure(events[4], "_xu", "banner", 1250, "Home");
    expectExposure(events[5], "_xa", "", 1250, "Home");
}

TEST_F(AdExposureTest, NothingIsLoggedWhileReportingIsDisabled) {
    startOnHome();
    reporter().setReportingEnabled(false);
    reporter().beginAdUnitExposure("banner");
    at(2);
    reporter().endAdUnitExposure("banner");
    EXPECT_TRUE(exposures().empty());
    EXPECT_EQ(countOf(1007), 1);
    EXPECT_EQ(countOf(1005), 1);
}

TEST_F(AdExposureTest, NothingIsLoggedBeforeTheAppIsActive) {
    ZEDOre::configure();
    settle();
    reporter().beginAdUnitExposure("banner");
    at(2);
    reporter().endAdUnitExposure("banner");
    EXPECT_TRUE(exposures().empty());
    EXPECT_EQ(countOf(1011), 1);
    EXPECT_EQ(countOf(1010), 1);
}

TEST_F(AdExposureTest, BeginsAndEndsFromManyThreadsKeepTheCountsConsistent) {
    // The app is not active: nothing reaches the facade, only the counts matter.
    constexpr int kThreads = 8;
    constexpr int kRounds = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string own = "own" + std::to_string(t);
            for (int round = 0; round < kRounds; ++round) {
                // A begin followed by an end on one thread applies in that order.
                reporter().beginAdUnitExposure(own);
                reporter().beginAdUnitExposure("shared");
                reporter().endAdUnitExposure(own);
                reporter().endAdUnitExposure("shared");
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    APMAdExposureReporterTestPeer::waitForQueue(reporter());
    EXPECT_EQ(countOf(1004), 0);
    EXPECT_GE(countOf(1011), kThreads * kRounds);
    // Every unit is closed again.
    reporter().endAdUnitExposure("shared");
    EXPECT_EQ(countOf(1004), 1);
}

}  // namespace
