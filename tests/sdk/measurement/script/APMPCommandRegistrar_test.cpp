#include "sdk/measurement/script/APMPCommandRegistrar.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

#include "ProgramText.h"
#include "ScriptTestSupport.h"
#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "sdk/measurement/script/APMPScope.h"

namespace {

using namespace script_test;

// Runs the compact-form `program` in `runtime`; the result, or undefined with `error` set.
APMPValueRef RunProgram(APMPRuntime& runtime, const std::string& program, sdk::Error& error) {
    const auto entities = program_text::Entities(program);
    EXPECT_TRUE(entities) << program;
    return runtime.executeStatements(entities.value_or(APMPBRepeatedArray{}), error);
}

TEST(APMPCommandRegistrar, EveryIdButFiveHasACommand) {
    const APMPCommandRegistrar& registrar = APMPCommandRegistrar::sharedInstance();
    const APMPCommandEvaluator& fallback = registrar.evaluatorForName(u"someFunction");
    for (int id = 0; id <= 66; ++id) {
        const std::string text = std::to_string(id);
        const bool unregistered =
            text == "11" || text == "14" || text == "31" || text == "48" || text == "49";
        const std::u16string name(text.begin(), text.end());
        EXPECT_EQ(&registrar.evaluatorForName(name) == &fallback, unregistered) << text;
    }
    EXPECT_EQ(registrar.allCommands().size(), 62U);
    EXPECT_EQ(&registrar.evaluatorForName(u"067"), &fallback);
}

TEST(APMPCommandRegistrar, AssignmentToAnUndeclaredNameDeclaresNothing) {
    APMPRuntime runtime;
    sdk::Error error;
    EXPECT_EQ(RunProgram(runtime, R"(3("x", 1))", error), APMPUndefined());
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kUndeclaredVariable));
    EXPECT_FALSE(runtime.globalScope()->hasName(u"x"));
}

TEST(APMPCommandRegistrar, AResetAfterTheBudgetRanOutGivesAFullBudget) {
    APMPRuntime runtime;
    const std::string forever = "42(true, 44(), false, 46())";
    for (int round = 0; round < 2; ++round) {
        sdk::Error error;
        EXPECT_EQ(RunProgram(runtime, forever, error), APMPUndefined());
        EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded)) << round;
        EXPECT_EQ(runtime.getInstructionCount(error), 1000000) << round;

        error = sdk::Error();
        RunProgram(runtime, "1", error);
        EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded)) << "spent until reset";

        runtime.resetInstructionCount();
        error = sdk::Error();
        EXPECT_EQ(StringOf(*RunProgram(runtime, "0(1, 2)", error)), "3");
        EXPECT_TRUE(error.ok());
        EXPECT_EQ(runtime.getInstructionCount(error), 3);
        runtime.resetInstructionCount();
    }
}

// The depth cap must end runaway recursion before the stack of the thread that runs scripts
// (a worker queue's thread, smaller than the main thread's) runs out.
TEST(APMPCommandRegistrar, RecursionForEverEndsOnAWorkerQueueThread) {
    const auto queue = platform::DispatchQueue::createSerial("script.test");
    std::promise<std::string> outcome;
    queue->async([&outcome] {
        APMPRuntime runtime;
        sdk::Error error;
        // Each call nests a few evaluations: the call, its return and its argument.
        const APMPValueRef result =
            RunProgram(runtime, R"(50("f", 7("n"), 36(f(0(15("n"), 1)))) f(0))", error);
        const int depth = runtime.objectManager()->budget()->depth();
        outcome.set_value(std::to_string(error.code()) + " " +
                          (result == APMPUndefined() ? "undefined" : "?") + " depth " +
                          std::to_string(depth));
    });
    EXPECT_EQ(outcome.get_future().get(), "18 undefined depth 0");
}

// The registrar is shared by every runtime; runtimes on different threads use it at once.
TEST(APMPCommandRegistrar, RuntimesOnTwoThreadsShareTheRegistrar) {
    const std::string sum =
        R"(41("i", "s") 3("i", 0) 3("s", 0) 42(23(15("i"), 1000), 3("i", 0(15("i"), 1)), false, )"
        R"(46(3("s", 0(15("s"), 15("i"))))) 15("s"))";
    auto runOnce = [&sum] {
        APMPRuntime runtime;
        sdk::Error error;
        return StringOf(*RunProgram(runtime, sum, error)) + (error.ok() ? "" : " error");
    };
    auto first = std::async(std::launch::async, runOnce);
    auto second = std::async(std::launch::async, runOnce);
    EXPECT_EQ(first.get(), "499500");
    EXPECT_EQ(second.get(), "499500");
}

}  // namespace
