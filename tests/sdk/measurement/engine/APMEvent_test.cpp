// Values and events, and the event's round trip through its wire message.
#include "sdk/measurement/engine/APMEvent.h"

#include <gtest/gtest.h>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

std::shared_ptr<APMPBEventParam> param(const std::string& name) {
    auto p = std::make_shared<APMPBEventParam>();
    APMPBSetString(p.get(), apmpb::EventParam::kName, name);
    return p;
}

std::vector<std::shared_ptr<NANOMessageBase>> params(const NANOMessageBase* message,
                                                     std::int32_t fieldID) {
    std::vector<std::shared_ptr<NANOMessageBase>> out;
    const auto elements = APMPBGetRepeated<APMPBEventParam>(message, fieldID);
    for (const auto& element : elements.value()) {
        out.push_back(std::get<std::shared_ptr<NANOMessageBase>>(element));
    }
    return out;
}

TEST(APMValue, ObjectsBecomeTypedValuesOrNothing) {
    sdktest::MonitorRecorder monitor;
    EXPECT_EQ(APMValue::valueFromObject(sdk::Value("a")), APMValue::initWithString("a"));
    EXPECT_EQ(APMValue::valueFromObject(sdk::Value(2.5)), APMValue::initWithDouble(2.5));
    EXPECT_EQ(APMValue::valueFromObject(sdk::Value(7)), APMValue::initWithInt64(7));
    EXPECT_EQ(APMValue::valueFromObject(sdk::Value(true)), APMValue::initWithInt64(1));
    EXPECT_FALSE(APMValue::initWithDouble(1).isString());
    EXPECT_EQ(APMValue::initWithDouble(1).int64Value(), 0) << "wrong type reads 0";
    EXPECT_NE(APMValue::initWithDouble(1), APMValue::initWithInt64(1));
    EXPECT_TRUE(monitor.codes().empty());

    EXPECT_EQ(APMValue::valueFromObject(sdk::Value()), std::nullopt);
    EXPECT_EQ(APMValue::valueFromObject(sdk::Value(sdk::Bytes{1})), std::nullopt);
    EXPECT_EQ(monitor.codes(), (std::vector<std::int64_t>{35000, 35001}));
}

TEST(APMEvent, NeedsOriginAndNameAndCarriesTheOriginAsParameter) {
    EXPECT_FALSE(APMEvent::initWithOrigin("", false, "e", 1, 0, {}));
    EXPECT_FALSE(APMEvent::initWithOrigin("app", false, "", 1, 0, {}));

    sdktest::MonitorRecorder monitor;
    auto event = APMEvent::initWithOrigin("app", true, "e", 10.5, 0,
                                          {{"_o", APMValue::initWithString("other")}});
    ASSERT_TRUE(event);
    const auto proto = event->protoEvent();
    EXPECT_EQ(APMPBGetString(proto.get(), apmpb::Event::kName), "e");
    EXPECT_EQ(APMPBGetInt64(proto.get(), apmpb::Event::kTimestampMillis), 10500);
    EXPECT_FALSE(APMPBHasField(proto.get(), apmpb::Event::kPreviousTimestampMillis));
    const auto encoded = params(proto.get(), apmpb::Event::kParams);
    ASSERT_EQ(encoded.size(), 1u);
    EXPECT_EQ(APMPBGetString(encoded[0].get(), apmpb::EventParam::kStringValue), "app");

    // A previous time after the time is kept and reported.
    auto late = APMEvent::initWithOrigin("app", false, "e", 1, 2, {});
    ASSERT_TRUE(late);
    EXPECT_EQ(APMPBGetInt64(late->protoEvent().get(), apmpb::Event::kPreviousTimestampMillis),
              2000);
    EXPECT_TRUE(monitor.saw(16002));
}

TEST(APMEvent, ArraysAreEncodedOneLevelDeep) {
    sdktest::MonitorRecorder monitor;
    APMParameters item{{"id", APMValue::initWithString("x")},
                       {"deeper", APMValue::initWithArray({{}})}};
    auto event = APMEvent::initWithOrigin("app", false, "e", 1, 0,
                                          {{"items", APMValue::initWithArray({item, item})}});
    ASSERT_TRUE(event);
    const auto proto = event->protoEvent();
    const auto top = params(proto.get(), apmpb::Event::kParams);
    ASSERT_EQ(top.size(), 2u);  // "_o", "items"
    EXPECT_EQ(APMPBGetString(top[1].get(), apmpb::EventParam::kName), "items");
    const auto elements = params(top[1].get(), apmpb::EventParam::kParamValue);
    ASSERT_EQ(elements.size(), 2u);
    EXPECT_FALSE(APMPBHasField(elements[0].get(), apmpb::EventParam::kName));
    const auto fields = params(elements[0].get(), apmpb::EventParam::kParamValue);
    ASSERT_EQ(fields.size(), 1u) << "the array inside the item is dropped";
    EXPECT_EQ(APMPBGetString(fields[0].get(), apmpb::EventParam::kName), "id");
    EXPECT_EQ(monitor.codes(), (std::vector<std::int64_t>{16007, 16007}));
}

TEST(APMEvent, ReadsBackFromItsWireMessage) {
    sdktest::MonitorRecorder monitor;
    auto event = APMEvent::initWithOrigin("auto", false, "e", 100.25, 50,
                                          {{"s", APMValue::initWithString("v")},
                                           {"i", APMValue::initWithInt64(-3)},
                                           {"d", APMValue::initWithDouble(0.5)},
                                           {"_r", APMValue::initWithInt64(1)}});
    ASSERT_TRUE(event);
    auto proto = event->protoEvent();
    // Float values and nameless parameters are not read back.
    auto floatParam = param("f");
    APMPBSetFloat(floatParam.get(), apmpb::EventParam::kFloatValue, 1.5f);
    auto unnamed = std::make_shared<APMPBEventParam>();
    APMPBSetInt64(unnamed.get(), apmpb::EventParam::kIntValue, 1);
    auto all = *APMPBGetRepeated<APMPBEventParam>(proto.get(), apmpb::Event::kParams);
    all.emplace_back(floatParam);
    all.emplace_back(unnamed);
    APMPBSetRepeated(proto.get(), apmpb::Event::kParams, all);

    auto back = APMEvent::initWithEventProto(*proto);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name(), "e");
    EXPECT_EQ(back->timestamp(), 100.25);
    EXPECT_TRUE(back->isRealtime());
    EXPECT_EQ(back->protoEvent()->protoBuffer(), event->protoEvent()->protoBuffer());
    EXPECT_EQ(monitor.codes(), (std::vector<std::int64_t>{15002, 15000}));

    // "_o" must be a string, and must be there.
    auto numericOrigin = std::make_unique<APMPBEvent>();
    auto origin = param("_o");
    APMPBSetInt64(origin.get(), apmpb::EventParam::kIntValue, 1);
    APMPBSetRepeated(numericOrigin.get(), apmpb::Event::kParams, APMPBRepeatedArray{origin});
    APMPBSetString(numericOrigin.get(), apmpb::Event::kName, "e");
    EXPECT_FALSE(APMEvent::initWithEventProto(*numericOrigin));
    EXPECT_TRUE(monitor.saw(15001));
    APMPBSetRepeated(numericOrigin.get(), apmpb::Event::kParams, APMPBRepeatedArray{});
    EXPECT_FALSE(APMEvent::initWithEventProto(*numericOrigin));
}

TEST(APMEvent, RealtimeFlagMustBeAnInteger) {
    sdktest::MonitorRecorder monitor;
    auto text =
        APMEvent::initWithOrigin("app", false, "e", 1, 0, {{"_r", APMValue::initWithString("1")}});
    auto two =
        APMEvent::initWithOrigin("app", false, "e", 1, 0, {{"_r", APMValue::initWithInt64(2)}});
    EXPECT_FALSE(text->isRealtime());
    EXPECT_FALSE(two->isRealtime());
    EXPECT_EQ(monitor.codes(), std::vector<std::int64_t>{16006});
}

}  // namespace
