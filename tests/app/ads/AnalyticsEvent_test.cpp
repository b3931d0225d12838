#include "app/ads/AnalyticsEvent.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sdk/analytics/REROdazadeve.h"
#include "sdk/core/ZEDOre.h"
#include "tests/sdk/analytics/ConfiguredAnalyticsTest.h"

namespace cb {
namespace {

using ::testing::ElementsAre;

TEST(AnalyticsEventTest, NamesInDeclarationOrder) {
    const char* expected[] = {"app_launched",        "scan_started_home", "scan_started_entire_mac",
                              "scan_started_folder", "scan_completed",    "item_deleted",
                              "app_uninstalled",     "snapshots_thinned", "mode_switched",
                              "ad_clicked"};
    ASSERT_EQ(std::size(expected), kAllAnalyticsEvents.size());
    for (size_t i = 0; i < kAllAnalyticsEvents.size(); ++i) {
        EXPECT_EQ(rawValue(kAllAnalyticsEvents[i]), expected[i]);
        EXPECT_EQ(analyticsEventFromRawValue(expected[i]), kAllAnalyticsEvents[i]);
    }
    EXPECT_EQ(analyticsEventFromRawValue("App_Launched"), std::nullopt);
    EXPECT_EQ(analyticsEventFromRawValue(""), std::nullopt);
}

// The launch order itself is checked on the real delegate (AppDelegateTest).
using LaunchSequenceTest = sdktest::ConfiguredAnalyticsTest;

TEST_F(LaunchSequenceTest, EventsBeforeConfigurationAreDropped) {
    configureAnalytics();
    logAnalyticsEvent(AnalyticsEvent::appLaunched);
    // The property and the event are refused; the unguarded default parameters wait in the
    // facade's queue for the start.
    EXPECT_THAT(monitor_.codes(), ElementsAre(25019, 25018));
    EXPECT_FALSE(APMAnalytics::isStarted());
}

}  // namespace
}  // namespace cb
