#include "sdk/analytics/REROdazadeve.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sdk/core/ZEDOre.h"
#include "tests/sdk/analytics/ConfiguredAnalyticsTest.h"

namespace {

using ::testing::ElementsAre;

using REROdazadeveTest = sdktest::ConfiguredAnalyticsTest;

TEST_F(REROdazadeveTest, DropsEventsAndUserPropertiesUntilTheCoreIsConfigured) {
    REROdazadeve::logEventWithName("early", std::nullopt);
    REROdazadeve::setUserPropertyString("direct", "distribution");
    EXPECT_TRUE(sink_->calls().empty());

    ZEDOre::configure();
    REROdazadeve::logEventWithName("late", std::nullopt);
    EXPECT_THAT(sink_->calls(),
                ElementsAre("start 1:1234567890:ios:0123456789abcdef fa", "event app late none"));
}

TEST_F(REROdazadeveTest, HandsParametersOnWithTheirTypes) {
    ZEDOre::configure();
    sdk::Value::Dictionary parameters{
        {"size_bytes", int64_t{1} << 40}, {"is_directory", true}, {"mode", "apps"}};
    REROdazadeve::logEventWithName("item_deleted", parameters);
    std::optional<sdk::Value::Dictionary> seen = sink_->lastParameters();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(*seen, parameters);
    EXPECT_TRUE(seen->at("is_directory").isBool());
    EXPECT_EQ(seen->at("size_bytes").intValue(), int64_t{1} << 40);
}

TEST_F(REROdazadeveTest, DefaultParametersAreHandedOnEvenBeforeConfiguration) {
    // Not a guarded operation: it goes to the engine as it is.
    REROdazadeve::setDefaultEventParameters(sdk::Value::Dictionary{{"distribution", "direct"}});
    REROdazadeve::setDefaultEventParameters(std::nullopt);
    EXPECT_THAT(sink_->calls(), ElementsAre("default_parameters {\"distribution\": \"direct\"}",
                                            "default_parameters none"));
}

}  // namespace
