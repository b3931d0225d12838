#include "sdk/measurement/audiences/APMStringFilterEvaluation.h"

#include <gtest/gtest.h>

#include "sdk/measurement/audiences/APMFilterEvaluation.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/audiences/AudienceTestSupport.h"

namespace {

using audiencetest::stringFilter;
using Codes = std::vector<std::int64_t>;

constexpr std::uint32_t kRegex = 1, kBegins = 2, kEnds = 3, kContains = 4, kExact = 5, kList = 6;

struct Case {
    std::uint32_t type;
    std::optional<std::string> expression;
    std::optional<bool> sensitive;
    std::string text;
    bool expected;
    std::vector<std::string> list = {};
};

TEST(APMStringFilterEvaluation, MatchesByTypeAndCase) {
    const Case cases[] = {
        {kExact, "foo", std::nullopt, "Foo", true},
        {kExact, "foo", false, "Foo", true},
        {kExact, "foo", true, "Foo", false},
        {kExact, "foo", true, "foo", true},
        {kExact, "foo", std::nullopt, "foot", false},
        // Folding makes both "strasse", but exact also needs equal lengths.
        {kExact, "straße", std::nullopt, "STRASSE", false},
        {kExact, "strasse", std::nullopt, "STRASSE", true},
        {kRegex, "b", std::nullopt, "abc", true},
        {kRegex, "^b", std::nullopt, "abc", false},
        {kRegex, "B", std::nullopt, "abc", true},
        {kRegex, "B", true, "abc", false},
        {kBegins, "AB", std::nullopt, "abc", true},
        {kBegins, "AB", true, "abc", false},
        {kBegins, "😀", std::nullopt, "😀x", true},
        {kBegins, "x", std::nullopt, "😀x", false},
        {kEnds, "x", std::nullopt, "😀x", true},
        {kEnds, "X", true, "😀x", false},
        {kEnds, "😀", std::nullopt, "😀x", false},
        {kContains, "X😀", std::nullopt, "ax😀b", true},
        {kContains, "X😀", true, "ax😀b", false},
        {kContains, "", true, "abc", false},
        {kBegins, "", std::nullopt, "abc", false},
        {kExact, "", std::nullopt, "", true},
        {kList, std::nullopt, std::nullopt, "Foo", true, {"bar", "foo"}},
        {kList, std::nullopt, true, "Foo", false, {"bar", "foo"}},
        {kList, std::nullopt, true, "foo", true, {"FOO", "foo", "x"}},
        {kList, std::nullopt, std::nullopt, "fo", false, {"foo"}},
        {7, "abc", std::nullopt, "abc", false},
    };
    sdktest::MonitorRecorder recorder;
    for (const Case& c : cases) {
        const APMPBStringFilter filter = stringFilter(c.type, c.expression, c.sensitive, c.list);
        EXPECT_EQ(APMEvaluateStringFilter(filter, c.text), c.expected)
            << "type " << c.type << " " << c.expression.value_or("<list>") << " vs " << c.text
            << " sensitive " << c.sensitive.value_or(false);
    }
    EXPECT_EQ(recorder.codes(), Codes{});
}

TEST(APMStringFilterEvaluation, InvalidFiltersAreLoggedTwice) {
    struct Invalid {
        APMPBStringFilter filter;
        Codes codes;
    };
    const Invalid cases[] = {
        {stringFilter(std::nullopt, "a"), {9000, 9006}},
        {stringFilter(0, "a"), {9001, 9006}},
        {stringFilter(kBegins, std::nullopt), {9002, 9006}},
        {stringFilter(kList, "a"), {9003, 9006}},
        {stringFilter(kRegex, "("), {9004, 9006}},
    };
    for (const Invalid& c : cases) {
        sdktest::MonitorRecorder recorder;
        EXPECT_EQ(APMEvaluateStringFilter(c.filter, "a"), std::nullopt);
        EXPECT_EQ(recorder.codes(), c.codes);
    }
    sdktest::MonitorRecorder recorder;
    EXPECT_FALSE(APMIsValidStringFilter(stringFilter(kRegex, "(")));
    ASSERT_EQ(recorder.messages().size(), 1u);
    const APMMonitorMessage message = recorder.messages()[0];
    EXPECT_EQ(message.message, "Unable to parse regular expression");
    ASSERT_EQ(message.contexts.size(), 2u);
    EXPECT_NE(message.contexts[0].description().find("expression=("), std::string::npos);
    EXPECT_EQ(message.contexts[1].description(), "U_REGEX_MISMATCHED_PAREN");
}

TEST(APMStringFilterEvaluation, NoTextGivesNoResult) {
    sdktest::MonitorRecorder recorder;
    EXPECT_EQ(APMEvaluateStringFilter(stringFilter(kExact, "a"), std::nullopt), std::nullopt);
    EXPECT_EQ(recorder.codes(), Codes{9005});
}

TEST(APMStringFilterEvaluation, AValidRegexIsHandedBackCompiled) {
    std::unique_ptr<icu::RegexPattern> regex;
    EXPECT_TRUE(APMIsValidStringFilterWithRegex(stringFilter(kRegex, "a+", true), &regex));
    ASSERT_TRUE(regex);
    EXPECT_EQ(regex->flags(), 0u);
}

TEST(APMFilterValue, AStringFilterTakesOnlyStrings) {
    const APMPBStringFilter exact = stringFilter(kExact, "5");
    sdktest::MonitorRecorder recorder;
    EXPECT_EQ(
        APMEvaluateFilterValue(audiencetest::stringFilterOf(exact), APMValue(std::int64_t{5})),
        std::nullopt);
    EXPECT_EQ(recorder.codes(), Codes{7003});
    EXPECT_EQ(APMEvaluateFilterValue(audiencetest::stringFilterOf(exact), APMValue("5")), true);
}

TEST(APMStringFilterEvaluation, ARunawayRegexGivesNoResultWithinItsWorkLimit) {
    // Nested quantifiers backtrack through every split of the a's before failing on the "!":
    // without a bound this takes longer than the age of the universe.
    sdktest::MonitorRecorder recorder;
    const APMPBStringFilter filter = stringFilter(kRegex, "^(a+)+$", true);
    EXPECT_EQ(APMEvaluateStringFilter(filter, std::string(60, 'a') + "!"), std::nullopt);
    ASSERT_EQ(recorder.codes(), Codes{9009});
    const APMMonitorMessage message = recorder.messages()[0];
    ASSERT_EQ(message.contexts.size(), 2u);
    EXPECT_NE(message.contexts[0].description().find("expression=^(a+)+$"), std::string::npos);
    EXPECT_EQ(message.contexts[1].description(), "U_REGEX_TIME_OUT");
    // The same expression still answers for text it settles quickly.
    sdktest::MonitorRecorder quiet;
    EXPECT_EQ(APMEvaluateStringFilter(filter, std::string(60, 'a')), true);
    EXPECT_EQ(APMEvaluateStringFilter(filter, "b"), false);
    EXPECT_EQ(quiet.codes(), Codes{});
}

}  // namespace
