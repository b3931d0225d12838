// A configuration encoded by protoc: the fields the system only carries come back byte for
// byte, and the filter flags read through their named slots land where the schema puts them.
#include <gtest/gtest.h>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;

namespace {

namespace MC = apmpb::MeasurementConfig;

template <class W>
std::shared_ptr<NANOMessageBase> only(const NANOMessageBase* parent, std::int32_t slot) {
    const auto elements = APMPBGetRepeated<W>(parent, slot);
    if (!elements || elements->size() != 1)
        return nullptr;
    return std::get<1>((*elements)[0]);
}

}  // namespace

TEST(ConfigurationMessages, FieldsThatAreNotReadSurviveDecodeCopyAndEncode) {
    const std::string bytes =
        protoc("--encode=apmpb.MeasurementConfig", golden("config_carried.txt"));
    ASSERT_EQ(bytes.find("<protoc failed>"), std::string::npos) << bytes;
    const auto config = APMPBMeasurementConfig::initWithBuffer(asBytes(bytes));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->protoBuffer(), asBytes(bytes));
    const APMPBMeasurementConfig copy(*config);
    EXPECT_EQ(copy.protoBuffer(), asBytes(bytes));
    EXPECT_EQ(protoc("--decode=apmpb.MeasurementConfig", asString(*copy.protoBuffer())),
              golden("config_carried.txt"));
}

TEST(ConfigurationMessages, FilterFlagsReadThroughTheirNamedSlots) {
    const std::string bytes =
        protoc("--encode=apmpb.MeasurementConfig", golden("config_carried.txt"));
    const auto config = APMPBMeasurementConfig::initWithBuffer(asBytes(bytes));
    ASSERT_TRUE(config);
    EXPECT_EQ(APMPBGetInt64(config.get(), MC::kVersion), 7);
    EXPECT_EQ(APMPBGetString(config.get(), MC::kAppId), "1:123:macos:abc");
    const auto consent = APMPBGetMessage<APMPBConsentConfig>(config.get(), MC::kConsentConfig);
    ASSERT_TRUE(consent);
    EXPECT_TRUE(APMPBGetBool(consent.get(), apmpb::ConsentConfig::kIsDmaRegion));
    const auto stgw = APMPBGetMessage<APMPBStgwSetting>(config.get(), MC::kStgwSetting);
    ASSERT_TRUE(stgw);
    EXPECT_EQ(APMPBGetString(stgw.get(), apmpb::StgwSetting::kUploadUrl),
              "https://stgw.example.invalid/upload");

    const auto audience = only<APMPBAudience>(config.get(), MC::kAudiences);
    ASSERT_TRUE(audience);
    EXPECT_EQ(APMPBGetInt32(audience.get(), apmpb::Audience::kAudienceId), 9u);

    namespace EF = apmpb::EventFilter;
    const auto eventFilter = only<APMPBEventFilter>(audience.get(), apmpb::Audience::kEventFilters);
    ASSERT_TRUE(eventFilter);
    EXPECT_EQ(APMPBGetString(eventFilter.get(), EF::kEventName), "purchase");
    EXPECT_TRUE(APMPBGetBool(eventFilter.get(), EF::kSessionScoped));
    EXPECT_TRUE(APMPBGetBool(eventFilter.get(), EF::kDynamic));
    EXPECT_FALSE(APMPBGetBool(eventFilter.get(), EF::kSequence));
    EXPECT_TRUE(APMPBHasField(eventFilter.get(), EF::kSequence));
    const auto count = APMPBGetMessage<APMPBNumberFilter>(eventFilter.get(), EF::kEventCountFilter);
    ASSERT_TRUE(count);
    EXPECT_EQ(APMPBGetInt32(count.get(), apmpb::NumberFilter::kComparisonType),
              apmpb::NumberFilter::ComparisonType::kGreaterThan);

    namespace PF = apmpb::PropertyFilter;
    const auto propertyFilter =
        only<APMPBPropertyFilter>(audience.get(), apmpb::Audience::kPropertyFilters);
    ASSERT_TRUE(propertyFilter);
    EXPECT_EQ(APMPBGetString(propertyFilter.get(), PF::kPropertyName), "tier");
    EXPECT_TRUE(APMPBGetBool(propertyFilter.get(), PF::kSessionScoped));
    EXPECT_FALSE(APMPBGetBool(propertyFilter.get(), PF::kDynamic));
    EXPECT_TRUE(APMPBGetBool(propertyFilter.get(), PF::kSequence));
    const auto filter = APMPBGetMessage<APMPBFilter>(propertyFilter.get(), PF::kFilter);
    ASSERT_TRUE(filter);
    const auto strings =
        APMPBGetMessage<APMPBStringFilter>(filter.get(), apmpb::Filter::kStringFilter);
    ASSERT_TRUE(strings);
    EXPECT_EQ(APMPBGetInt32(strings.get(), apmpb::StringFilter::kMatchType),
              apmpb::StringFilter::MatchType::kInList);
    EXPECT_EQ(APMPBGetRepeated(strings.get(), apmpb::StringFilter::kExpressionList),
              (APMPBRepeatedArray{sdk::Value("gold"), sdk::Value("silver")}));
}
