#include "sdk/measurement/script/APMPRuntimeEntityConverter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPRuntime.h"

namespace {

using namespace script_test;

class APMPPlainConversionTest : public ::testing::Test {
  protected:
    APMPRuntime runtime_;
    APMPScopeRef scope_ = runtime_.getRunScope();
};

TEST_F(APMPPlainConversionTest, PlainValuesBecomeRuntimeValues) {
    sdk::Value::Dictionary dictionary{{"n", 3},          {"d", 2.5},
                                      {"b", true},       {"s", "é"},
                                      {"null", nullptr}, {"list", sdk::Value::Array{1, "x"}}};
    sdk::Error error;
    const APMPValueRef map =
        APMPRuntimeEntityConverter::runtimeValueFromObject(sdk::Value(dictionary), *scope_, error);
    ASSERT_TRUE(error.ok()) << error.ToString();
    ASSERT_EQ(map->kind(), APMPValueKind::kMap);
    const auto& properties = static_cast<const APMPMapValue&>(*map).propertyMap();
    EXPECT_EQ(properties.valueForName(u"n")->kind(), APMPValueKind::kNumber);
    EXPECT_EQ(properties.valueForName(u"b"), APMPBoolean(true));
    EXPECT_EQ(properties.valueForName(u"s")->kind(), APMPValueKind::kString);
    EXPECT_EQ(StringOf(*properties.valueForName(u"s")), "é");
    EXPECT_EQ(properties.valueForName(u"null"), APMPNull());
    EXPECT_EQ(StringOf(*properties.valueForName(u"list")), "1,x");
    // Made values are tracked by the runtime.
    EXPECT_GE(runtime_.objectManager()->trackedObjects().size(), 3u);

    for (const sdk::Value& unsupported :
         {sdk::Value(sdk::Bytes{1}), sdk::Value(sdk::Value::Array{sdk::Bytes{}})}) {
        error = sdk::Error();
        EXPECT_EQ(APMPRuntimeEntityConverter::runtimeValueFromObject(unsupported, *scope_, error),
                  APMPUndefined());
        EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kUnsupportedObject));
    }
}

TEST_F(APMPPlainConversionTest, RuntimeValuesBecomePlainValues) {
    sdk::Error error;
    auto array = APMPObjectManager::arrayValueWithArray(
        {Num(1), APMPNull(), APMPUndefined(), Str("x")}, *scope_, error);
    ASSERT_TRUE(array->setLength(5).ok());
    auto map = APMPObjectManager::mapValueWithScope(*scope_);
    ASSERT_TRUE(map->propertyMap().setValue(APMPNull(), u"gone").ok());
    ASSERT_TRUE(map->propertyMap().setValue(array, u"list").ok());

    const struct {
        const char* label;
        APMPValueRef value;
        std::optional<sdk::Value> plain;
    } cases[] = {
        {"numeric string", Str("12"), sdk::Value(12.0)},
        {"other string", Str("x"), sdk::Value("x")},
        {"lone surrogate", APMPStringValue::make(std::u16string{u'a', char16_t{0xD800}}),
         sdk::Value("a\xEF\xBF\xBD")},
        {"true", APMPBoolean(true), sdk::Value(1.0)},
        {"undefined", APMPUndefined(), sdk::Value("")},
        {"null", APMPNull(), std::nullopt},
        {"NaN", Num(std::nan("")), sdk::Value("NaN")},
        {"function", APMPObjectManager::functionValue(u"f", {}, {}, scope_), sdk::Value("f")},
        {"map", map,
         sdk::Value(sdk::Value::Dictionary{{"list", sdk::Value::Array{1.0, "", "x", ""}}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        error = sdk::Error();
        EXPECT_EQ(APMPRuntimeEntityConverter::objectFromRuntimeValue(*c.value, error), c.plain);
        EXPECT_TRUE(error.ok()) << error.ToString();
    }

    // A structure that contains itself ends with error 18.
    ASSERT_TRUE(array->appendElements({array}).ok());
    EXPECT_EQ(APMPRuntimeEntityConverter::objectFromRuntimeValue(*array, error), std::nullopt);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));
}

}  // namespace
