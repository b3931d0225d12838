// The instruction budget pays for work, not only for evaluations: an operation that copies,
// scans, maps or matches in proportion to its operands costs steps in that proportion, so the
// budget bounds the time a program can take. Each row builds its operands, then measures the
// steps one operation costs.
#include <gtest/gtest.h>

#include <string>

#include "ProgramText.h"
#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPRuntime.h"

namespace {

using namespace script_test;

APMPValueRef RunProgram(APMPRuntime& runtime, const std::string& program, sdk::Error& error) {
    const auto entities = program_text::Entities(program);
    EXPECT_TRUE(entities) << program;
    return runtime.executeStatements(entities.value_or(APMPBRepeatedArray{}), error);
}

// Statements that make `name` a string of 8 * 2^doublings units "abcdefgh...".
std::string Doubled(const std::string& name, int doublings) {
    return "41(\"" + name + "\", \"i\") 3(\"" + name +
           "\", \"abcdefgh\") 3(\"i\", 0) 42(23(15(\"i\"), " + std::to_string(doublings) +
           "), 3(\"i\", 0(15(\"i\"), 1)), false, 46(3(\"" + name + "\", 0(15(\"" + name +
           "\"), 15(\"" + name + "\"))))) ";
}

// An array `a` of the numbers 0 .. count - 1.
std::string Numbers(int count) {
    return "52(\"a\", 7()) 41(\"i\") 3(\"i\", 0) 42(23(15(\"i\"), " + std::to_string(count) +
           "), 3(\"i\", 0(15(\"i\"), 1)), false, 46(2(15(\"a\"), \"push\", 7(15(\"i\"))))) ";
}

struct WorkRow {
    const char* name;
    std::string setup;
    std::string operation;
    // The fewest steps the operation may cost (its evaluations cost a handful).
    int atLeast;
};

TEST(APMPWorkBudget, OperationsPayForWhatTheyTouch) {
    const std::string hundredThousandSlots = R"(52("a", 7()) 43(15("a"), "length", 100000) )";
    const std::string megaUnits = Doubled("s", 17);  // 1,048,576 units
    const WorkRow rows[] = {
        {"slice copies every element", hundredThousandSlots, R"(2(15("a"), "slice", 7()))", 25000},
        {"concat copies every element", hundredThousandSlots, R"(2(15("a"), "concat", 7(44())))",
         25000},
        {"growing the length fills every slot", R"(52("a", 7()))",
         R"(43(15("a"), "length", 100000))", 25000},
        {"unshift moves every element", hundredThousandSlots, R"(2(15("a"), "unshift", 7(1)))",
         25000},
        {"reverse moves every element", hundredThousandSlots, R"(2(15("a"), "reverse", 7()))",
         25000},
        {"indexOf compares every element", Numbers(3200), R"(2(15("a"), "indexOf", 7("x")))", 100},
        {"sort compares and moves", Numbers(2048), R"(2(15("a"), "sort", 7()))", 11000},
        {"a callback is a step of its own", Numbers(1000),
         R"(2(15("a"), "forEach", 7(51("f", 7()))))", 3000},
        {"a for-in iteration is a step of its own", Numbers(1000), R"(47("k", 15("a"), 46()))",
         1000},
        {"toUpperCase maps every unit", megaUnits, R"(2(15("s"), "toUpperCase", 7()))", 100000},
        {"indexOf of one unit scans every unit", megaUnits, R"(2(15("s"), "indexOf", 7("z")))",
         8000},
        {"indexOf of two units scans every unit", megaUnits, R"(2(15("s"), "indexOf", 7("hz")))",
         60000},
        {"lastIndexOf scans every unit", megaUnits, R"(2(15("s"), "lastIndexOf", 7("hz")))", 60000},
        {"split makes every piece", Doubled("s", 12), R"(2(15("s"), "split", 7("")))", 32000},
        {"a regular expression reads every unit", megaUnits, R"(2(15("s"), "search", 7("z")))",
         60000},
        // Backtracking too short for ICU to report (under one tick), yet ~0.1 ms of work.
        {"a regular expression pays for the work ICU does not report", R"(52("s", "aaaaaaaaaa"))",
         R"(2(15("s"), "match", 7("(a+)+b")))", 500},
        {"comparing strings reads them",
         megaUnits + R"(52("t", 0(2(15("s"), "slice", 7(1)), "a")) )", R"(20(15("s"), 15("t")))",
         8000},
        {"concatenating copies", megaUnits, R"(0(15("s"), "!"))", 8000},
        {"joining visits every element", Numbers(3200), R"(2(15("a"), "join", 7()))", 100},
    };
    for (const WorkRow& row : rows) {
        SCOPED_TRACE(row.name);
        APMPRuntime runtime;
        sdk::Error error;
        RunProgram(runtime, row.setup, error);
        ASSERT_TRUE(error.ok()) << error.ToString();
        runtime.resetInstructionCount();
        RunProgram(runtime, row.operation, error);
        ASSERT_TRUE(error.ok()) << error.ToString();
        EXPECT_GE(runtime.getInstructionCount(error), row.atLeast);
    }
}

TEST(APMPWorkBudget, SmallOperationsCostAboutTheirEvaluations) {
    // Work is paid in fractions of a step: a short string method costs its evaluations.
    APMPRuntime runtime;
    sdk::Error error;
    EXPECT_EQ(StringOf(*RunProgram(runtime, R"(2("abc", "toUpperCase", 7()))", error)), "ABC");
    EXPECT_TRUE(error.ok());
    EXPECT_LE(runtime.getInstructionCount(error), 4);
}

TEST(APMPWorkBudget, TheBudgetEndsABacktrackingMatch) {
    // Matching pays its work as it goes; the budget ends it with error 18 (not the regular
    // expression engine's own time limit).
    APMPRuntime runtime;
    sdk::Error error;
    RunProgram(runtime, R"(2("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "match", 7("(a+)+b")))",
               error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded)) << error.ToString();
    EXPECT_EQ(runtime.getInstructionCount(error), 1000000);
}

TEST(APMPWorkBudget, AnOperationTheBudgetCannotPayForFailsBeforeItsWork) {
    // Half the budget spent, then a slice whose copy costs more than is left.
    APMPRuntime runtime;
    sdk::Error error;
    RunProgram(runtime, R"(52("a", 7()) 43(15("a"), "length", 1000000))", error);
    ASSERT_TRUE(error.ok()) << error.ToString();
    runtime.resetInstructionCount();
    RunProgram(runtime,
               R"(41("i") 3("i", 0) 42(23(15("i"), 80000), 3("i", 0(15("i"), 1)), false, 46()))",
               error);
    ASSERT_TRUE(error.ok());
    ASSERT_GT(runtime.getInstructionCount(error), 750000);
    RunProgram(runtime, R"(52("b", 2(15("a"), "slice", 7())) 1)", error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));
    EXPECT_FALSE(runtime.globalScope()->hasName(u"b"));
}

}  // namespace
