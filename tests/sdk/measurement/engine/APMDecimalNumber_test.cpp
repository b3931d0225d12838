#include "sdk/measurement/engine/APMDecimalNumber.h"

#include <gtest/gtest.h>

#include <set>

#include "sdk/measurement/engine/APMNumericUtil.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/APMDecimalNumberTesting.h"

namespace {

TEST(APMDecimalNumber, DecimalStringsAreWholeMatches) {
    for (const char* yes : {"1.", ".5", "-0.25", "+7", "007", "0", "-.5", "12345678901234567890"}) {
        EXPECT_TRUE(APMIsDecimalNumberString(yes)) << yes;
    }
    for (const char* no : {"1e5", "", ".", "+", "1.2.3", " 1", "1 ", "0x10", "--1", "1,5", "١"}) {
        EXPECT_FALSE(APMIsDecimalNumberString(no)) << no;
    }
}

TEST(APMDecimalNumber, ExactValuesAndTheirTextForms) {
    struct Case {
        const char* text;
        const char* stringValue;
    };
    const Case cases[] = {
        {"1.", "1"},
        {".5", "0.5"},
        {"-0.25", "-0.25"},
        {"+7", "7"},
        {"007.500", "7.5"},
        {"-0", "0"},
        {"1200", "1200"},
        {"-.05", "-0.05"},
        {"0.000", "0"},
        {"99999999999999999999999999999999999999", "99999999999999999999999999999999999999"},
    };
    sdktest::MonitorRecorder recorder;
    for (const Case& c : cases) {
        const std::optional<APMDecimalNumber> number = APMDecimalNumberFromString(c.text);
        ASSERT_TRUE(number) << c.text;
        EXPECT_EQ(number->stringValue(), c.stringValue) << c.text;
    }
    EXPECT_TRUE(recorder.codes().empty());
}

TEST(APMDecimalNumber, RefusalsNameTheirReason) {
    sdktest::MonitorRecorder recorder;
    EXPECT_FALSE(APMDecimalNumberFromString("1e5"));
    // 40 significant digits, in the integer part and in the fraction (where the kept digits
    // still read as a part of the text).
    EXPECT_FALSE(APMDecimalNumberFromString("1234567890123456789012345678901234567891"));
    EXPECT_FALSE(APMDecimalNumberFromString("0.1234567890123456789012345678901234567891"));
    // Outside the exponent range.
    EXPECT_FALSE(APMDecimalNumberFromString("0." + std::string(200, '0') + "1"));
    EXPECT_EQ(recorder.codes(), (std::vector<std::int64_t>{26001, 26003, 26003, 26002}));
    EXPECT_EQ(recorder.messages()[0].message,
              "String value does not represent a numeric value. Value");
    EXPECT_EQ(recorder.messages()[0].contexts[0].description(), "1e5");
    EXPECT_EQ(recorder.messages()[0].level, 2);
}

TEST(APMDecimalNumber, OrdersByValue) {
    const auto d = [](const char* text) { return *APMDecimalNumber::parse(text); };
    EXPECT_LT(d("-2"), d("-1.5"));
    EXPECT_LT(d("-1.5"), d("0"));
    EXPECT_LT(d("0"), d("0.001"));
    EXPECT_LT(d("0.001"), d("1"));
    EXPECT_LT(d("99.9"), d("100"));
    EXPECT_LT(d("1.05"), d("1.5"));
    EXPECT_EQ(d("1.50"), d("1.5"));
    EXPECT_EQ(d("-0"), d("0"));
    EXPECT_GT(d("1000000000000000000000"), d("999999999999999999999.9"));
}

TEST(APMDecimalNumber, IntegersConvertExactly) {
    const auto d = [](const char* text) { return *APMDecimalNumber::parse(text); };
    EXPECT_EQ(APMDecimalNumber::fromInt64(INT64_MIN).stringValue(), "-9223372036854775808");
    EXPECT_EQ(APMDecimalNumber::fromInt64(INT64_MAX).stringValue(), "9223372036854775807");
    EXPECT_EQ(APMDecimalNumber::fromInt64(-1200), d("-1200.0"));
    EXPECT_TRUE(APMDecimalNumber::fromInt64(0).isZero());
    // One above 2^53, where a double would round to 2^53.
    EXPECT_GT(APMDecimalNumber::fromInt64(9007199254740993), d("9007199254740992"));
}

TEST(APMDecimalNumber, AnUncompilableExpressionIsReportedAndRetried) {
    sdktest::MonitorRecorder recorder;
    TEST_setDecimalNumberPattern("([0-9]");
    EXPECT_FALSE(APMIsDecimalNumberString("1"));
    EXPECT_FALSE(APMIsDecimalNumberString("1"));
    EXPECT_EQ(recorder.codes(), (std::vector<std::int64_t>{26000, 26000})) << "tried each call";
    EXPECT_EQ(recorder.messages()[0].contexts[0].description(), "([0-9]");
    TEST_setDecimalNumberPattern(std::nullopt);
    EXPECT_TRUE(APMIsDecimalNumberString("1"));
}

TEST(APMNumericUtil, RandomIntegersVary) {
    std::set<std::int64_t> seen;
    for (int i = 0; i < 8; ++i) {
        seen.insert(APMNumericUtil::randomInt64());
    }
    EXPECT_GT(seen.size(), 1u);
}

}  // namespace
