// The language conformance table: every row of conformance/*.txt is one test. A row is
//
//   name | program | expected [| steps N]
//
// with the program in the compact text form (ProgramText.h) and the expected result one of
// "undefined", "null", "<kind> <string of the value>" (kinds: boolean, number, string, array,
// map, function), "break", "continue", "return <string of the data>" or "error <code>" (the
// script runtime's error domain). "steps N" also checks the instructions the run spent. Lines
// that are empty or start with '#' are skipped.
//
// Each row is encoded as a Program message, decoded again, and its top-level statements run
// in a fresh runtime, the path a program from the remote configuration takes.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "ConformanceRows.h"
#include "ProgramText.h"
#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPControlValue.h"
#include "sdk/measurement/script/APMPRuntime.h"

namespace {

using namespace script_test;

struct Row {
    std::string location;  // file:line, for failure messages
    std::string name;      // the test name: the file's stem and the row's name
    std::string program;
    std::string expected;
    std::optional<std::int32_t> steps;
    std::string problem;  // set when the row does not parse
};

// Keeps ctest's listing readable: a row prints as its place in the table.
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.location;
}

Row parseRow(const std::string& stem, const std::string& location, const std::string& line) {
    Row row;
    row.location = location;
    const auto parts = conformance::Columns(line);
    if (parts.size() < 3 || parts.size() > 4) {
        row.name = stem + "_line_" + location.substr(location.rfind(':') + 1);
        row.problem = "a row has 3 or 4 columns separated by \" | \"";
        return row;
    }
    row.name = stem + "_" + parts[0];
    row.program = parts[1];
    row.expected = parts[2];
    if (parts.size() == 4) {
        if (parts[3].rfind("steps ", 0) != 0) {
            row.problem = "the fourth column is \"steps N\"";
        } else {
            row.steps = std::stoi(parts[3].substr(6));
        }
    }
    return row;
}

std::vector<Row> loadRows() {
    std::vector<Row> rows;
    for (const auto& line : conformance::Lines(SCRIPT_CONFORMANCE_DIR)) {
        rows.push_back(parseRow(line.stem, line.location, line.text));
    }
    return rows;
}

const char* kindName(APMPValueKind kind) {
    switch (kind) {
        case APMPValueKind::kBoolean:
            return "boolean";
        case APMPValueKind::kNumber:
            return "number";
        case APMPValueKind::kString:
            return "string";
        case APMPValueKind::kArray:
            return "array";
        case APMPValueKind::kMap:
            return "map";
        case APMPValueKind::kFunction:
            return "function";
        default:
            return "other";
    }
}

std::string describe(const APMPRuntimeValue& value) {
    switch (value.kind()) {
        case APMPValueKind::kUndefined:
            return "undefined";
        case APMPValueKind::kNull:
            return "null";
        case APMPValueKind::kControl: {
            const auto& control = static_cast<const APMPControlValue&>(value);
            switch (control.type()) {
                case APMPControlType::kBreak:
                    return "break";
                case APMPControlType::kContinue:
                    return "continue";
                case APMPControlType::kReturn:
                    return "return " + StringOf(*control.data());
            }
            return "control";
        }
        default:
            return std::string(kindName(value.kind())) + " " + StringOf(value);
    }
}

class ScriptConformance : public testing::TestWithParam<Row> {};

TEST_P(ScriptConformance, Row) {
    const Row& row = GetParam();
    SCOPED_TRACE(row.location);
    ASSERT_TRUE(row.problem.empty()) << row.problem;
    std::string problem;
    ASSERT_TRUE(program_text::Entities(row.program, &problem)) << problem;
    const auto bytes = program_text::Program(row.program)->protoBuffer();
    ASSERT_TRUE(bytes);
    const auto decoded = APMPBProgram::initWithBuffer(std::span(*bytes));
    ASSERT_TRUE(decoded);
    const auto statements =
        APMPBGetRepeated<APMPBRuntimeEntity>(decoded.get(), apmpb::Program::kInstructions);

    APMPRuntime runtime;
    sdk::Error error;
    const APMPValueRef result =
        runtime.executeStatements(statements.value_or(APMPBRepeatedArray{}), error);
    if (error.ok()) {
        EXPECT_EQ(describe(*result), row.expected);
    } else {
        EXPECT_EQ(error.domain(), kAPMPErrorDomain);
        EXPECT_EQ("error " + std::to_string(error.code()), row.expected);
        EXPECT_EQ(result, APMPUndefined());
    }
    if (row.steps) {
        sdk::Error countError;
        EXPECT_EQ(runtime.getInstructionCount(countError), *row.steps);
    }
}

INSTANTIATE_TEST_SUITE_P(Language, ScriptConformance, testing::ValuesIn(loadRows()),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
