// Values, events and user attributes: conversion of raw values, the event's flags as reserved
// parameters, copies, screen parameters, and the wire forms read back with protoc.
#include <gtest/gtest.h>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"

namespace {

namespace E = apmpb::Event;
namespace EP = apmpb::EventParam;
using messages_test::asString;
using messages_test::protoc;

const APMParameterLimits kLimits{100, 27, 500};

APMEvent makeEvent(const char* name, APMRawParameters parameters, bool isPublic = false) {
    auto event =
        APMEvent::initWithOrigin("app", isPublic, name, 1700000000.5, 0, parameters, kLimits);
    EXPECT_TRUE(event.has_value()) << name;
    return event.value_or(*APMEvent::initWithOrigin("app", false, "_e", 1, 0, {}, kLimits));
}

std::string decodeEvent(const APMPBEvent& proto) {
    const auto bytes = proto.protoBuffer();
    EXPECT_TRUE(bytes.has_value());
    return protoc("--decode=apmpb.Event", asString(bytes.value_or(sdk::Bytes{})));
}

TEST(APMValueTest, RawValuesConvertByKind) {
    sdktest::MonitorRecorder recorder;
    const sdk::Value yes(true), no(false), integer(42), real(2.5), text("t");
    const sdk::Value array(sdk::Value::Array{sdk::Value::Dictionary{{"a", 1}}});
    EXPECT_EQ(APMValue::valueFromObject(&yes), APMValue(std::int64_t{1}));
    EXPECT_EQ(APMValue::valueFromObject(&no), APMValue(std::int64_t{0}));
    EXPECT_EQ(APMValue::valueFromObject(&integer), APMValue(std::int64_t{42}));
    EXPECT_EQ(APMValue::valueFromObject(&real), APMValue(2.5));
    EXPECT_EQ(APMValue::valueFromObject(&text), APMValue("t"));
    EXPECT_EQ(APMValue::valueFromObject(&array, true)->valueType(), APMValue::Type::kArray);
    EXPECT_TRUE(recorder.codes().empty());

    const sdk::Value null, bytes(sdk::Bytes{1}), dictionary(sdk::Value::Dictionary{});
    for (const sdk::Value* refused : {&array, &null, &bytes, &dictionary})
        EXPECT_FALSE(APMValue::valueFromObject(refused).has_value());
    EXPECT_FALSE(APMValue::valueFromObject(nullptr).has_value());
    EXPECT_EQ(recorder.codes(), (std::vector<std::int64_t>{35001, 35001, 35001, 35001, 35000}));

    // Readers of another type give neutral values.
    EXPECT_EQ(APMValue("t").int64Value(), 0);
    EXPECT_EQ(APMValue(2.5).stringValue(), nullptr);
    EXPECT_NE(APMValue(std::int64_t{1}), APMValue(1.0));
}

TEST(APMEventTest, MadeOnlyWithValidOriginAndName) {
    sdktest::MonitorRecorder recorder;
    EXPECT_TRUE(APMEvent::initWithOrigin("app+tgw", false, "_e", 1, 0, {}, kLimits));
    EXPECT_TRUE(APMEvent::initWithOrigin("auto", false, "_e", 1, 0, {}, kLimits));
    EXPECT_FALSE(APMEvent::initWithOrigin("a-b", false, "_e", 1, 0, {}, kLimits));
    EXPECT_FALSE(APMEvent::initWithOrigin("a-b+tgw", false, "_e", 1, 0, {}, kLimits));
    EXPECT_FALSE(APMEvent::initWithOrigin("app", true, "_e", 1, 0, {}, kLimits));
    EXPECT_FALSE(APMEvent::initWithOrigin("app", true, "app_remove", 1, 0, {}, kLimits));
    recorder.clear();

    auto late = APMEvent::initWithOrigin("app", false, "_e", 10, 20, {{"_o", "other"}}, kLimits);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->previousTimestamp(), 20);
    EXPECT_TRUE(recorder.saw(16002));
    EXPECT_EQ(late->parameters().at("_o"), APMValue("app"));  // the origin wins
}

TEST(APMEventTest, FlagsAreReservedParameters) {
    APMEvent plain = makeEvent("level_up", {{"score", 1}});
    plain.setConversion(false, kLimits);
    EXPECT_EQ(plain.parameters().count("_err"), 0u);  // not a conversion: nothing changes

    APMEvent conversion = makeEvent("purchase", {{"value", 9.99}, {"currency", "EUR"}});
    conversion.setConversion(true, kLimits);
    EXPECT_TRUE(conversion.isConversion());
    conversion.setConversion(false, kLimits);
    EXPECT_FALSE(conversion.isConversion());
    EXPECT_EQ(conversion.parameters().at("_err"), APMValue(std::int64_t{10}));
    conversion.setConversion(true, kLimits);  // back on: its own error 10 goes
    EXPECT_EQ(conversion.parameters().count("_err"), 0u);

    APMEvent marked = makeEvent("purchase", {{"_err", APMValue(std::int64_t{3})}, {"_c", 1}});
    marked.setConversion(false, kLimits);
    EXPECT_EQ(marked.parameters().at("_err"), APMValue(std::int64_t{3}));  // first error kept

    // A value without a currency cannot be a conversion.
    APMEvent noCurrency = makeEvent("purchase", {{"value", 9.99}});
    noCurrency.setConversion(true, kLimits);
    EXPECT_FALSE(noCurrency.isConversion());
    EXPECT_EQ(noCurrency.parameters().at("_err"), APMValue(std::int64_t{19}));

    sdktest::MonitorRecorder recorder;
    APMEvent realtime = makeEvent("_e", {{"_r", "yes"}});
    EXPECT_FALSE(realtime.isRealtime());
    EXPECT_TRUE(recorder.saw(16006));
    realtime.setRealtime(true);
    realtime.setDebug(true);
    EXPECT_TRUE(realtime.isRealtime() && realtime.isDebug());
    realtime.setDebug(false);
    EXPECT_EQ(realtime.parameters().count("_dbg"), 0u);
}

TEST(APMEventTest, AppliedAndScreenParametersNeverOverride) {
    APMEvent event = makeEvent("level_up", {{"score", 1}});
    event.applyParameters({{"score", 2}, {"level", 3}}, true, kLimits);
    EXPECT_EQ(event.parameters().at("score"), APMValue(std::int64_t{1}));
    EXPECT_EQ(event.parameters().at("level"), APMValue(std::int64_t{3}));

    sdktest::MonitorRecorder recorder;
    EXPECT_FALSE(event.addScreenParameters({{"_sc", "Main"}}, 500));  // no "_si"
    EXPECT_FALSE(event.addScreenParameters({{"_si", 7}, {"_sn", ""}}, 500));
    EXPECT_TRUE(recorder.saw(16004));
    EXPECT_TRUE(event.addScreenParameters({{"_si", 7}, {"_sc", APMValue("Main")}}, 500));
    EXPECT_EQ(event.parameters().at("_si"), APMValue(std::int64_t{7}));
    EXPECT_EQ(event.parameters().at("_sc"), APMValue("Main"));
    const APMParameters before = event.parameters();
    EXPECT_FALSE(event.addScreenParameters({{"_si", 8}}, 500));
    EXPECT_EQ(event.parameters(), before);
}

TEST(APMEventTest, ProtoEventDecodesWithProtoc) {
    const sdk::Value::Array items{sdk::Value::Dictionary{{"item_id", "A"}, {"price", 1.5}}};
    APMEvent event = makeEvent(
        "purchase", {{"b_real", 2.5}, {"a_int", 7}, {"c_text", "x"}, {"items", sdk::Value(items)}});
    EXPECT_EQ(decodeEvent(event.protoEvent()),
              "params {\n  name: \"_o\"\n  string_value: \"app\"\n}\n"
              "params {\n  name: \"a_int\"\n  int_value: 7\n}\n"
              "params {\n  name: \"b_real\"\n  double_value: 2.5\n}\n"
              "params {\n  name: \"c_text\"\n  string_value: \"x\"\n}\n"
              "params {\n  name: \"items\"\n  param_value {\n    param_value {\n"
              "      name: \"item_id\"\n      string_value: \"A\"\n    }\n"
              "    param_value {\n      name: \"price\"\n      double_value: 1.5\n    }\n"
              "  }\n}\n"
              "name: \"purchase\"\ntimestamp_millis: 1700000000500\n");
    auto withPrevious = event.copyWithPreviousTimestamp(1699999999.9996, kLimits);
    ASSERT_TRUE(withPrevious);
    EXPECT_NE(
        decodeEvent(withPrevious->protoEvent()).find("previous_timestamp_millis: 1699999999999\n"),
        std::string::npos);
}

TEST(APMEventTest, ValuesTheWireCannotCarryAreLeftOut) {
    // Array values made directly skip the cleaning; encoding still refuses what it cannot carry.
    const sdk::Value::Array items{
        sdk::Value::Dictionary{{"item_id", "A"}, {"nested", sdk::Value::Array{1}}}, "not an item"};
    APMEvent event = makeEvent("purchase", {{"items", APMValue(items)}});
    sdktest::MonitorRecorder recorder;
    const std::string text = decodeEvent(event.protoEvent());
    EXPECT_EQ(recorder.codes(), (std::vector<std::int64_t>{16007, 16005}));
    EXPECT_NE(text.find("name: \"items\"\n  param_value {\n    param_value {\n"
                        "      name: \"item_id\"\n      string_value: \"A\"\n    }\n  }\n}"),
              std::string::npos)
        << text;
}

TEST(APMEventTest, EventFromProto) {
    APMPBEvent proto = makeEvent("_e", {{"n", 4}, {"s", "t"}, {"d", 0.5}}).protoEvent();
    auto back = APMEvent::initWithEventProto(proto, kLimits);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->origin(), "app");
    EXPECT_EQ(back->timestamp(), 1700000000.5);
    EXPECT_EQ(back->parameters(), makeEvent("_e", {{"n", 4}, {"s", "t"}, {"d", 0.5}}).parameters());

    sdktest::MonitorRecorder recorder;
    auto params = APMPBGetRepeated<APMPBEventParam>(&proto, E::kParams).value();
    auto floatParam = std::make_shared<APMPBEventParam>();
    APMPBSetString(floatParam.get(), EP::kName, "f");
    APMPBSetFloat(floatParam.get(), EP::kFloatValue, 1.0f);
    params.emplace_back(floatParam);
    APMPBSetRepeated(&proto, E::kParams, params);
    auto withFloat = APMEvent::initWithEventProto(proto, kLimits);
    ASSERT_TRUE(withFloat);
    EXPECT_EQ(withFloat->parameters().count("f"), 0u);
    EXPECT_TRUE(recorder.saw(15002));

    auto numericOrigin = std::make_shared<APMPBEventParam>();
    APMPBSetString(numericOrigin.get(), EP::kName, "_o");
    APMPBSetInt64(numericOrigin.get(), EP::kIntValue, 1);
    APMPBSetRepeated(&proto, E::kParams, APMPBRepeatedArray{numericOrigin});
    EXPECT_FALSE(APMEvent::initWithEventProto(proto, kLimits));
    EXPECT_TRUE(recorder.saw(15001));
}

TEST(APMUserAttributeTest, RulesAndWireForm) {
    EXPECT_FALSE(APMUserAttribute::initWithOrigin("app", "a-b", APMValue("x"), 1));
    EXPECT_FALSE(APMUserAttribute::initWithOrigin("app", "_u", APMValue(""), 1));
    auto attribute =
        APMUserAttribute::initWithOrigin("app", "_fot", APMValue(std::int64_t{5}), 1700000000.1239);
    ASSERT_TRUE(attribute);
    EXPECT_FALSE(attribute->isPublic());
    const auto bytes = attribute->protoUserAttribute().protoBuffer();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(protoc("--decode=apmpb.UserAttribute", asString(*bytes)),
              "set_timestamp_millis: 1700000000123\nname: \"_fot\"\nint_value: 5\n");
}

}  // namespace
