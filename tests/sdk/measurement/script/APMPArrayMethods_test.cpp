// Sorting with comparators that no sort can trust: each one must leave the receiver holding a
// permutation of the elements it had when the sort began, and report its error, if any.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ProgramText.h"
#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPRuntime.h"

namespace {

using namespace script_test;

APMPValueRef RunProgram(APMPRuntime& runtime, const std::string& program, sdk::Error& error) {
    const auto entities = program_text::Entities(program);
    EXPECT_TRUE(entities) << program;
    return runtime.executeStatements(entities.value_or(APMPBRepeatedArray{}), error);
}

// The elements by identity, in a canonical order.
std::vector<const APMPRuntimeValue*> Identities(const APMPArrayValue& array) {
    std::vector<const APMPRuntimeValue*> out;
    for (const auto& element : array.elements()) {
        out.push_back(element.get());
    }
    std::sort(out.begin(), out.end(), std::less<>());
    return out;
}

struct HostileComparator {
    const char* name;
    std::string setup;  // declares "cmp", a comparator; "a" is declared before
    int errorCode;      // 0: the sort succeeds
};

class HostileSort : public testing::TestWithParam<HostileComparator> {};

TEST_P(HostileSort, LeavesAPermutation) {
    const HostileComparator& row = GetParam();
    APMPRuntime runtime;
    sdk::Error error;
    // Numbers with duplicates, a string, undefined and a hole at index 13.
    const APMPValueRef value = RunProgram(
        runtime,
        R"(52("a", 7(5, 3, "x", 9, 1, 44(), 7, 3, 2, 8, 6, 4, 0)) 43(15("a"), 14, 10) 15("a"))",
        error);
    ASSERT_TRUE(error.ok());
    ASSERT_EQ(value->kind(), APMPValueKind::kArray);
    const auto& array = static_cast<const APMPArrayValue&>(*value);
    const auto before = Identities(array);
    ASSERT_EQ(before.size(), 15U);

    RunProgram(runtime, row.setup, error);
    ASSERT_TRUE(error.ok()) << row.name;
    const APMPValueRef result = RunProgram(runtime, R"(2(15("a"), "sort", 7(15("cmp"))))", error);
    if (row.errorCode == 0) {
        EXPECT_TRUE(error.ok()) << row.name;
        EXPECT_EQ(result, value);
        // Holes still sort last whatever the comparator answers (after an error every pair is
        // equal, so this holds only for a sort that ends well).
        EXPECT_EQ(array.elements().back(), APMPArrayValue::emptyValue()) << row.name;
    } else {
        EXPECT_EQ(error.code(), row.errorCode) << row.name;
        EXPECT_EQ(result, APMPUndefined());
    }
    EXPECT_EQ(Identities(array), before) << row.name;
}

const HostileComparator kComparators[] = {
    {"random",
     R"(41("s") 3("s", 7) 41("cmp") 3("cmp", 51("cmp", 7(), 3("s", 25(0(26(15("s"), 75), 74), 65537)), 37(25(15("s"), 3), 1))))",
     0},
    {"always_one", R"(41("cmp") 3("cmp", 51("cmp", 7(), 1)))", 0},
    {"always_minus_one", R"(41("cmp") 3("cmp", 51("cmp", 7(), -1)))", 0},
    {"nan", R"(41("cmp") 3("cmp", 51("cmp", 7(), NaN)))", 0},
    {"pushes_and_pops",
     R"(41("cmp") 3("cmp", 51("cmp", 7("x", "y"), 2(15("a"), "push", 7(99)), 2(15("a"), "pop", 7()), 37(15("x"), 15("y")))))",
     0},
    {"empties_the_array",
     R"(41("cmp") 3("cmp", 51("cmp", 7(), 43(15("a"), "length", 0), 2(15("a"), "unshift", 7(1, 2)), -1)))",
     0},
    {"fails_on_its_fifth_call",
     R"(41("c", "cmp") 3("c", 0) 3("cmp", 51("cmp", 7(), 3("c", 0(15("c"), 1)), 22(20(15("c"), 5), 46(3("undeclared", 1))), 1)))",
     2},
    {"loops_for_ever", R"(41("cmp") 3("cmp", 51("cmp", 7(), 42(true, 44(), false, 46()))))", 18},
};

INSTANTIATE_TEST_SUITE_P(Comparators, HostileSort, testing::ValuesIn(kComparators),
                         [](const testing::TestParamInfo<HostileComparator>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
