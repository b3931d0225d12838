// String methods whose results a conformance row cannot show: single UTF-16 units, errors of
// the regular-expression engine and the process's default locale.
#include "sdk/measurement/script/APMPStringCommandEvaluator.h"

#include <gtest/gtest.h>
#include <unicode/uloc.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "ProgramText.h"
#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "sdk/measurement/script/APMPStringValue.h"

namespace {

using namespace script_test;

APMPValueRef RunProgram(APMPRuntime& runtime, const std::string& program, sdk::Error& error) {
    const auto entities = program_text::Entities(program);
    EXPECT_TRUE(entities) << program;
    return runtime.executeStatements(entities.value_or(APMPBRepeatedArray{}), error);
}

std::u16string TextOf(const APMPValueRef& value) {
    EXPECT_EQ(value->kind(), APMPValueKind::kString);
    sdk::Error error;
    return value->stringValueOrError(error);
}

TEST(APMPStringMethods, IndexesCountUTF16UnitsAndMaySplitAPair) {
    APMPRuntime runtime;
    sdk::Error error;
    const APMPValueRef pieces = RunProgram(
        runtime,
        R"(7(2("😀", "charAt", 7(0)), 2("😀", "charAt", 7(1)), 2("a😀", "slice", 7(0, 2)), 2("😀", "split", 7(""))))",
        error);
    ASSERT_TRUE(error.ok());
    const APMPValueList elements = static_cast<const APMPArrayValue&>(*pieces).allElements();
    ASSERT_EQ(elements.size(), 4U);
    EXPECT_EQ(TextOf(elements[0]), std::u16string(1, char16_t{0xD83D}));
    EXPECT_EQ(TextOf(elements[1]), std::u16string(1, char16_t{0xDE00}));
    EXPECT_EQ(TextOf(elements[2]), (std::u16string{u'a', char16_t{0xD83D}}));
    const auto& split = static_cast<const APMPArrayValue&>(*elements[3]);
    ASSERT_EQ(split.count(), 2U);
    EXPECT_EQ(TextOf(split.elements()[1]), std::u16string(1, char16_t{0xDE00}));
}

TEST(APMPStringMethods, APatternThatDoesNotCompileFailsWithTheEnginesError) {
    for (const char* program : {R"(2("a(b", "match", 7("(")))", R"(2("a(b", "search", 7("[a")))"}) {
        APMPRuntime runtime;
        sdk::Error error;
        EXPECT_EQ(RunProgram(runtime, program, error), APMPUndefined()) << program;
        EXPECT_FALSE(error.ok()) << program;
        EXPECT_EQ(error.domain(), APMPStringCommandEvaluator::kICUErrorDomain) << program;
        EXPECT_NE(error.code(), 0) << program;
    }
}

TEST(APMPStringMethods, AMatchThatBacktracksWithoutEndStops) {
    APMPRuntime runtime;
    sdk::Error error;
    // 30 "a"s with no "b": the nested repetition tries every split of them.
    RunProgram(runtime, R"(2("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "search", 7("(a+)+b")))", error);
    // The match pays its work to the instruction budget, which ends it.
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded)) << error.ToString();
}

TEST(APMPStringMethods, LiteralSearchesFindWhatAUnitByUnitSearchFinds) {
    // Texts and needles over a few units, a lone surrogate among them, against every start
    // position: both directions, needles of one unit and of several, with and without partial
    // matches to fall back from.
    const std::u16string alphabet = {u'a', u'b', char16_t{0xD83D}};
    std::uint32_t seed = 1;
    const auto next = [&seed](std::size_t bound) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<std::size_t>((seed >> 16) % bound);
    };
    APMPRuntime runtime;
    const APMPScopeRef scope = runtime.getRunScope();
    const auto& strings = APMPStringCommandEvaluator::sharedInstance();
    for (int round = 0; round < 300; ++round) {
        std::u16string text(next(24), u'a');
        for (auto& unit : text) {
            unit = alphabet[next(alphabet.size())];
        }
        std::u16string needle(1 + next(4), u'a');
        for (auto& unit : needle) {
            unit = alphabet[next(alphabet.size())];
        }
        for (std::size_t from = 0; from <= text.size() + 1; ++from) {
            SCOPED_TRACE(testing::Message() << "round " << round << " from " << from);
            runtime.resetInstructionCount();
            sdk::Error error;
            const APMPValueRef forwards = strings.evaluateCommand(
                u"indexOf", text, {APMPStringValue::make(needle), Num(static_cast<double>(from))},
                scope, error);
            const APMPValueRef backwards = strings.evaluateCommand(
                u"lastIndexOf", text,
                {APMPStringValue::make(needle), Num(static_cast<double>(from))}, scope, error);
            ASSERT_TRUE(error.ok()) << error.ToString();
            const std::size_t first = text.find(needle, std::min(from, text.size()));
            const std::size_t last = text.rfind(needle, from);
            EXPECT_EQ(StringOf(*forwards),
                      first == std::u16string::npos ? "-1" : std::to_string(first));
            EXPECT_EQ(StringOf(*backwards),
                      last == std::u16string::npos ? "-1" : std::to_string(last));
        }
    }
}

// Sets ICU's default locale for the test and restores it afterwards.
class DefaultLocale {
  public:
    explicit DefaultLocale(const char* locale) : saved_(uloc_getDefault()) {
        UErrorCode status = U_ZERO_ERROR;
        uloc_setDefault(locale, &status);
        EXPECT_TRUE(U_SUCCESS(status));
    }
    ~DefaultLocale() {
        UErrorCode status = U_ZERO_ERROR;
        uloc_setDefault(saved_.c_str(), &status);
    }

  private:
    std::string saved_;
};

TEST(APMPStringMethods, OnlyTheLocaleFormsFollowTheDefaultLocale) {
    const DefaultLocale turkish("tr_TR");
    APMPRuntime runtime;
    sdk::Error error;
    const APMPValueRef mapped = RunProgram(
        runtime,
        R"(7(2("i", "toLocaleUpperCase", 7()), 2("i", "toUpperCase", 7()), 2("I", "toLocaleLowerCase", 7()), 2("I", "toLowerCase", 7())))",
        error);
    ASSERT_TRUE(error.ok());
    EXPECT_EQ(StringOf(*mapped), "İ,I,ı,i");
}

TEST(APMPStringMethods, ResultsPastTheMemoryCapFail) {
    APMPRuntime runtime;
    sdk::Error error;
    // 2^22 units of "ß" (8 MiB) upper-case to 2^23 units (16 MiB), within the cap.
    const APMPValueRef upper = RunProgram(
        runtime,
        R"(41("s", "i") 3("s", "ß") 3("i", 0) 42(23(15("i"), 22), 44(), false, 46(3("s", 2(15("s"), "concat", 7(15("s")))), 3("i", 0(15("i"), 1)))) 3("s", 2(15("s"), "toUpperCase", 7())) 16(15("s"), "length"))",
        error);
    ASSERT_TRUE(error.ok());
    EXPECT_EQ(StringOf(*upper), "8388608");
    // Four copies of it would reach the cap on their own.
    EXPECT_EQ(RunProgram(runtime, R"(2(15("s"), "concat", 7(15("s"), 15("s"), 15("s"))))", error),
              APMPUndefined());
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));
}

}  // namespace
