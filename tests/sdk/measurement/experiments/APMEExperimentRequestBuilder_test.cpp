// The experiment request as protoc reads it: the app property, one client property per SDK with
// a diversion key, and custom properties in name order with the delegate's winning.
#include <gtest/gtest.h>

#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/experiments/APMEExperimentRequestBuilder.h"
#include "sdk/measurement/experiments/APMEnvironmentInfo.h"
#include "tests/sdk/measurement/experiments/ExperimentTestSupport.h"

using namespace messages_test;

namespace {

class DynamicProperties : public APMEClientDelegate {
  public:
    std::map<std::string, std::string> dynamicCustomPropertiesForSDKProperty(
        const APMESDKProperty& property) override {
        return {{"tier", "dynamic-" + property.name()}, {"build", "7"}};
    }
};

std::shared_ptr<APMESDKProperty> sdkProperty(const std::string& name,
                                             const std::string& diversionKey,
                                             std::map<std::string, std::string> custom = {}) {
    auto property = std::make_shared<APMESDKProperty>(name);
    property->setVersion(111500);
    property->setAppID("1:123:macos:abc");
    property->setDiversionKey(diversionKey);
    property->setCustomProperties(std::move(custom));
    return property;
}

APMEExperimentEnvironment environment(std::string measurementKey) {
    APMEExperimentEnvironment env;
    env.language = "en-gb";
    env.bundleIdentifier = "com.example.cellarbright";
    env.measurementDiversionKey = std::move(measurementKey);
    return env;
}

std::string decoded(const APMPBExperimentRequest& request) {
    return protoc("--decode=apmpb.ExperimentRequest", asString(*request.protoBuffer()));
}

class RequestBuilderTest : public exptest::ExperimentTest {};

}  // namespace

TEST_F(RequestBuilderTest, TwoSDKsGiveTwoClientPropertiesWithTheirKeysAndMergedCustomProperties) {
    APMEExperimentRequestBuilder builder;
    builder.setEnvironmentProvider([] { return environment("measurement-key"); });
    auto delegate = std::make_shared<DynamicProperties>();
    auto own = sdkProperty("div_other", "own-key", {{"tier", "pro"}, {"region", "eu"}});
    own->setDelegate(delegate);
    builder.addSDKProperty(sdkProperty("div_edadevadeze", "stale-key"));
    builder.addSDKProperty(own);
    // A later registration under the same name replaces the earlier one.
    builder.addSDKProperty(sdkProperty("div_edadevadeze", ""));

    EXPECT_EQ(decoded(builder.request()),
              "app_property {\n"
              "  platform: \"macos\"\n"
              "  language: \"en-gb\"\n"
              "  bundle_id: \"com.example.cellarbright\"\n"
              "  is_from_app_store: false\n"
              "  library_version: 10000\n"
              "}\n"
              "client_properties {\n"
              "  name: \"div_edadevadeze\"\n"
              "  diversion_id: \"measurement-key-div_edadevadeze\"\n"
              "  version: 111500\n"
              "  app_id: \"1:123:macos:abc\"\n"
              "}\n"
              "client_properties {\n"
              "  name: \"div_other\"\n"
              "  diversion_id: \"own-key-div_other\"\n"
              "  version: 111500\n"
              "  app_id: \"1:123:macos:abc\"\n"
              "  custom_properties {\n"
              "    key: \"build\"\n"
              "    value: \"7\"\n"
              "  }\n"
              "  custom_properties {\n"
              "    key: \"region\"\n"
              "    value: \"eu\"\n"
              "  }\n"
              "  custom_properties {\n"
              "    key: \"tier\"\n"
              "    value: \"dynamic-div_other\"\n"
              "  }\n"
              "}\n");
    EXPECT_FALSE(monitor_.saw(860001));
}

TEST_F(RequestBuilderTest, WithoutAnyDiversionKeyTheSDKIsLeftOutAndNoLanguageLeavesItUnset) {
    APMEExperimentRequestBuilder builder;
    builder.setEnvironmentProvider([] {
        APMEExperimentEnvironment env = environment("");
        env.language.reset();
        return env;
    });
    builder.addSDKProperty(sdkProperty("div_edadevadeze", ""));
    builder.addSDKProperty(nullptr);

    EXPECT_EQ(decoded(builder.request()),
              "app_property {\n"
              "  platform: \"macos\"\n"
              "  bundle_id: \"com.example.cellarbright\"\n"
              "  is_from_app_store: false\n"
              "  library_version: 10000\n"
              "}\n");
    EXPECT_TRUE(monitor_.saw(860001));
    EXPECT_TRUE(monitor_.saw(880000));
}

TEST_F(RequestBuilderTest, SDKsRegisteredWithTheSharedManagerReachTheSharedRequest) {
    APMEExperimentRequestBuilder::sharedInstance().setEnvironmentProvider(
        [] { return environment(""); });
    const auto client = APMEExperimentManager::sharedInstance()->registerSDKProperty(
        sdkProperty("div_shared", "k"), {});
    ASSERT_TRUE(client);
    // Registration runs on the manager's queue; a synchronous lookup waits for it.
    (void)APMEExperimentManager::sharedInstance()->experimentIDs();
    EXPECT_NE(decoded(APMEExperimentRequestBuilder::sharedInstance().request())
                  .find("diversion_id: \"k-div_shared\""),
              std::string::npos);
}

TEST_F(RequestBuilderTest, TheDefaultEnvironmentUsesTheMeasurementIdentityAndLanguage) {
    APMEExperimentRequestBuilder builder;
    builder.addSDKProperty(sdkProperty("div_edadevadeze", ""));
    const auto identity = APMIdentity::sharedInstance();
    ASSERT_TRUE(identity);
    const std::string decodedRequest = decoded(builder.request());
    EXPECT_NE(
        decodedRequest.find("diversion_id: \"" + identity->diversionKey() + "-div_edadevadeze\""),
        std::string::npos)
        << decodedRequest;
    const auto language = APMEnvironmentInfo::sharedInstance().userDefaultLanguage();
    EXPECT_EQ(
        decodedRequest.find("language: \"" + language.value_or("") + "\"") != std::string::npos,
        language.has_value())
        << decodedRequest;
}
