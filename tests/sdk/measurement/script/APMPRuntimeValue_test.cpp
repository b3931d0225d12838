#include "sdk/measurement/script/APMPRuntimeValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPEquality.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPPrimitiveValues.h"
#include "sdk/measurement/script/APMPRuntime.h"

namespace {

using namespace script_test;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Every kind's string, number and boolean, and what "toString" and another method give.
TEST(APMPRuntimeValue, ConversionsOfEveryKind) {
    APMPRuntime runtime;
    const APMPScopeRef scope = runtime.getRunScope();
    auto array = APMPObjectManager::arrayValueWithScope(*scope);
    ASSERT_TRUE(array->appendElements({Num(1), Str("b")}).ok());
    auto map = APMPObjectManager::mapValueWithScope(*scope);
    auto function = APMPObjectManager::functionValue(u"f", {}, {}, scope);
    auto statement = Call(u"f", {});

    struct Case {
        const char* label;
        APMPValueRef value;
        std::string string;  // "<error N>" for a failing conversion
        double number;       // NaN compares as NaN
        bool boolean;
        std::int64_t toStringError;  // 0: "toString" gives the string
        std::int64_t otherMethodError;
    };
    const Case cases[] = {
        {"undefined", APMPUndefined(), "undefined", kNaN, false, 7, 7},
        {"null", APMPNull(), "null", 0, false, 7, 7},
        {"true", APMPBoolean(true), "true", 1, true, 0, 17},
        {"false", APMPBoolean(false), "false", 0, false, 0, 17},
        {"number", Num(2.5), "2.5", 2.5, true, 0, 17},
        {"zero", Num(0), "0", 0, false, 0, 17},
        {"NaN", Num(kNaN), "NaN", kNaN, false, 0, 17},
        {"string", Str(" 12 "), " 12 ", 12, true, 0, 17},
        {"empty string", Str(""), "", 0, false, 0, 17},
        {"array", array, "1,b", kNaN, true, 0, 17},
        {"map", map, "[object Object]", kNaN, true, 0, 17},
        {"function", function, "f", kNaN, true, 0, 17},
        {"statement", statement, "<error 5>", kNaN, false, 5, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(StringOf(*c.value), c.string);
        sdk::Error error;
        const double number = c.value->doubleValueOrError(error);
        if (std::isnan(c.number)) {
            EXPECT_TRUE(std::isnan(number));
        } else {
            EXPECT_EQ(number, c.number);
        }
        error = sdk::Error();
        EXPECT_EQ(c.value->booleanValueOrError(error), c.boolean);

        error = sdk::Error();
        const APMPValueRef text = c.value->applyWithName(u"toString", {}, scope, error);
        if (c.toStringError == 0) {
            ASSERT_TRUE(error.ok()) << error.ToString();
            EXPECT_EQ(StringOf(*text), c.string);
        } else {
            EXPECT_TRUE(error.is(kAPMPErrorDomain, c.toStringError)) << error.ToString();
            EXPECT_EQ(text, APMPUndefined());
        }
        error = sdk::Error();
        EXPECT_EQ(c.value->applyWithName(u"frobnicate", {}, scope, error), APMPUndefined());
        EXPECT_TRUE(error.is(kAPMPErrorDomain, c.otherMethodError)) << error.ToString();
    }
    // Only the values with no such conversion fail.
    sdk::Error error;
    statement->doubleValueOrError(error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kNoNumberValue));
    error = sdk::Error();
    statement->booleanValueOrError(error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kNoBooleanValue));
}

TEST(APMPRuntimeValue, NumbersPrintTheirShortestRoundTripText) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {1e21, "1e+21"},
        {1e-7, "1e-7"},
        {0.000001, "0.000001"},
        {1234567, "1234567"},
        {0.1 + 0.2, "0.30000000000000004"},
        {-0.0, "0"},
        {1.23e-18, "1.23e-18"},
        {-kInf, "-Infinity"},
        {kInf, "Infinity"},
        {kNaN, "NaN"},
        {1e20, "100000000000000000000"},
        {-1.5e300, "-1.5e+300"},
        {123.456, "123.456"},
        {-0.00001234, "-0.00001234"},
        {5e-324, "5e-324"},
        {4294967295, "4294967295"},
        {-42, "-42"},
        {9007199254740991, "9007199254740991"},
        {-9007199254740991, "-9007199254740991"},
        {9007199254740992, "9007199254740992"},
        {1152921504606846976, "1152921504606847000"},
        {123456789.5, "123456789.5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(APMPToUTF8(APMPNumberValue::stringFromDouble(c.value)), c.text) << c.text;
    }
}

TEST(APMPRuntimeValue, StringsReadAsNumbersOnlyWhenTheWholeTextIsOne) {
    const struct {
        const char16_t* text;
        double number;
    } cases[] = {
        {u" 12 ", 12},
        {u"12abc", kNaN},
        {u"", 0},
        {u" \t\n\u00a0\u2028\u0085", 0},
        {u"0x10", kNaN},
        {u"inf", kNaN},
        {u"nan", kNaN},
        {u"1e5", 100000},
        {u"+.5", 0.5},
        {u"-3.", -3},
        {u".", kNaN},
        {u"1e", kNaN},
        {u"NaN", kNaN},
        {u"Infinity", kInf},
        {u"-Infinity", -kInf},
        {u"+Infinity", kNaN},
        {u"1e400", kInf},
        {u"-1e400", -kInf},
        {u"1e-400", 0},
        {u"1,5", kNaN},
        {u"\uff11", kNaN},
    };
    for (const auto& c : cases) {
        const double number = APMPStringValue::numberFromString(c.text);
        const std::string label = APMPToUTF8(c.text);
        if (std::isnan(c.number)) {
            EXPECT_TRUE(std::isnan(number)) << label << " gave " << number;
        } else {
            EXPECT_EQ(number, c.number) << label;
        }
    }
}

TEST(APMPRuntimeValue, IntegerConversionsWrapAndSaturate) {
    EXPECT_EQ(APMPToInt32(4294967296.5), 0);
    EXPECT_EQ(APMPToInt32(-1), -1);
    EXPECT_EQ(APMPToUint32(-1), 4294967295u);
    EXPECT_EQ(APMPToInt32(kNaN), 0);
    EXPECT_EQ(APMPToUint32(kInf), 0u);
    EXPECT_EQ(APMPToInt32(2147483648.0), -2147483647 - 1);
    EXPECT_EQ(APMPToInt32(-4294967297.9), -1);
    EXPECT_EQ(APMPToInt32(1e300), 0);

    EXPECT_EQ(APMPToInteger(kNaN), 0);
    EXPECT_EQ(APMPToInteger(-2.7), -2);
    EXPECT_EQ(APMPToInteger(-kInf), -kInf);
    EXPECT_TRUE(std::signbit(APMPToInteger(-0.0)));
    EXPECT_EQ(APMPToInt64Saturating(1e300), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(APMPToInt64Saturating(-kInf), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(APMPToInt64Saturating(kNaN), 0);

    EXPECT_TRUE(APMPIsArrayIndex(*Num(3)));
    EXPECT_TRUE(APMPIsArrayIndex(*Str(" 7 ")));
    EXPECT_FALSE(APMPIsArrayIndex(*Num(2.5)));
    EXPECT_FALSE(APMPIsArrayIndex(*Num(-1)));
    EXPECT_FALSE(APMPIsArrayIndex(*Num(kInf)));
    EXPECT_FALSE(APMPIsArrayIndex(*APMPBoolean(true)));

    sdk::Error error;
    const APMPValueList two = {Num(1), Num(2)};
    EXPECT_TRUE(APMPCheckArgumentCountEquals(two, 2, error));
    EXPECT_TRUE(APMPCheckArgumentCountAtMost(two, 2, error));
    EXPECT_TRUE(error.ok());
    EXPECT_FALSE(APMPCheckArgumentCountAtLeast(two, 3, error));
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kArgumentCount));
}

TEST(APMPRuntimeValue, EqualitiesFollowTheirOwnRules) {
    APMPRuntime runtime;
    const APMPScopeRef scope = runtime.getRunScope();
    sdk::Error error;
    auto array = APMPObjectManager::arrayValueWithArray({Num(1), Num(2)}, *scope, error);
    auto sameArray = APMPObjectManager::arrayValueWithArray({Num(1), Num(2)}, *scope, error);
    auto map = APMPObjectManager::mapValueWithScope(*scope);
    ASSERT_TRUE(map->propertyMap().setValue(Num(1), u"a").ok());
    auto sameMap = APMPObjectManager::mapValueWithScope(*scope);
    ASSERT_TRUE(sameMap->propertyMap().setValue(Num(1), u"a").ok());
    const auto privateTrue = std::make_shared<APMPBooleanValue>(true);

    // Loose equality.
    EXPECT_TRUE(APMPLooseEquals(*APMPNull(), *APMPUndefined(), error));
    EXPECT_TRUE(APMPLooseEquals(*Str("1"), *Num(1), error));
    EXPECT_TRUE(APMPLooseEquals(*APMPBoolean(true), *Num(1), error));
    EXPECT_TRUE(APMPLooseEquals(*array, *Str("1,2"), error));
    EXPECT_TRUE(APMPLooseEquals(*Str("1,2"), *array, error));
    EXPECT_FALSE(APMPLooseEquals(*APMPNull(), *Num(0), error));
    EXPECT_FALSE(APMPLooseEquals(*array, *sameArray, error));
    EXPECT_FALSE(APMPLooseEquals(*Num(kNaN), *Num(kNaN), error));
    EXPECT_TRUE(error.ok());
    EXPECT_EQ(APMPLooseTypeRank(*map), 3);

    // Strict equality.
    EXPECT_FALSE(APMPStrictEquals(*Num(1), *APMPBoolean(true)));
    EXPECT_FALSE(APMPStrictEquals(*Num(kNaN), *Num(kNaN)));
    EXPECT_TRUE(APMPStrictEquals(*Str("a"), *Str("a")));
    EXPECT_TRUE(APMPStrictEquals(*privateTrue, *APMPBoolean(true)));
    EXPECT_FALSE(APMPStrictEquals(*array, *sameArray));
    EXPECT_TRUE(APMPStrictEquals(*array, *array));

    // Structural equality.
    EXPECT_TRUE(Num(kNaN)->isEqualToRuntimeValue(*Num(kNaN), error));
    EXPECT_TRUE(array->isEqualToRuntimeValue(*sameArray, error));
    EXPECT_TRUE(map->isEqualToRuntimeValue(*sameMap, error));
    EXPECT_FALSE(Num(1)->isEqualToRuntimeValue(*APMPBoolean(true), error));
    EXPECT_TRUE(Call(u"0", {Num(1)})->isEqualToRuntimeValue(*Call(u"0", {Num(1)}), error));
    EXPECT_FALSE(Call(u"0", {Num(1)})->isEqualToRuntimeValue(*Call(u"1", {Num(1)}), error));
    auto f = APMPObjectManager::functionValue(u"f", {}, {}, scope);
    auto g = APMPObjectManager::functionValue(u"f", {u"x"}, {}, scope);
    auto anonymous = APMPObjectManager::functionValue(u"", {}, {}, scope);
    auto otherAnonymous = APMPObjectManager::functionValue(u"", {}, {}, scope);
    EXPECT_TRUE(f->isEqualToRuntimeValue(*g, error));
    EXPECT_FALSE(anonymous->isEqualToRuntimeValue(*otherAnonymous, error));
    EXPECT_TRUE(error.ok());

    // A structure that contains itself ends with error 18 instead of exhausting the stack.
    auto cyclic = APMPObjectManager::arrayValueWithScope(*scope);
    auto otherCyclic = APMPObjectManager::arrayValueWithScope(*scope);
    ASSERT_TRUE(cyclic->appendElements({cyclic}).ok());
    ASSERT_TRUE(otherCyclic->appendElements({otherCyclic}).ok());
    EXPECT_FALSE(cyclic->isEqualToRuntimeValue(*otherCyclic, error));
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));
}

}  // namespace
