// The named slot constants and enum codes against protoc's reading of the schema and against
// the slot tables the schema is written from.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <vector>

#include "sdk/measurement/messages/MessageSlotIndex.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;
using apmpb::MessageType;

namespace {

// `app_id` -> "kAppId": how a field name becomes its constant's name.
std::string constantFor(const std::string& field) {
    std::string out = "k";
    bool upper = true;
    for (char c : field) {
        if (c == '_') {
            upper = true;
            continue;
        }
        out += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        upper = false;
    }
    return out;
}

// Gives slot `slot` of `m` a value (one element for a repeated field), nothing else.
void setOnly(AnyMessage& m, std::int32_t slot) {
    const MessageType& type = m.messageType();
    const std::uint32_t f = type.typeFlags[slot];
    if (f & apmpb::kFlagRepeated) {
        APMPBRepeatedArray one;
        if (f & apmpb::kFlagMessage) {
            one.emplace_back(std::make_shared<AnyMessage>(*type.children[slot]));
        } else if (f & apmpb::kFlagString) {
            one.emplace_back(sdk::Value("x"));
        } else {
            one.emplace_back(sdk::Value(1));
        }
        APMPBSetRepeated(&m, slot, one);
    } else if (f & apmpb::kFlagMessage) {
        AnyMessage child(*type.children[slot]);
        APMPBSetMessage(&m, slot, &child);
    } else if (f & apmpb::kFlagString) {
        APMPBSetString(&m, slot, "x");
    } else if (f & apmpb::kFlagBool) {
        APMPBSetBool(&m, slot, true);
    } else if (f & (apmpb::kFlagEnum | apmpb::kFlagInt32)) {
        APMPBSetInt32(&m, slot, 0);
    } else if (f & apmpb::kFlagInt64) {
        APMPBSetInt64(&m, slot, 1);
    } else if (f & apmpb::kFlagFloat) {
        APMPBSetFloat(&m, slot, 1);
    } else if (f & apmpb::kFlagDouble) {
        APMPBSetDouble(&m, slot, 1);
    }
}

// The name of the first field protoc prints: "app_id: ..." or "ad_campaign_info {".
std::string firstFieldName(const std::string& text) {
    return text.substr(0, text.find_first_of(": {"));
}

}  // namespace

TEST(MessageSlots, EveryConstantIsTheSlotOfTheFieldProtocNamesForIt) {
    std::map<std::string, std::vector<apmpb::SlotConstant>> byMessage;
    for (const apmpb::SlotConstant& c : apmpb::kAllSlotConstants)
        byMessage[c.message].push_back(c);
    ASSERT_EQ(byMessage.size(), apmpb::kMessageTypeCount);

    for (const MessageType* type : apmpb::kAllMessageTypes) {
        SCOPED_TRACE(type->name);
        const auto& constants = byMessage[type->name];
        ASSERT_EQ(constants.size(), type->slotCount);
        for (std::uint32_t s = 0; s < type->slotCount; ++s) {
            const apmpb::SlotConstant& c = constants[s];
            ASSERT_EQ(c.slot, static_cast<std::int32_t>(s)) << c.name;
            AnyMessage m(*type);
            setOnly(m, c.slot);
            const std::string text =
                protoc(std::string("--decode=apmpb.") + type->name, asString(*m.protoBuffer()));
            EXPECT_EQ(constantFor(firstFieldName(text)), c.name) << text;
        }
    }
}

namespace MB = apmpb::MeasurementBundle;

struct SlotRow {
    const MessageType* type;
    std::int32_t constant;
    std::int32_t slot;
    std::uint32_t tag;
};

// The slot and tag tables of the schema, row by row, named as the fields are.
const SlotRow kSlotRows[] = {
    {&apmpb::kMeasurementBundleType, MB::kProtocolVersion, 0, 1},
    {&apmpb::kMeasurementBundleType, MB::kEvents, 1, 2},
    {&apmpb::kMeasurementBundleType, MB::kUserAttributes, 2, 3},
    {&apmpb::kMeasurementBundleType, MB::kUploadTimestampMillis, 3, 4},
    {&apmpb::kMeasurementBundleType, MB::kStartTimestampMillis, 4, 5},
    {&apmpb::kMeasurementBundleType, MB::kEndTimestampMillis, 5, 6},
    {&apmpb::kMeasurementBundleType, MB::kPreviousBundleStartTimestampMillis, 6, 26},
    {&apmpb::kMeasurementBundleType, MB::kPreviousBundleEndTimestampMillis, 7, 7},
    {&apmpb::kMeasurementBundleType, MB::kPlatform, 8, 8},
    {&apmpb::kMeasurementBundleType, MB::kOsVersion, 9, 9},
    {&apmpb::kMeasurementBundleType, MB::kDeviceModel, 10, 10},
    {&apmpb::kMeasurementBundleType, MB::kUserDefaultLanguage, 11, 11},
    {&apmpb::kMeasurementBundleType, MB::kTimezoneOffsetMinutes, 12, 12},
    {&apmpb::kMeasurementBundleType, MB::kInstallSource, 13, 13},
    {&apmpb::kMeasurementBundleType, MB::kAppId, 14, 14},
    {&apmpb::kMeasurementBundleType, MB::kField15, 15, 15},
    {&apmpb::kMeasurementBundleType, MB::kAppVersion, 16, 16},
    {&apmpb::kMeasurementBundleType, MB::kVudVersion, 17, 17},
    {&apmpb::kMeasurementBundleType, MB::kUploadingVudVersion, 18, 18},
    {&apmpb::kMeasurementBundleType, MB::kResettableDeviceId, 19, 19},
    {&apmpb::kMeasurementBundleType, MB::kVendorDeviceId, 20, 27},
    {&apmpb::kMeasurementBundleType, MB::kLimitedAdTracking, 21, 20},
    {&apmpb::kMeasurementBundleType, MB::kAppInstanceId, 22, 21},
    {&apmpb::kMeasurementBundleType, MB::kField22, 23, 22},
    {&apmpb::kMeasurementBundleType, MB::kBundleIndex, 24, 23},
    {&apmpb::kMeasurementBundleType, MB::kMonitoringData, 25, 24},
    {&apmpb::kMeasurementBundleType, MB::kVudAppId, 26, 25},
    {&apmpb::kMeasurementBundleType, MB::kField28, 27, 28},
    {&apmpb::kMeasurementBundleType, MB::kAudienceEvaluationResults, 28, 29},
    {&apmpb::kMeasurementBundleType, MB::kRazudizoInstallationId, 29, 30},
    {&apmpb::kMeasurementBundleType, MB::kAppVersionMajor, 30, 31},
    {&apmpb::kMeasurementBundleType, MB::kAppVersionMinor, 31, 32},
    {&apmpb::kMeasurementBundleType, MB::kAppVersionRelease, 32, 33},
    {&apmpb::kMeasurementBundleType, MB::kField34, 33, 34},
    {&apmpb::kMeasurementBundleType, MB::kConfigVersion, 34, 35},
    {&apmpb::kMeasurementBundleType, MB::kRetryCount, 35, 39},
    {&apmpb::kMeasurementBundleType, MB::kField41, 36, 41},
    {&apmpb::kMeasurementBundleType, MB::kExperimentIds, 37, 45},
    {&apmpb::kMeasurementBundleType, MB::kChecksum, 38, 47},
    {&apmpb::kMeasurementBundleType, MB::kField50, 39, 50},
    {&apmpb::kMeasurementBundleType, MB::kConsentSignals, 40, 52},
    {&apmpb::kMeasurementBundleType, MB::kAppleConsentStatus, 41, 53},
    {&apmpb::kMeasurementBundleType, MB::kField55, 42, 55},
    {&apmpb::kMeasurementBundleType, MB::kSessionStitchingToken, 43, 63},
    {&apmpb::kMeasurementBundleType, MB::kRedactedFields, 44, 64},
    {&apmpb::kMeasurementBundleType, MB::kEphemeralAppInstanceId, 45, 65},
    {&apmpb::kMeasurementBundleType, MB::kField67, 46, 67},
    {&apmpb::kMeasurementBundleType, MB::kConsentDiagnostics, 47, 71},
    {&apmpb::kMeasurementBundleType, MB::kDmaRegion, 48, 72},
    {&apmpb::kMeasurementBundleType, MB::kCorePlatformServices, 49, 73},
    {&apmpb::kMeasurementBundleType, MB::kField75, 50, 75},
    {&apmpb::kMeasurementBundleType, MB::kDeliveryIndex, 51, 77},
    {&apmpb::kMeasurementBundleType, MB::kAdCampaignInfo, 52, 79},
    {&apmpb::kMeasurementBundleType, MB::kOnDeviceMeasurementInfo, 53, 84},
    {&apmpb::kMeasurementBundleType, MB::kConsentInfoExtra, 54, 86},
    {&apmpb::kMeasurementBundleType, MB::kLinkedFeatures, 55, 87},
    // Field numbers 12 and 13 are not used.
    {&apmpb::kMeasurementConfigType, apmpb::MeasurementConfig::kUploadSubdomain, 10, 11},
    {&apmpb::kMeasurementConfigType, apmpb::MeasurementConfig::kField14, 11, 14},
    {&apmpb::kMeasurementConfigType, apmpb::MeasurementConfig::kConsentConfig, 12, 15},
    {&apmpb::kMeasurementConfigType, apmpb::MeasurementConfig::kPsmSetting, 13, 16},
    {&apmpb::kMeasurementConfigType, apmpb::MeasurementConfig::kStgwSetting, 14, 17},
    {&apmpb::kMeasurementConfigType, apmpb::MeasurementConfig::kField18, 15, 18},
    // The filter flags sit at different tags in the two filter kinds.
    {&apmpb::kEventFilterType, apmpb::EventFilter::kSessionScoped, 7, 8},
    {&apmpb::kEventFilterType, apmpb::EventFilter::kDynamic, 5, 6},
    {&apmpb::kEventFilterType, apmpb::EventFilter::kSequence, 6, 7},
    {&apmpb::kPropertyFilterType, apmpb::PropertyFilter::kSessionScoped, 5, 6},
    {&apmpb::kPropertyFilterType, apmpb::PropertyFilter::kDynamic, 3, 4},
    {&apmpb::kPropertyFilterType, apmpb::PropertyFilter::kSequence, 4, 5},
    {&apmpb::kMeasurementBatchType, apmpb::MeasurementBatch::kUploadSubdomain, 2, 8},
};

TEST(MessageSlots, NamedSlotsFollowTheSchemasSlotAndTagTables) {
    int bundleRows = 0;
    for (const SlotRow& row : kSlotRows) {
        SCOPED_TRACE(std::string(row.type->name) + " slot " + std::to_string(row.slot));
        EXPECT_EQ(row.constant, row.slot);
        ASSERT_LT(static_cast<std::uint32_t>(row.slot), row.type->slotCount);
        EXPECT_EQ(row.type->tags[row.slot], row.tag);
        bundleRows += row.type == &apmpb::kMeasurementBundleType;
    }
    EXPECT_EQ(bundleRows, 56);
    EXPECT_EQ(apmpb::kMeasurementBundleType.slotCount, 56u);
}

TEST(MessageSlots, CodesHaveTheSchemasValues) {
    namespace Entity = apmpb::RuntimeEntity::Type;
    namespace Comparison = apmpb::NumberFilter::ComparisonType;
    namespace Match = apmpb::StringFilter::MatchType;
    namespace Consent = apmpb::ConsentType;
    namespace Status = apmpb::ConsentDefaultEntry::Status;
    const std::pair<std::uint32_t, std::uint32_t> codes[] = {
        {Entity::kString, 1},       {Entity::kNumber, 2},
        {Entity::kBoolean, 3},      {Entity::kStatement, 4},
        {Comparison::kLessThan, 1}, {Comparison::kGreaterThan, 2},
        {Comparison::kEqual, 3},    {Comparison::kBetween, 4},
        {Match::kRegexp, 1},        {Match::kBeginsWith, 2},
        {Match::kEndsWith, 3},      {Match::kPartial, 4},
        {Match::kExact, 5},         {Match::kInList, 6},
        {Consent::kAdStorage, 1},   {Consent::kAnalyticsStorage, 2},
        {Consent::kAdUserData, 3},  {Consent::kAdPersonalization, 4},
        {Status::kGranted, 1},      {Status::kDenied, 2},
    };
    for (const auto& [constant, code] : codes)
        EXPECT_EQ(constant, code);

    // protoc reads every code, named or not, and writes it back as the same bytes.
    APMPBConsentDelegationEntry entry;
    APMPBSetInt32(&entry, apmpb::ConsentDelegationEntry::kType, Consent::kAdUserData);
    APMPBSetInt32(&entry, apmpb::ConsentDelegationEntry::kDelegateType, 5);
    EXPECT_EQ(protoc("--decode=apmpb.ConsentDelegationEntry", asString(*entry.protoBuffer())),
              "type: 3\ndelegate_type: 5\n");
    APMPBConsentDefaultEntry defaults;
    APMPBSetInt32(&defaults, apmpb::ConsentDefaultEntry::kType, 5);
    APMPBSetInt32(&defaults, apmpb::ConsentDefaultEntry::kStatus, 3);
    EXPECT_EQ(protoc("--decode=apmpb.ConsentDefaultEntry", asString(*defaults.protoBuffer())),
              "type: 5\nstatus: 3\n");
}
