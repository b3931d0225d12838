// The generated tables against the schema as written down by hand: slot kinds, child types,
// decode passes and the field numbers of the messages whose slots are not numbered 1, 2, 3...
#include <gtest/gtest.h>

#include <bit>
#include <iterator>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;

namespace {

struct Expected {
    const char* name;
    const char* slots;  // one token per slot, see kindOf
    bool twoPass;
};

// b bool, e enum, i32, i64, f float, d double, s string, M:<type> message; a leading "*" marks a
// repeated field (u32 and u64 only occur repeated).
const Expected kSchema[] = {
    {"AdCampaignInfo",
     "s s s i64 s s s i64 *M:DeepLinkCadParamsEntry *M:MarketReferrerCadParamsEntry", true},
    {"AppProperty", "s s s s s b i64", false},
    {"Audience", "i32 *M:PropertyFilter *M:EventFilter b b", true},
    {"AudienceLeafFilterResult", "i32 M:ResultData M:ResultData b", true},
    {"ClientProperty", "s s i64 s *M:CustomProperty", true},
    {"ConsentConfig",
     "*M:ConsentDefaultEntry *M:ConsentDelegationEntry *M:CorePlatformServiceEntry b "
     "*M:ConsentDefaultEntry",
     true},
    {"ConsentDefaultEntry", "i32 i32 i32", false},
    {"ConsentDelegationEntry", "i32 i32", false},
    {"ConsentInfoExtra", "*M:LimitedDataEntry", true},
    {"CorePlatformServiceEntry", "s s", false},
    {"CustomProperty", "s s", false},
    {"DataControl", "s *M:Region b", true},
    {"DeepLinkCadParamsEntry", "s s", false},
    {"DynamicFilterResultTimestamp", "i32 i64", false},
    {"Event", "*M:EventParam s i64 i64 i32", true},
    {"EventConfig", "s b b i32", false},
    {"EventFilter", "i32 s *M:Filter b M:NumberFilter b b b", true},
    {"EventParam", "s s i64 f d *M:EventParam", true},
    {"Experiment", "i32 *M:Flag", true},
    {"ExperimentRequest", "M:AppProperty *M:ClientProperty", true},
    {"ExperimentResponse", "*M:Snapshot *M:SdkResponse", true},
    {"Filter", "M:StringFilter M:NumberFilter b s", true},
    {"Flag", "s i64 s d b", false},
    {"LimitedDataEntry", "i32 i32", false},
    {"MarketReferrerCadParamsEntry", "s s", false},
    {"MeasurementBatch", "*M:MeasurementBundle s s i32", true},
    {"MeasurementBundle",
     "i32 *M:Event *M:UserAttribute i64 i64 i64 i64 i64 s s s s i32 s s i64 s i64 i64 s s b s "
     "i64 i32 s s b *M:AudienceLeafFilterResult s i32 i32 i32 s i64 i32 s *u32 i64 s s i32 b s *s "
     "s i64 s b s s i32 M:AdCampaignInfo M:OnDeviceMeasurementInfo M:ConsentInfoExtra i32",
     true},
    {"MeasurementConfig",
     "i64 s i32 *M:Setting *M:EventConfig *M:Audience s b *M:Program *M:DataControl s s "
     "M:ConsentConfig M:PsmSetting M:StgwSetting M:Region",
     true},
    {"NumberFilter", "e b s s s", false},
    {"OgtActivities", "*M:OgtActivity", true},
    {"OgtActivity", "s *M:RuntimeEntity", true},
    {"OnDeviceMeasurementInfo",
     "M:OnDeviceMeasurementValue M:OnDeviceMeasurementValue M:OnDeviceMeasurementValue "
     "M:OnDeviceMeasurementValue",
     false},
    {"OnDeviceMeasurementValue", "i64 s", false},
    {"Program", "*M:RuntimeEntity M:OgtActivities", true},
    {"PropertyFilter", "i32 s M:Filter b b b", true},
    {"PsmSetting", "i32 i32 i32", false},
    {"Region", "s s", false},
    {"ResultData", "*u64 *u64 *M:DynamicFilterResultTimestamp *M:SequenceFilterResultTimestamp",
     true},
    {"RuntimeEntity", "e *M:RuntimeEntity s s b d", true},
    {"SdkResponse", "s i32 M:Snapshot", true},
    {"SequenceFilterResultTimestamp", "i32 *i64", true},
    {"Setting", "s s", false},
    {"Snapshot", "s *M:Experiment", true},
    {"StgwSetting", "s s s i32 s", false},
    {"StringFilter", "e s b *s", true},
    {"UserAttribute", "i64 s s i64 f d", false},
};

// Field numbers where slot i is not field i + 1.
const std::pair<const char*, std::vector<std::uint32_t>> kTags[] = {
    {"MeasurementBatch", {1, 7, 8, 9}},
    {"MeasurementBundle",
     {1,  2,  3,  4,  5,  6,  26, 7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18,
      19, 27, 20, 21, 22, 23, 24, 25, 28, 29, 30, 31, 32, 33, 34, 35, 39, 41, 45,
      47, 50, 52, 53, 55, 63, 64, 65, 67, 71, 72, 73, 75, 77, 79, 84, 86, 87}},
    {"MeasurementConfig", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14, 15, 16, 17, 18}},
};

std::string tokenOf(const apmpb::MessageType& type, std::uint32_t slot) {
    const std::uint32_t f = type.typeFlags[slot];
    const std::string star = (f & apmpb::kFlagRepeated) ? "*" : "";
    switch (f & ~(apmpb::kFlagRepeated | apmpb::kFlagSingular)) {
        case apmpb::kFlagBool:
            return star + "b";
        case apmpb::kFlagEnum:
            return star + "e";
        case apmpb::kFlagInt32:
            return star + "i32";
        case apmpb::kFlagUInt32:
            return star + "u32";
        case apmpb::kFlagInt64:
            return star + "i64";
        case apmpb::kFlagUInt64:
            return star + "u64";
        case apmpb::kFlagFloat:
            return star + "f";
        case apmpb::kFlagDouble:
            return star + "d";
        case apmpb::kFlagString:
            return star + "s";
        case apmpb::kFlagMessage:
            return star + "M:" + type.children[slot]->name;
    }
    return "?" + std::to_string(f);
}

}  // namespace

TEST(MessageTables, EveryMessageHasTheSchemasSlotsKindsChildrenAndPasses) {
    ASSERT_EQ(std::size(kSchema), apmpb::kMessageTypeCount);
    std::size_t i = 0;
    for (const auto& expected : kSchema) {
        const apmpb::MessageType* type = apmpb::kAllMessageTypes[i++];
        ASSERT_STREQ(type->name, expected.name);
        std::string tokens;
        for (std::uint32_t s = 0; s < type->slotCount; ++s) {
            tokens += (s ? " " : "") + tokenOf(*type, s);
            const std::uint32_t f = type->typeFlags[s];
            // One label bit and one kind bit, never the unused bits.
            EXPECT_EQ(std::popcount(f & 0xA), 1) << expected.name << " " << s;
            EXPECT_EQ(std::popcount(f & 0xFFE0), 1) << expected.name << " " << s;
            EXPECT_EQ(f & ~0xFFEAu, 0u);
            EXPECT_EQ(type->slotOfTag(type->tags[s]), static_cast<int>(s));
        }
        EXPECT_EQ(tokens, expected.slots) << expected.name;
        EXPECT_EQ(type->twoPass, expected.twoPass) << expected.name;
        EXPECT_EQ(std::string("APMPB") + type->name, type->className);
    }
}

TEST(MessageTables, FieldNumbersFollowSlotsAndTheBundleKeepsItsOwnMap) {
    for (const apmpb::MessageType* type : apmpb::kAllMessageTypes) {
        std::vector<std::uint32_t> expected(type->slotCount);
        for (std::uint32_t s = 0; s < type->slotCount; ++s)
            expected[s] = s + 1;
        for (const auto& [name, tags] : kTags) {
            if (name == std::string(type->name))
                expected = tags;
        }
        EXPECT_EQ(std::vector<std::uint32_t>(type->tags, type->tags + type->slotCount), expected)
            << type->name;
    }
    EXPECT_EQ(apmpb::kMeasurementBundleType.slotOfTag(27), 20);
    EXPECT_EQ(apmpb::kMeasurementBundleType.slotOfTag(36), -1);
    EXPECT_EQ(apmpb::kMeasurementBundleType.slotOfTag(1000), -1);
}
