// The parameter limits come from the remote configuration in force, and the cleaning applies
// them.
#include <gtest/gtest.h>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/storage/RemoteConfigTestSupport.h"

namespace {

class APMParameterLimitsTest : public sdktest::RemoteConfigTest {
  protected:
    void TearDown() override {
        APMRemoteConfig::setCurrent(nullptr);
        RemoteConfigTest::TearDown();
    }
};

TEST_F(APMParameterLimitsTest, ReadFromTheInstalledConfiguration) {
    APMRemoteConfig::setCurrent(nullptr);
    const APMParameterLimits defaults = APMRemoteConfig::current()->parameterLimits();
    EXPECT_EQ(defaults.maxPublicEventParams, 100);
    EXPECT_EQ(defaults.maxItemScopedCustomParameters, 27);
    EXPECT_EQ(defaults.maxPublicEventParameterValueLength, 500);

    APMRemoteConfig::setCurrent(
        configWithSettings({{"measurement.upload.max_public_event_params", "30"},
                            {"measurement.upload.max_item_scoped_custom_parameters", "12"},
                            {"measurement.upload.max_event_parameter_value_length", "150"}}));
    const APMParameterLimits limits = APMRemoteConfig::current()->parameterLimits();
    EXPECT_EQ(limits.maxPublicEventParams, 30);
    EXPECT_EQ(limits.maxItemScopedCustomParameters, 12);
    EXPECT_EQ(limits.maxPublicEventParameterValueLength, 150);

    APMRawParameters parameters{{"text", std::string(151, 't')}};
    for (int i = 0; i < 31; ++i)
        parameters.emplace("p" + std::to_string(100 + i), i);
    auto event = APMEvent::initWithOrigin("app", true, "level_up", 1, 0, parameters,
                                          APMRemoteConfig::current()->parameterLimits());
    ASSERT_TRUE(event);
    EXPECT_EQ(event->parameters().count("text"), 0u);  // over 150 code points
    EXPECT_EQ(event->parameters().at("_err"), APMValue(std::int64_t{4}));
    EXPECT_EQ(event->parameters().count("p129"), 1u);  // 30 kept
    EXPECT_EQ(event->parameters().count("p130"), 0u);
}

}  // namespace
