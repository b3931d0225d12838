#include "sdk/analytics/REROdazadeve.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sdk/core/REZUzavuredeContainer.h"
#include "sdk/core/RZDConfiguration.h"
#include "sdk/core/RZDRazudizoUserAgent.h"
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

TEST_F(REROdazadeveTest, TheCoreStartsAnalyticsWithTheStartOptions) {
    ZEDOre::configure();
    EXPECT_THAT(sink_->calls(), ElementsAre("start 1:1234567890:ios:0123456789abcdef fa"));
    EXPECT_EQ(sink_->startConfiguration(),
              RZDConfiguration::sharedInstance().analyticsConfiguration());
    EXPECT_EQ(sink_->startOptions(),
              (sdk::Value::Dictionary{{"RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED", false},
                                      {"RAZUDIZO_ANALYTICS_COLLECTION_ENABLED", true},
                                      {"div_edadevadeze_log_tag", "[RazudizoAnalytics]"}}));

    // The numbers follow the options' switches.
    ZEDOre::resetApps();
    options_.writeOptions({{"VOVIDU_APP_ID", sdktest::kValidAppID},
                           {"RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED", "YES"}});
    options_.use();
    ZEDOre::configure();
    EXPECT_EQ(sink_->startOptions().at("RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED"),
              sdk::Value(true));
    EXPECT_EQ(sink_->startOptions().at("RAZUDIZO_ANALYTICS_COLLECTION_ENABLED"), sdk::Value(false));
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
