#include <gtest/gtest.h>

#include <cmath>

#include "ProgramText.h"
#include "ScriptTestSupport.h"
#include "sdk/measurement/messages/MessageSlots.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "sdk/measurement/script/APMPRuntimeEntityConverter.h"

namespace {

using namespace script_test;
namespace Slot = apmpb::RuntimeEntity;

// An entity of `type` (0: none set) with every value field set, or none of them.
std::shared_ptr<APMPBRuntimeEntity> RawEntity(std::uint32_t type, bool withValues) {
    auto entity = std::make_shared<APMPBRuntimeEntity>();
    if (type != 0) {
        APMPBSetInt32(entity.get(), Slot::kType, type);
    }
    if (withValues) {
        APMPBSetString(entity.get(), Slot::kStringValue, "s");
        APMPBSetDouble(entity.get(), Slot::kNumberValue, 2.5);
        APMPBSetBool(entity.get(), Slot::kBooleanValue, true);
    }
    return entity;
}

// `depth` statements "f", each the only argument of the one above.
std::shared_ptr<APMPBRuntimeEntity> Chain(int depth) {
    std::shared_ptr<APMPBRuntimeEntity> entity = RawEntity(Slot::Type::kNumber, true);
    for (int i = 0; i < depth; ++i) {
        auto parent = RawEntity(Slot::Type::kStatement, false);
        APMPBSetString(parent.get(), Slot::kFunctionName, "f");
        APMPBSetRepeated(parent.get(), Slot::kValue,
                         APMPBRepeatedArray{std::shared_ptr<NANOMessageBase>(entity)});
        entity = std::move(parent);
    }
    return entity;
}

TEST(APMPEntityConversion, EntitiesConvertByTheirType) {
    const struct {
        const char* label;
        std::shared_ptr<APMPBRuntimeEntity> entity;
        std::string text;  // the converted value's string, or "<error N>"
        APMPValueKind kind;
    } cases[] = {
        {"string without value", RawEntity(1, false), "", APMPValueKind::kString},
        {"number without value", RawEntity(2, false), "NaN", APMPValueKind::kNumber},
        {"boolean without value", RawEntity(3, false), "false", APMPValueKind::kBoolean},
        {"string with every field", RawEntity(1, true), "s", APMPValueKind::kString},
        {"number with every field", RawEntity(2, true), "2.5", APMPValueKind::kNumber},
        {"boolean with every field", RawEntity(3, true), "true", APMPValueKind::kBoolean},
        {"no type", RawEntity(0, true), "<error 12>", APMPValueKind::kUndefined},
        {"type 7", RawEntity(7, true), "<error 12>", APMPValueKind::kUndefined},
        {"statement without name", RawEntity(4, true), "<error 14>", APMPValueKind::kUndefined},
        {"1000 statements deep", Chain(1000), "", APMPValueKind::kStatement},
        {"1001 statements deep", Chain(1001), "<error 18>", APMPValueKind::kUndefined},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        sdk::Error error;
        const APMPValueRef value =
            APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*c.entity, error);
        EXPECT_EQ(value->kind(), c.kind);
        if (error.ok()) {
            if (c.kind != APMPValueKind::kStatement) {
                EXPECT_EQ(StringOf(*value), c.text);
            }
        } else {
            EXPECT_EQ("<error " + std::to_string(error.code()) + ">", c.text);
            EXPECT_EQ(error.domain(), kAPMPErrorDomain);
        }
    }
}

TEST(APMPEntityConversion, StatementsKeepNameAndArgumentsInOrder) {
    const auto entity = program_text::Entity(R"(0(1, "two", true, 7()))");
    ASSERT_NE(entity, nullptr);
    sdk::Error error;
    const APMPValueRef value =
        APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*entity, error);
    ASSERT_TRUE(error.ok()) << error.ToString();
    const APMPValueRef expected =
        Call(u"0", {Num(1), Str("two"), APMPBoolean(true), Call(u"7", {})});
    EXPECT_TRUE(value->isEqualToRuntimeValue(*expected, error));

    // An argument's error ends the conversion with that error.
    auto broken = RawEntity(Slot::Type::kStatement, false);
    APMPBSetString(broken.get(), Slot::kFunctionName, "f");
    APMPBSetRepeated(broken.get(), Slot::kValue,
                     APMPBRepeatedArray{std::shared_ptr<NANOMessageBase>(entity),
                                        std::shared_ptr<NANOMessageBase>(RawEntity(9, false))});
    EXPECT_EQ(APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*broken, error),
              APMPUndefined());
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kInvalidEntityType));
}

TEST(APMPEntityConversion, TheRuntimeRunsTopLevelEntitiesInTheGlobalScope) {
    APMPRuntime runtime;
    runtime.setModuleCreator([] { return Str("module text"); }, u"test.text");
    sdk::Error error;
    const auto program = program_text::Entities(R"(1 "a" require("test.text"))");
    ASSERT_TRUE(program);
    EXPECT_EQ(StringOf(*runtime.executeStatements(*program, error)), "module text");
    EXPECT_TRUE(error.ok()) << error.ToString();
    // Three statements and the module name.
    EXPECT_EQ(runtime.getInstructionCount(error), 4);

    const auto broken = program_text::Entities(R"(require() "never")");
    ASSERT_TRUE(broken);
    EXPECT_EQ(runtime.executeStatements(*broken, error), APMPUndefined());
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kArgumentCount));

    error = sdk::Error();
    EXPECT_EQ(runtime.executeStatements({}, error), APMPUndefined());
    EXPECT_TRUE(error.ok());
}

}  // namespace
