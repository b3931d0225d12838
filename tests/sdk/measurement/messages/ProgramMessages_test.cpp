// Event-editing programs encoded by protoc, read back by named slot as the script runtime will:
// entity types, function names, literals and argument order.
#include <gtest/gtest.h>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;

namespace {

namespace RE = apmpb::RuntimeEntity;
namespace Type = apmpb::RuntimeEntity::Type;

using Entities = std::vector<std::shared_ptr<NANOMessageBase>>;

Entities elements(const std::optional<APMPBRepeatedArray>& array) {
    Entities out;
    if (array) {
        for (const auto& e : *array)
            out.push_back(std::get<1>(e));
    }
    return out;
}

Entities arguments(const NANOMessageBase* statement) {
    return elements(APMPBGetRepeated<APMPBRuntimeEntity>(statement, RE::kValue));
}

std::unique_ptr<APMPBProgram> programFrom(const std::string& text) {
    const std::string bytes = protoc("--encode=apmpb.Program", text);
    EXPECT_EQ(bytes.find("<protoc failed>"), std::string::npos) << bytes;
    return APMPBProgram::initWithBuffer(asBytes(bytes));
}

}  // namespace

TEST(ProgramMessages, ProgramTreeReadsBackBySlotInOrder) {
    const auto program = programFrom(golden("program.txt"));
    ASSERT_TRUE(program);

    const Entities instructions = elements(
        APMPBGetRepeated<APMPBRuntimeEntity>(program.get(), apmpb::Program::kInstructions));
    ASSERT_EQ(instructions.size(), 2u);
    const NANOMessageBase* set = instructions[0].get();
    EXPECT_EQ(APMPBGetInt32(set, RE::kType), Type::kStatement);
    EXPECT_EQ(APMPBGetString(set, RE::kFunctionName), "set");
    const Entities args = arguments(set);
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(APMPBGetInt32(args[0].get(), RE::kType), Type::kString);
    EXPECT_EQ(APMPBGetString(args[0].get(), RE::kStringValue), "measurement.config");
    EXPECT_EQ(APMPBGetInt32(args[1].get(), RE::kType), Type::kNumber);
    EXPECT_EQ(APMPBGetDouble(args[1].get(), RE::kNumberValue), 2.5);
    EXPECT_EQ(APMPBGetInt32(args[2].get(), RE::kType), Type::kBoolean);
    EXPECT_TRUE(APMPBGetBool(args[2].get(), RE::kBooleanValue));
    EXPECT_EQ(APMPBGetInt32(args[3].get(), RE::kType), Type::kStatement);
    EXPECT_EQ(APMPBGetString(args[3].get(), RE::kFunctionName), "get");
    const Entities inner = arguments(args[3].get());
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(APMPBGetString(inner[0].get(), RE::kStringValue), "inner");
    EXPECT_EQ(APMPBGetString(instructions[1].get(), RE::kFunctionName), "init");
    EXPECT_TRUE(arguments(instructions[1].get()).empty());

    const auto ogt =
        APMPBGetMessage<APMPBOgtActivities>(program.get(), apmpb::Program::kOgtActivities);
    ASSERT_TRUE(ogt);
    const Entities activities =
        elements(APMPBGetRepeated<APMPBOgtActivity>(ogt.get(), apmpb::OgtActivities::kActivities));
    ASSERT_EQ(activities.size(), 2u);
    EXPECT_EQ(APMPBGetString(activities[0].get(), apmpb::OgtActivity::kName), "rename_purchase");
    EXPECT_EQ(APMPBGetString(activities[1].get(), apmpb::OgtActivity::kName), "drop_debug");
    const Entities rules = elements(
        APMPBGetRepeated<APMPBRuntimeEntity>(activities[1].get(), apmpb::OgtActivity::kData));
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(APMPBGetString(rules[0].get(), RE::kFunctionName), "map");
    EXPECT_EQ(APMPBGetString(rules[1].get(), RE::kFunctionName), "map2");

    EXPECT_EQ(program->protoBuffer(),
              asBytes(protoc("--encode=apmpb.Program", golden("program.txt"))));
}

TEST(ProgramMessages, ProgramWithoutActivitiesHasNoChildToRead) {
    const auto program =
        programFrom("instructions {\n  type: STATEMENT\n  function_name: \"init\"\n}\n");
    ASSERT_TRUE(program);
    EXPECT_FALSE(APMPBHasField(program.get(), apmpb::Program::kOgtActivities));

    CapturedLog log;
    const auto ogt =
        APMPBGetMessage<APMPBOgtActivities>(program.get(), apmpb::Program::kOgtActivities);
    EXPECT_EQ(ogt, nullptr);
    EXPECT_EQ(APMPBGetRepeated<APMPBOgtActivity>(ogt.get(), apmpb::OgtActivities::kActivities),
              std::nullopt);
    EXPECT_EQ(log.accessor(),
              "ProtocolBuffer message hasn't been initialized. GetArray can't be performed\n");
    EXPECT_EQ(log.codec(), "");
}
