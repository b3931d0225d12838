#include "sdk/measurement/audiences/APMNumberFilterEvaluation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <variant>

#include "sdk/measurement/audiences/APMFilterEvaluation.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/audiences/AudienceTestSupport.h"

namespace {

using audiencetest::numberFilter;
using Codes = std::vector<std::int64_t>;

constexpr std::uint32_t kLess = 1, kGreater = 2, kEqual = 3, kBetween = 4;
const std::string k40Digits = "1234567890123456789012345678901234567891";

double stepsAbove(double value, int steps) {
    for (int i = 0; i < steps; ++i) {
        value = std::nextafter(value, std::numeric_limits<double>::infinity());
    }
    return value;
}

struct Case {
    const char* what;
    APMValue value;
    std::uint32_t type;
    std::optional<std::string> comparison;
    std::optional<std::string> minimum;
    std::optional<std::string> maximum;
    std::optional<bool> expected;
};

// Doubles, integers and numeric strings, each through the path its type takes.
TEST(APMNumberFilterEvaluation, ComparesEachValueKindByItsOwnRules) {
    const std::int64_t twoTo53 = std::int64_t{1} << 53;
    const Case cases[] = {
        {"0.1 + 0.2 is one step from 0.3", APMValue(0.1 + 0.2), kEqual, "0.3", {}, {}, true},
        {"two steps above 0.3", APMValue(stepsAbove(0.3, 2)), kEqual, "0.3", {}, {}, false},
        {"double less", APMValue(-3.5), kLess, "-2", {}, {}, true},
        {"double greater than .5", APMValue(0.6), kGreater, ".5", {}, {}, true},
        {"double below +7", APMValue(6.5), kLess, "+7", {}, {}, true},
        {"double equals 1.", APMValue(1.0), kEqual, "1.", {}, {}, true},
        {"double between -.5 and +.5", APMValue(-0.5), kBetween, {}, "-.5", "+.5", true},
        {"integer 2^53 + 1 is exact",
         APMValue(twoTo53 + 1),
         kEqual,
         "9007199254740992",
         {},
         {},
         false},
        {"integer 2^53", APMValue(twoTo53), kEqual, "9007199254740992", {}, {}, true},
        {"integer 7 is not below +7", APMValue(std::int64_t{7}), kLess, "+7", {}, {}, false},
        {"integer 1 equals 1.", APMValue(std::int64_t{1}), kEqual, "1.", {}, {}, true},
        {"string compares exactly",
         APMValue("9007199254740993"),
         kEqual,
         "9007199254740992",
         {},
         {},
         false},
        {"string .4 is not above .5", APMValue(".4"), kGreater, ".5", {}, {}, false},
        {"between 1 and 1 holds 1", APMValue(std::int64_t{1}), kBetween, {}, "1", "1", true},
        {"between 1 and 1 holds 1.0", APMValue("1.0"), kBetween, {}, "1", "1", true},
        {"between 1 and 1 holds the double 1", APMValue(1.0), kBetween, {}, "1", "1", true},
        {"between 1 and 1 not 2", APMValue(std::int64_t{2}), kBetween, {}, "1", "1", false},
        {"between 1 and 1 not 0.999", APMValue(0.999), kBetween, {}, "1", "1", false},
        {"minimum above maximum, int", APMValue(std::int64_t{3}), kBetween, {}, "5", "1", false},
        {"minimum above maximum, double", APMValue(3.0), kBetween, {}, "5", "1", false},
        {"40 digits as a double", APMValue(1e40), kGreater, k40Digits, {}, {}, true},
    };
    sdktest::MonitorRecorder recorder;
    for (const Case& c : cases) {
        const APMPBFilter filter =
            audiencetest::numberFilterOf(numberFilter(c.type, c.comparison, c.minimum, c.maximum));
        EXPECT_EQ(APMEvaluateFilterValue(filter, c.value), c.expected) << c.what;
    }
    EXPECT_EQ(recorder.codes(), Codes{});
}

TEST(APMNumberFilterEvaluation, AnInexactBoundGivesNoIntegerResult) {
    sdktest::MonitorRecorder recorder;
    EXPECT_EQ(APMEvaluateNumberFilterInt64(numberFilter(kGreater, k40Digits), 5), std::nullopt);
    EXPECT_EQ(recorder.codes(), (Codes{26003, 8002, 8015}));
    EXPECT_EQ(recorder.messages()[2].level, 1);
}

TEST(APMNumberFilterEvaluation, ABoundBeyondTheDoubleRangeGivesNoDoubleResult) {
    sdktest::MonitorRecorder recorder;
    const std::string huge = "1" + std::string(400, '0');
    EXPECT_EQ(APMEvaluateNumberFilterDouble(numberFilter(kLess, huge), 1.0), std::nullopt);
    EXPECT_EQ(APMEvaluateNumberFilterDouble(numberFilter(kBetween, {}, "0", huge), 1.0),
              std::nullopt);
    EXPECT_EQ(recorder.codes(), (Codes{8012, 8012}));
}

TEST(APMNumberFilterEvaluation, ValidityNamesEachFault) {
    struct Validity {
        APMPBNumberFilter filter;
        bool valid;
        Codes codes;
    };
    const Validity cases[] = {
        {numberFilter(std::nullopt, "1"), false, {8006}},
        {numberFilter(0, "1"), false, {8007}},
        {numberFilter(5, "1"), false, {8011}},
        {numberFilter(kLess, std::nullopt), false, {8008}},
        {numberFilter(kEqual, "1e5"), false, {8008}},
        {numberFilter(kBetween, "1"), false, {8009, 8010}},
        {numberFilter(kBetween, {}, "1", "x"), false, {8010}},
        {numberFilter(kBetween, {}, "5", "1"), true, {}},
        {numberFilter(kGreater, "-.5"), true, {}},
    };
    for (const Validity& c : cases) {
        sdktest::MonitorRecorder recorder;
        EXPECT_EQ(APMIsValidNumberFilter(c.filter), c.valid);
        EXPECT_EQ(recorder.codes(), c.codes);
    }
    // An invalid filter answers nothing and logs only its validity code.
    sdktest::MonitorRecorder recorder;
    EXPECT_EQ(APMEvaluateNumberFilterDouble(numberFilter(0, "1"), 1.0), std::nullopt);
    EXPECT_EQ(recorder.codes(), Codes{8007});
}

TEST(APMFilterValue, NumbersThatCannotBeComparedGiveNoResult) {
    const APMPBNumberFilter greater = numberFilter(kGreater, "1");
    struct NoResult {
        const char* what;
        APMPBFilter filter;
        APMValue value;
        Codes codes;
    };
    const NoResult cases[] = {
        {"NaN",
         audiencetest::numberFilterOf(greater),
         APMValue(std::numeric_limits<double>::quiet_NaN()),
         {7002}},
        {"infinity",
         audiencetest::numberFilterOf(greater),
         APMValue(-std::numeric_limits<double>::infinity()),
         {7002}},
        {"not a number", audiencetest::numberFilterOf(greater), APMValue("abc"), {7001}},
        {"complemented, still nothing",
         audiencetest::filterWith(&greater, nullptr, {}, true),
         APMValue("abc"),
         {7001}},
        {"no filter",
         audiencetest::filterWith(nullptr, nullptr),
         APMValue(std::int64_t{1}),
         {7000}},
    };
    for (const NoResult& c : cases) {
        sdktest::MonitorRecorder recorder;
        EXPECT_EQ(APMEvaluateFilterValue(c.filter, c.value), std::nullopt) << c.what;
        EXPECT_EQ(recorder.codes(), c.codes) << c.what;
    }
}

TEST(APMFilterValue, AComplementInvertsAResult) {
    const APMPBNumberFilter greater = numberFilter(kGreater, "1");
    const APMPBFilter complemented = audiencetest::filterWith(&greater, nullptr, {}, true);
    EXPECT_EQ(APMEvaluateFilterValue(complemented, APMValue(std::int64_t{2})), false);
    EXPECT_EQ(APMEvaluateFilterValue(complemented, APMValue(0.5)), true);
    EXPECT_EQ(APMEvaluateFilterValue(complemented, APMValue("1")), true);
}

TEST(APMFilterValue, ANumberFilterWinsOverAStringFilter) {
    const APMPBNumberFilter equalFive = numberFilter(kEqual, "5");
    const APMPBStringFilter exactSix = audiencetest::stringFilter(5, "6");
    const APMPBFilter both = audiencetest::filterWith(&equalFive, &exactSix);
    EXPECT_EQ(APMEvaluateFilterValue(both, APMValue("5")), true);
    EXPECT_EQ(APMEvaluateFilterValue(both, APMValue("6")), false);
}

}  // namespace
