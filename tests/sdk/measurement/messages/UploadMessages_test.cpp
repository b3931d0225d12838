// Upload messages built and read through the named slots, checked against protoc: field names,
// field order, the bundle's own slot map, array parameters and fields that are only carried.
#include <gtest/gtest.h>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;

namespace {

namespace MB = apmpb::MeasurementBundle;
namespace EP = apmpb::EventParam;

using Element = std::shared_ptr<NANOMessageBase>;

Element param(const char* name, const sdk::Value& value) {
    auto p = std::make_shared<APMPBEventParam>();
    if (name != nullptr)
        APMPBSetString(p.get(), EP::kName, name);
    if (const std::string* text = value.string()) {
        APMPBSetString(p.get(), EP::kStringValue, *text);
    } else if (value.isDouble()) {
        APMPBSetDouble(p.get(), EP::kDoubleValue, *value.doubleValue());
    } else {
        APMPBSetInt64(p.get(), EP::kIntValue, *value.numberAsInt());
    }
    return p;
}

// An array parameter: one named parameter whose items are unnamed parameters, each holding the
// item's own parameters.
Element arrayParam(const char* name, const std::vector<APMPBRepeatedArray>& items) {
    auto p = std::make_shared<APMPBEventParam>();
    APMPBSetString(p.get(), EP::kName, name);
    APMPBRepeatedArray values;
    for (const APMPBRepeatedArray& itemParams : items) {
        auto item = std::make_shared<APMPBEventParam>();
        APMPBSetRepeated(item.get(), EP::kParamValue, itemParams);
        values.emplace_back(item);
    }
    APMPBSetRepeated(p.get(), EP::kParamValue, values);
    return p;
}

std::vector<APMPBRepeatedArray> threeItems() {
    return {{param("item_id", "SKU_1"), param("price", 9.5)},
            {param("item_id", "SKU_2"), param("quantity", 2)},
            {param("item_id", "SKU_3")}};
}

Element event(const char* name, std::int64_t millis, APMPBRepeatedArray params) {
    namespace E = apmpb::Event;
    auto e = std::make_shared<APMPBEvent>();
    APMPBSetString(e.get(), E::kName, name);
    APMPBSetInt64(e.get(), E::kTimestampMillis, millis);
    APMPBSetInt64(e.get(), E::kPreviousTimestampMillis, millis - 60000);
    APMPBSetRepeated(e.get(), E::kParams, params);
    return e;
}

Element userAttribute(const char* name, const sdk::Value& value) {
    namespace U = apmpb::UserAttribute;
    auto a = std::make_shared<APMPBUserAttribute>();
    APMPBSetInt64(a.get(), U::kSetTimestampMillis, 1700000000000);
    APMPBSetString(a.get(), U::kName, name);
    if (const std::string* text = value.string()) {
        APMPBSetString(a.get(), U::kStringValue, *text);
    } else if (value.isDouble()) {
        APMPBSetDouble(a.get(), U::kDoubleValue, *value.doubleValue());
    } else {
        APMPBSetInt64(a.get(), U::kIntValue, *value.numberAsInt());
    }
    return a;
}

APMPBResultData resultData(std::uint64_t status, std::uint64_t results) {
    namespace R = apmpb::ResultData;
    APMPBResultData data;
    APMPBSetRepeated(&data, R::kStatus, APMPBRepeatedArray{sdk::Value(status)});
    APMPBSetRepeated(&data, R::kResults, APMPBRepeatedArray{sdk::Value(results)});
    auto dynamic = std::make_shared<APMPBDynamicFilterResultTimestamp>();
    APMPBSetInt32(dynamic.get(), apmpb::DynamicFilterResultTimestamp::kFilterId, 1);
    APMPBSetInt64(dynamic.get(), apmpb::DynamicFilterResultTimestamp::kTimestamp, 1700000001000);
    APMPBSetRepeated(&data, R::kDynamicFilterTimestamps, APMPBRepeatedArray{dynamic});
    namespace S = apmpb::SequenceFilterResultTimestamp;
    auto sequence = std::make_shared<APMPBSequenceFilterResultTimestamp>();
    APMPBSetInt32(sequence.get(), S::kFilterId, 3);
    APMPBSetRepeated(sequence.get(), S::kEvalTimestamps,
                     APMPBRepeatedArray{sdk::Value(1700000002000), sdk::Value(1700000003000)});
    APMPBSetRepeated(&data, R::kSequenceFilterTimestamps, APMPBRepeatedArray{sequence});
    return data;
}

Element audienceResult() {
    namespace A = apmpb::AudienceLeafFilterResult;
    auto result = std::make_shared<APMPBAudienceLeafFilterResult>();
    APMPBSetInt32(result.get(), A::kAudienceId, 42);
    const APMPBResultData current = resultData(0b1011, 0b0001);
    const APMPBResultData previous = resultData(0b0011, 0b0011);
    APMPBSetMessage(result.get(), A::kCurrentData, &current);
    APMPBSetMessage(result.get(), A::kPreviousData, &previous);
    APMPBSetBool(result.get(), A::kNewAudience, false);
    return result;
}

APMPBAdCampaignInfo campaign() {
    namespace C = apmpb::AdCampaignInfo;
    APMPBAdCampaignInfo info;
    APMPBSetString(&info, C::kVclid, "vclid-1");
    APMPBSetString(&info, C::kCadSource, "newsletter");
    APMPBSetInt64(&info, C::kClickTimestampMillis, 1699999990000);
    APMPBRepeatedArray params;
    for (const auto& [key, value] : {std::pair{"cad_medium", "email"}, {"cad_term", "disks"}}) {
        auto entry = std::make_shared<APMPBDeepLinkCadParamsEntry>();
        APMPBSetString(entry.get(), apmpb::DeepLinkCadParamsEntry::kKey, key);
        APMPBSetString(entry.get(), apmpb::DeepLinkCadParamsEntry::kValue, value);
        params.emplace_back(entry);
    }
    APMPBSetRepeated(&info, C::kDeepLinkCadParams, params);
    return info;
}

APMPBOnDeviceMeasurementInfo onDeviceValues() {
    namespace O = apmpb::OnDeviceMeasurementInfo;
    APMPBOnDeviceMeasurementInfo info;
    for (auto [slot, text] : {std::pair{O::kOdm1Value, "hash-1"}, {O::kOdm2Value, "hash-2"}}) {
        APMPBOnDeviceMeasurementValue value;
        APMPBSetInt64(&value, apmpb::OnDeviceMeasurementValue::kSetTimestampMillis, 1699000000000);
        APMPBSetString(&value, apmpb::OnDeviceMeasurementValue::kValue, text);
        APMPBSetMessage(&info, slot, &value);
    }
    return info;
}

// A bundle with every field the system writes, in the order the engine's stages set them.
Element fullBundle() {
    auto b = std::make_shared<APMPBMeasurementBundle>();
    APMPBMeasurementBundle* m = b.get();
    APMPBSetInt32(m, MB::kProtocolVersion, 1);
    APMPBSetString(m, MB::kPlatform, "macos");
    APMPBSetString(m, MB::kOsVersion, "14.5");
    APMPBSetString(m, MB::kDeviceModel, "Mac14,2");
    APMPBSetString(m, MB::kUserDefaultLanguage, "en-us");
    APMPBSetInt32(m, MB::kTimezoneOffsetMinutes, static_cast<std::uint32_t>(-300));
    APMPBSetString(m, MB::kInstallSource, "manual_install");
    APMPBSetString(m, MB::kAppId, "1:123:macos:abc");
    APMPBSetString(m, MB::kAppVersion, "2.3.4");
    APMPBSetInt64(m, MB::kVudVersion, 111500);
    APMPBSetString(m, MB::kVendorDeviceId, "VENDOR-1");
    APMPBSetBool(m, MB::kLimitedAdTracking, true);
    APMPBSetString(m, MB::kAppInstanceId, "instance-1");
    APMPBSetString(m, MB::kVudAppId, "vud-app");
    APMPBSetString(m, MB::kRazudizoInstallationId, "install-1");
    APMPBSetInt32(m, MB::kAppVersionMajor, 2);
    APMPBSetInt32(m, MB::kAppVersionMinor, 3);
    APMPBSetInt32(m, MB::kAppVersionRelease, 4);
    APMPBSetString(m, MB::kConsentSignals, "G111");
    APMPBSetInt32(m, MB::kAppleConsentStatus, 0);
    APMPBSetString(m, MB::kSessionStitchingToken, "token-1");
    APMPBSetString(m, MB::kConsentDiagnostics, "19911");
    APMPBSetBool(m, MB::kDmaRegion, true);
    APMPBSetString(m, MB::kCorePlatformServices, "ab");
    APMPBSetInt32(m, MB::kLinkedFeatures, 3);
    const APMPBAdCampaignInfo info = campaign();
    APMPBSetMessage(m, MB::kAdCampaignInfo, &info);
    const APMPBOnDeviceMeasurementInfo odm = onDeviceValues();
    APMPBSetMessage(m, MB::kOnDeviceMeasurementInfo, &odm);
    APMPBSetRepeated(m, MB::kUserAttributes,
                     APMPBRepeatedArray{userAttribute("_npa", 0), userAttribute("tier", "gold"),
                                        userAttribute("score", 0.75)});

    APMPBSetRepeated(
        m, MB::kEvents,
        APMPBRepeatedArray{event("_s", 1700000100000, {param("_o", "auto"), param("_sid", 7)}),
                           event("purchase", 1700000200000,
                                 {param("value", 19.99), arrayParam("items", threeItems())})});
    APMPBSetInt64(m, MB::kStartTimestampMillis, 1700000100000);
    APMPBSetInt64(m, MB::kEndTimestampMillis, 1700000200000);
    APMPBSetInt64(m, MB::kPreviousBundleStartTimestampMillis, 1690000000000);
    APMPBSetInt64(m, MB::kPreviousBundleEndTimestampMillis, 1690000100000);
    APMPBSetInt32(m, MB::kBundleIndex, 12);
    APMPBSetString(m, MB::kMonitoringData, "sample");
    APMPBSetRepeated(m, MB::kAudienceEvaluationResults, APMPBRepeatedArray{audienceResult()});
    APMPBSetInt64(m, MB::kConfigVersion, 5);
    APMPBSetRepeated(m, MB::kExperimentIds, APMPBRepeatedArray{sdk::Value(101), sdk::Value(102)});
    APMPBSetInt32(m, MB::kDeliveryIndex, 3);

    APMPBSetInt32(m, MB::kRetryCount, 1);
    APMPBSetInt64(m, MB::kUploadTimestampMillis, 1700000300000);
    APMPBSetInt64(m, MB::kUploadingVudVersion, 111500);
    APMPBSetRepeated(m, MB::kRedactedFields,
                     APMPBRepeatedArray{sdk::Value("device_model"), sdk::Value("app_instance_id")});
    APMPBSetString(m, MB::kEphemeralAppInstanceId, "ephemeral-1");
    APMPBSetInt64(m, MB::kChecksum, -4242);
    return b;
}

// A second bundle of the same batch with the advertising identifier instead of the vendor's.
Element smallBundle() {
    auto b = std::make_shared<APMPBMeasurementBundle>();
    APMPBSetInt32(b.get(), MB::kProtocolVersion, 1);
    APMPBSetString(b.get(), MB::kAppId, "1:123:macos:abc");
    APMPBSetString(b.get(), MB::kResettableDeviceId, "AD-ID-1");
    APMPBSetInt64(b.get(), MB::kEndTimestampMillis, 1700000400000);
    APMPBSetRepeated(b.get(), MB::kEvents,
                     APMPBRepeatedArray{event("_e", 1700000400000, {param("_et", 1500)})});
    return b;
}

}  // namespace

TEST(UploadMessages, BatchOfTwoBundlesReadsInProtocUnderTheSchemasNames) {
    APMPBMeasurementBatch batch;
    APMPBSetRepeated(&batch, apmpb::MeasurementBatch::kBundles,
                     APMPBRepeatedArray{fullBundle(), smallBundle()});
    APMPBSetString(&batch, apmpb::MeasurementBatch::kUploadSubdomain, "stgw");
    const auto bytes = batch.protoBuffer();
    ASSERT_TRUE(bytes);

    const std::string expected = golden("batch_two_bundles.txt");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(protoc("--decode=apmpb.MeasurementBatch", asString(*bytes)), expected);
    EXPECT_EQ(protoc("--encode=apmpb.MeasurementBatch", expected), asString(*bytes));

    // Read back by slot: the bundle's own map holds on the way in as on the way out.
    const auto decoded = APMPBMeasurementBatch::initWithBuffer(*bytes);
    ASSERT_TRUE(decoded);
    const auto bundles =
        APMPBGetRepeated<APMPBMeasurementBundle>(decoded.get(), apmpb::MeasurementBatch::kBundles);
    ASSERT_TRUE(bundles && bundles->size() == 2);
    const NANOMessageBase* first = std::get<1>((*bundles)[0]).get();
    EXPECT_EQ(APMPBGetString(first, MB::kVendorDeviceId), "VENDOR-1");
    EXPECT_EQ(APMPBGetInt64(first, MB::kPreviousBundleStartTimestampMillis), 1690000000000);
    EXPECT_EQ(APMPBGetInt32(first, MB::kRetryCount), 1u);
    EXPECT_EQ(static_cast<std::int32_t>(APMPBGetInt32(first, MB::kTimezoneOffsetMinutes)), -300);
}

TEST(UploadMessages, BundleFieldsGoOutByNumberWhateverTheirSlots) {
    APMPBMeasurementBundle bundle;
    APMPBSetString(&bundle, MB::kAppId, "1:123:macos:abc");
    APMPBSetInt64(&bundle, MB::kEndTimestampMillis, 1700000000000);
    EXPECT_EQ(protoc("--decode=apmpb.MeasurementBundle", asString(*bundle.protoBuffer())),
              "end_timestamp_millis: 1700000000000\napp_id: \"1:123:macos:abc\"\n");

    // Slot 20 is field 27, slot 21 field 20; slot 6 is field 26.
    APMPBMeasurementBundle ids;
    APMPBSetString(&ids, MB::kVendorDeviceId, "VENDOR-1");
    APMPBSetBool(&ids, MB::kLimitedAdTracking, false);
    APMPBSetInt64(&ids, MB::kPreviousBundleStartTimestampMillis, 5);
    EXPECT_EQ(protoc("--decode=apmpb.MeasurementBundle", asString(*ids.protoBuffer())),
              "limited_ad_tracking: false\nprevious_bundle_start_timestamp_millis: 5\n"
              "vendor_device_id: \"VENDOR-1\"\n");
    EXPECT_EQ(protoc("--decode_raw", asString(*ids.protoBuffer())),
              "20: 0\n26: 5\n27: \"VENDOR-1\"\n");
}

TEST(UploadMessages, ArrayParameterIsOneNamedParamWithAnUnnamedEntryPerItem) {
    APMPBEvent e;
    APMPBSetRepeated(&e, apmpb::Event::kParams,
                     APMPBRepeatedArray{arrayParam("items", threeItems())});
    EXPECT_EQ(protoc("--decode=apmpb.Event", asString(*e.protoBuffer())),
              "params {\n"
              "  name: \"items\"\n"
              "  param_value {\n"
              "    param_value {\n      name: \"item_id\"\n      string_value: \"SKU_1\"\n    }\n"
              "    param_value {\n      name: \"price\"\n      double_value: 9.5\n    }\n"
              "  }\n"
              "  param_value {\n"
              "    param_value {\n      name: \"item_id\"\n      string_value: \"SKU_2\"\n    }\n"
              "    param_value {\n      name: \"quantity\"\n      int_value: 2\n    }\n"
              "  }\n"
              "  param_value {\n"
              "    param_value {\n      name: \"item_id\"\n      string_value: \"SKU_3\"\n    }\n"
              "  }\n"
              "}\n");
}

// Fields the system never writes survive a decode, a copy and an encode byte for byte.
TEST(UploadMessages, FieldsThatAreOnlyCarriedSurviveDecodeCopyAndEncode) {
    const std::string bytes =
        protoc("--encode=apmpb.MeasurementBatch", golden("batch_carried.txt"));
    ASSERT_EQ(bytes.find("<protoc failed>"), std::string::npos) << bytes;
    const auto decoded = APMPBMeasurementBatch::initWithBuffer(asBytes(bytes));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->protoBuffer(), asBytes(bytes));
    const APMPBMeasurementBatch copy(*decoded);
    EXPECT_EQ(copy.protoBuffer(), asBytes(bytes));

    const auto bundles =
        APMPBGetRepeated<APMPBMeasurementBundle>(decoded.get(), apmpb::MeasurementBatch::kBundles);
    ASSERT_TRUE(bundles && bundles->size() == 1);
    const NANOMessageBase* bundle = std::get<1>((*bundles)[0]).get();
    EXPECT_EQ(APMPBGetInt64(bundle, MB::kField15), -15);
    EXPECT_EQ(APMPBGetString(bundle, MB::kField75), "seventy-five");
    EXPECT_TRUE(APMPBHasField(bundle, MB::kConsentInfoExtra));
}
