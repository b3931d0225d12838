// Experiment requests built through the named slots and responses encoded by protoc, each read
// by the other side and round-tripped through our codec.
#include <gtest/gtest.h>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;

namespace {

namespace AP = apmpb::AppProperty;
namespace CP = apmpb::ClientProperty;

std::shared_ptr<NANOMessageBase> clientProperty(
    const char* name, const char* diversionKey,
    const std::vector<std::pair<const char*, const char*>>& custom) {
    auto p = std::make_shared<APMPBClientProperty>();
    APMPBSetString(p.get(), CP::kName, name);
    APMPBSetString(p.get(), CP::kDiversionId, std::string(diversionKey) + "-" + name);
    APMPBSetInt64(p.get(), CP::kVersion, 111500);
    APMPBSetString(p.get(), CP::kAppId, "1:123:macos:abc");
    APMPBRepeatedArray properties;
    for (const auto& [key, value] : custom) {
        auto c = std::make_shared<APMPBCustomProperty>();
        APMPBSetString(c.get(), apmpb::CustomProperty::kKey, key);
        APMPBSetString(c.get(), apmpb::CustomProperty::kValue, value);
        properties.emplace_back(c);
    }
    APMPBSetRepeated(p.get(), CP::kCustomProperties, properties);
    return p;
}

std::shared_ptr<NANOMessageBase> element(const std::optional<APMPBRepeatedArray>& array,
                                         std::size_t i) {
    if (!array || i >= array->size())
        return nullptr;
    return std::get<1>((*array)[i]);
}

}  // namespace

TEST(ExperimentMessages, RequestBuiltBySlotReadsInProtocAndRoundTrips) {
    APMPBAppProperty app;
    APMPBSetString(&app, AP::kPlatform, "macos");
    APMPBSetString(&app, AP::kLanguage, "en");
    APMPBSetString(&app, AP::kBundleId, "com.example.cellarbright");
    APMPBSetBool(&app, AP::kIsFromAppStore, false);
    APMPBSetInt64(&app, AP::kLibraryVersion, 10000);
    APMPBExperimentRequest request;
    APMPBSetMessage(&request, apmpb::ExperimentRequest::kAppProperty, &app);
    APMPBSetRepeated(
        &request, apmpb::ExperimentRequest::kClientProperties,
        APMPBRepeatedArray{
            clientProperty("div_edadevadeze", "key-1", {{"region", "eu"}, {"tier", "pro"}}),
            clientProperty("div_other", "key-2", {{"channel", "beta"}})});
    const auto bytes = request.protoBuffer();
    ASSERT_TRUE(bytes);

    EXPECT_EQ(protoc("--decode=apmpb.ExperimentRequest", asString(*bytes)),
              "app_property {\n"
              "  platform: \"macos\"\n"
              "  language: \"en\"\n"
              "  bundle_id: \"com.example.cellarbright\"\n"
              "  is_from_app_store: false\n"
              "  library_version: 10000\n"
              "}\n"
              "client_properties {\n"
              "  name: \"div_edadevadeze\"\n"
              "  diversion_id: \"key-1-div_edadevadeze\"\n"
              "  version: 111500\n"
              "  app_id: \"1:123:macos:abc\"\n"
              "  custom_properties {\n    key: \"region\"\n    value: \"eu\"\n  }\n"
              "  custom_properties {\n    key: \"tier\"\n    value: \"pro\"\n  }\n"
              "}\n"
              "client_properties {\n"
              "  name: \"div_other\"\n"
              "  diversion_id: \"key-2-div_other\"\n"
              "  version: 111500\n"
              "  app_id: \"1:123:macos:abc\"\n"
              "  custom_properties {\n    key: \"channel\"\n    value: \"beta\"\n  }\n"
              "}\n");

    const auto decoded = APMPBExperimentRequest::initWithBuffer(*bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->protoBuffer(), bytes);
    const auto readApp =
        APMPBGetMessage<APMPBAppProperty>(decoded.get(), apmpb::ExperimentRequest::kAppProperty);
    ASSERT_TRUE(readApp);
    EXPECT_FALSE(APMPBHasField(readApp.get(), AP::kField2));
    EXPECT_FALSE(APMPBHasField(readApp.get(), AP::kField3));
    EXPECT_TRUE(APMPBHasField(readApp.get(), AP::kIsFromAppStore));
}

TEST(ExperimentMessages, ResponseFromProtocReadsBySlotAndRoundTrips) {
    const std::string bytes =
        protoc("--encode=apmpb.ExperimentResponse", golden("experiment_response.txt"));
    ASSERT_EQ(bytes.find("<protoc failed>"), std::string::npos) << bytes;
    const auto response = APMPBExperimentResponse::initWithBuffer(asBytes(bytes));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->protoBuffer(), asBytes(bytes));
    EXPECT_EQ(protoc("--decode=apmpb.ExperimentResponse", asString(*response->protoBuffer())),
              golden("experiment_response.txt"));

    namespace R = apmpb::ExperimentResponse;
    const auto snapshots = APMPBGetRepeated<APMPBSnapshot>(response.get(), R::kSnapshots);
    ASSERT_TRUE(snapshots && snapshots->size() == 1);
    const auto snapshot = element(snapshots, 0);
    EXPECT_EQ(APMPBGetString(snapshot.get(), apmpb::Snapshot::kSdkName), "div_edadevadeze");
    const auto experiments =
        APMPBGetRepeated<APMPBExperiment>(snapshot.get(), apmpb::Snapshot::kExperiments);
    ASSERT_TRUE(experiments && experiments->size() == 2);
    const auto second = element(experiments, 1);
    EXPECT_EQ(APMPBGetInt32(second.get(), apmpb::Experiment::kExperimentId), 12u);
    const auto flags = APMPBGetRepeated<APMPBFlag>(second.get(), apmpb::Experiment::kFlags);
    ASSERT_TRUE(flags && flags->size() == 2);
    EXPECT_EQ(APMPBGetString(element(flags, 0).get(), apmpb::Flag::kStringValue), "blue");
    EXPECT_TRUE(APMPBGetBool(element(flags, 1).get(), apmpb::Flag::kBoolValue));

    namespace S = apmpb::SdkResponse;
    const auto answers = APMPBGetRepeated<APMPBSdkResponse>(response.get(), R::kSdkResponses);
    ASSERT_TRUE(answers && answers->size() == 2);
    EXPECT_EQ(APMPBGetInt32(element(answers, 0).get(), S::kStatus), 2u);
    EXPECT_FALSE(APMPBHasField(element(answers, 0).get(), S::kSnapshot));
    const auto third = element(answers, 1);
    EXPECT_TRUE(APMPBHasField(third.get(), S::kStatus));
    const auto nested = APMPBGetMessage<APMPBSnapshot>(third.get(), S::kSnapshot);
    ASSERT_TRUE(nested);
    EXPECT_FALSE(APMPBHasField(nested.get(), apmpb::Snapshot::kSdkName));
    const auto nestedExperiment =
        element(APMPBGetRepeated<APMPBExperiment>(nested.get(), apmpb::Snapshot::kExperiments), 0);
    const auto nestedFlag =
        element(APMPBGetRepeated<APMPBFlag>(nestedExperiment.get(), apmpb::Experiment::kFlags), 0);
    EXPECT_EQ(APMPBGetString(nestedFlag.get(), apmpb::Flag::kName), "third.flag");
    EXPECT_EQ(APMPBGetInt64(nestedFlag.get(), apmpb::Flag::kIntValue), -1);
}
