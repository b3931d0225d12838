// The event-editing conformance table: every row of editing/*.txt is one test. A row is
//
//   name | program | event | expected
//
// The program is in the compact text form (ProgramText.h), activities after " || ". The event
// is JSON, {"name": ..., "ts": ..., "params": {...}}, and "-" stands for the default event
// below; a JSON integer is an integer parameter and a number with a point or an exponent a
// double. The expectation is a JSON object whose keys are each checked when present:
//   "load"     "editing N" or "pixie N": loading fails so (no event runs); absent: it loads
//   "result"   what handleEvent() answers
//   "error"    "editing N" or "pixie N" set by handleEvent(); absent: none
//   "edits"    hasEdits()
//   "out"      the output event, {"name": ..., "params": {...}}
//   "created"  the created events, [{"name": ..., "ts": ..., "params": {...}}, ...]
//   "monitor"  the monitor messages of the run, [[code, level], ...]
//
// Each program is encoded as a Program message and decoded again, then loaded into a fresh
// editing instance whose host modules are the stand-ins of EditingTestSupport.h.
#include <gtest/gtest.h>

#include <ostream>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ConformanceRows.h"
#include "EditingTestSupport.h"
#include "ProgramText.h"
#include "sdk/measurement/script/APMPEditingError.h"
#include "sdk/measurement/script/APMPError.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

using nlohmann::json;

constexpr const char* kDefaultEvent =
    R"({"name": "purchase", "ts": 1700000000.5,
        "params": {"i": 2, "d": 2.5, "s": "x", "_i": 5}})";

struct Row {
    std::string location;
    std::string name;
    std::string program;
    std::string event;
    std::string expected;
    std::string problem;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.location;
}

Row parseRow(const std::string& stem, const std::string& location, const std::string& line) {
    const auto parts = conformance::Columns(line);
    Row row;
    row.location = location;
    if (parts.size() != 4) {
        row.name = stem + "_line_" + location.substr(location.rfind(':') + 1);
        row.problem = "a row has 4 columns separated by \" | \"";
        return row;
    }
    row.name = stem + "_" + parts[0];
    row.program = parts[1];
    row.event = parts[2] == "-" ? kDefaultEvent : parts[2];
    row.expected = parts[3];
    return row;
}

std::vector<Row> loadRows() {
    std::vector<Row> rows;
    for (const auto& line : conformance::Lines(EDITING_CONFORMANCE_DIR)) {
        rows.push_back(parseRow(line.stem, line.location, line.text));
    }
    return rows;
}

sdk::Value valueFromJSON(const json& value) {
    switch (value.type()) {
        case json::value_t::number_integer:
        case json::value_t::number_unsigned:
            return sdk::Value(value.get<std::int64_t>());
        case json::value_t::number_float:
            return sdk::Value(value.get<double>());
        case json::value_t::string:
            return sdk::Value(value.get<std::string>());
        case json::value_t::boolean:
            return sdk::Value(value.get<bool>());
        default:
            return sdk::Value();
    }
}

json jsonFromValue(const sdk::Value& value) {
    if (const auto integer = value.intValue()) {
        return *integer;
    }
    if (const auto number = value.doubleValue()) {
        return *number;
    }
    if (const std::string* text = value.string()) {
        return *text;
    }
    return value.description();
}

json jsonFromParameters(const sdk::Value::Dictionary& parameters) {
    json object = json::object();
    for (const auto& [name, value] : parameters) {
        object[name] = jsonFromValue(value);
    }
    return object;
}

APMPEvent eventFromJSON(const json& event) {
    sdk::Value::Dictionary parameters;
    const json params = event.value("params", json::object());
    for (const auto& [name, value] : params.items()) {
        parameters.emplace(name, valueFromJSON(value));
    }
    return APMPEvent(event.at("name").get<std::string>(), event.at("ts").get<double>(),
                     std::move(parameters));
}

std::string describeError(const sdk::Error& error) {
    if (error.ok()) {
        return "none";
    }
    if (error.domain() == kAPMPEditingErrorDomain) {
        return "editing " + std::to_string(error.code());
    }
    if (error.domain() == kAPMPErrorDomain) {
        return "pixie " + std::to_string(error.code());
    }
    return error.ToString();
}

std::unique_ptr<APMPBProgram> decodedProgram(const std::string& text) {
    std::string problem;
    const auto program = program_text::Program(text, &problem);
    EXPECT_TRUE(program) << problem;
    if (!program) {
        return nullptr;
    }
    const auto bytes = program->protoBuffer();
    return bytes ? APMPBProgram::initWithBuffer(std::span(*bytes)) : nullptr;
}

class EditingConformance : public testing::TestWithParam<Row> {};

TEST_P(EditingConformance, Row) {
    const Row& row = GetParam();
    SCOPED_TRACE(row.location);
    ASSERT_TRUE(row.problem.empty()) << row.problem;
    const json event = json::parse(row.event);
    const json expected = json::parse(row.expected);
    const auto program = decodedProgram(row.program);
    ASSERT_TRUE(program);

    const auto editing = script_test::MakeEditingWithStandInModules();
    const sdk::Error loadError = editing->loadProgram(*program);
    EXPECT_EQ(describeError(loadError), expected.value("load", "none"));
    if (!loadError.ok()) {
        return;
    }

    const sdktest::MonitorRecorder monitor;
    sdk::Error error;
    const APMPEvent input = eventFromJSON(event);
    const bool result = editing->handleEvent(input, error);
    EXPECT_EQ(describeError(error), expected.value("error", "none"));
    if (expected.contains("result")) {
        EXPECT_EQ(result, expected["result"].get<bool>());
    }
    if (expected.contains("edits")) {
        EXPECT_EQ(editing->hasEdits(), expected["edits"].get<bool>());
    }
    const APMPEventContext& context = editing->eventContext();
    if (expected.contains("out")) {
        const json out = {{"name", context.outputEvent().name()},
                          {"params", jsonFromParameters(context.outputEvent().parameters())}};
        EXPECT_EQ(out.dump(), expected["out"].dump());
        EXPECT_EQ(context.outputEvent().timestamp(), input.timestamp());
    }
    if (expected.contains("created")) {
        json created = json::array();
        for (const APMPEvent& made : context.eventsToLog()) {
            created.push_back({{"name", made.name()},
                               {"ts", made.timestamp()},
                               {"params", jsonFromParameters(made.parameters())}});
        }
        EXPECT_EQ(created.dump(), expected["created"].dump());
        EXPECT_EQ(editing->hasCreatedEvents(), !created.empty());
    }
    if (expected.contains("monitor")) {
        json messages = json::array();
        for (const APMMonitorMessage& message : monitor.messages()) {
            messages.push_back({message.code, message.level});
        }
        EXPECT_EQ(messages.dump(), expected["monitor"].dump());
    }
}

INSTANTIATE_TEST_SUITE_P(Editing, EditingConformance, testing::ValuesIn(loadRows()),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
