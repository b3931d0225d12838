// Screen views logged by the app: "screen_view" becomes "_vs" with the current and previous
// screen's parameters, and every later event carries the current screen.
#include "sdk/measurement/engine/core/APMScreenViewReporter.h"

#include "tests/sdk/analytics/ActivityTestSupport.h"

namespace {

using ScreenViewsTest = sdktest::ActivityTest;

void logScreen(std::optional<std::string> name, std::optional<std::string> className,
               sdk::Value::Dictionary extra = {}) {
    if (name) {
        extra.emplace("screen_name", *name);
    }
    if (className) {
        extra.emplace("screen_class", *className);
    }
    REROdazadeve::logEventWithName("screen_view", std::move(extra));
}

TEST_F(ScreenViewsTest, ScreenViewsBecomeVsEventsAndLaterEventsCarryTheCurrentScreen) {
    ZEDOre::configure();
    settle();
    EXPECT_TRUE(APMScreenViewReporter::sharedInstance()->screenParameters().empty());
    REROdazadeve::logEventWithName("before_screens", std::nullopt);
    ASSERT_EQ(events("before_screens").size(), 1u);
    EXPECT_FALSE(parameter(events("before_screens")[0], "_si"));

    logScreen("Home", "HomeView");
    logScreen("Detail", "DetailView", {{"depth", 2}});
    const std::vector<APMEvent> views = events("_vs");
    ASSERT_EQ(views.size(), 2u);
    EXPECT_TRUE(events("screen_view").empty());
    const APMEvent& first = views[0];
    const APMEvent& second = views[1];
    EXPECT_EQ(first.origin(), "app");
    EXPECT_EQ(text(first, "_sn"), "Home");
    EXPECT_EQ(text(first, "_sc"), "HomeView");
    EXPECT_FALSE(parameter(first, "_pi"));
    EXPECT_EQ(second.origin(), "app");
    EXPECT_EQ(integer(second, "_si"), integer(first, "_si") + 1);
    EXPECT_EQ(integer(second, "_pi"), integer(first, "_si"));
    EXPECT_EQ(text(second, "_pc"), "HomeView");
    EXPECT_EQ(text(second, "_pn"), "Home");
    EXPECT_EQ(integer(second, "_mst"), 1);
    EXPECT_EQ(integer(second, "depth"), 2);
    EXPECT_FALSE(parameter(second, "screen_name"));

    REROdazadeve::logEventWithName("level_up", std::nullopt);
    const std::vector<APMEvent> later = events("level_up");
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(integer(later[0], "_si"), integer(second, "_si"));
    EXPECT_EQ(text(later[0], "_sc"), "DetailView");
    EXPECT_EQ(text(later[0], "_sn"), "Detail");

    // An event with a screen of its own keeps it.
    REROdazadeve::logInternalEventWithOrigin("rcm", "_own_screen", {{"_si", 7}});
    const std::vector<APMEvent> own = events("_own_screen");
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(integer(own[0], "_si"), 7);
    EXPECT_FALSE(parameter(own[0], "_sc"));
}

TEST_F(ScreenViewsTest, AnInvalidClassDropsTheViewAndANamelessViewStillCounts) {
    ZEDOre::configure();
    settle();
    logScreen("Home", "HomeView");
    ASSERT_EQ(events("_vs").size(), 1u);

    logScreen("Broken", "");
    EXPECT_EQ(countOf(31028), 1);
    EXPECT_EQ(events("_vs").size(), 1u);
    std::optional<std::string> name;
    std::optional<std::string> className;
    APMScreenViewReporter::sharedInstance()->getScreenName(&name, &className);
    EXPECT_EQ(name, "Home");
    EXPECT_EQ(className, "HomeView");

    logScreen(std::nullopt, std::nullopt);
    const std::vector<APMEvent> views = events("_vs");
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(integer(views[1], "_si"), integer(views[0], "_si") + 1);
    EXPECT_EQ(integer(views[1], "_mst"), 1);
    EXPECT_FALSE(parameter(views[1], "_sc"));
    EXPECT_FALSE(parameter(views[1], "_sn"));
    EXPECT_GE(countOf(31014), 1);
    EXPECT_EQ(text(views[1], "_pn"), "Home");
}

TEST_F(ScreenViewsTest, ActivationSessionStartCarriesTheCurrentScreen) {
    ZEDOre::configure();
    settle();
    logScreen("Home", "HomeView");
    activate();
    const std::vector<APMEvent> starts = events("_s");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(text(starts[0], "_sn"), "Home");
    EXPECT_EQ(integer(starts[0], "_si"), integer(events("_vs")[0], "_si"));
}

}  // namespace
