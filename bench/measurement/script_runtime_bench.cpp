// Measures the script runtime's evaluation speed and how long a hostile program can hold the
// worker queue. Items are evaluation steps (instructions paid from the budget).
//
// Run: build/bench/measurement/script_runtime_bench [--benchmark_format=json]
// Targets on one core:
//  - "BudgetLoop": a program that loops for ever reaches error 18 after its 1,000,000 steps
//    well under 1 s.
//  - "Hostile/<shape>": one event through an edit callback that repeats an operation whose work
//    grows with what it touches (copying, scanning, case-mapping, matching, sorting, joining)
//    for ever. Every operation pays its work to the budget, so each event ends with error 18
//    in well under 1 s: no program can hold the worker queue longer than that. The longest
//    wall time of one event over all shapes is printed at the end ("longest hostile event").

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "ProgramText.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPEventEditing.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "sdk/measurement/script/APMPStatementValue.h"

namespace {

APMPValueRef statement(std::u16string name, APMPValueList arguments) {
    return std::make_shared<APMPStatementValue>(std::move(name), std::move(arguments));
}

// while (true) {}: each turn evaluates the condition and the (empty) step.
void BM_BudgetLoop(benchmark::State& state) {
    APMPRuntime runtime;
    const APMPValueRef forever = statement(
        u"42", {APMPBoolean(true), statement(u"44", {}), APMPBoolean(false), statement(u"46", {})});
    std::int64_t steps = 0;
    for (auto _ : state) {
        runtime.resetInstructionCount();
        sdk::Error error;
        benchmark::DoNotOptimize(
            APMPEvaluator::evaluateStatement(forever, runtime.globalScope(), error));
        if (!APMPIsError(error, APMPErrorCode::kLimitExceeded)) {
            state.SkipWithError("the loop did not end with error 18");
            break;
        }
        steps += runtime.getInstructionCount(error);
    }
    state.SetItemsProcessed(steps);
}
BENCHMARK(BM_BudgetLoop)->Name("BudgetLoop")->Unit(benchmark::kMillisecond);

// Statements that make `name` a string of `units` (a power of two times eight) by doubling.
std::string doubledString(std::string_view name, int doublings) {
    const std::string n(name);
    return "41(\"" + n + "\", \"i\") 3(\"" + n + "\", \"abcdefgh\") 3(\"i\", 0) 42(23(15(\"i\"), " +
           std::to_string(doublings) + "), 3(\"i\", 0(15(\"i\"), 1)), false, 46(3(\"" + n +
           "\", 0(15(\"" + n + "\"), 15(\"" + n + "\"))))) ";
}

// `body` repeated for ever.
std::string forever(std::string_view body) {
    return "42(true, 44(), false, 46(" + std::string(body) + "))";
}

struct Shape {
    const char* name;
    std::string callbackBody;
};

// The shapes: the first ones as found (a fuzzer input, and the operations measured at minutes
// or seconds per event before work was paid for), then the other operations whose work grows
// with their operands.
const std::vector<Shape>& shapes() {
    static const std::vector<Shape> list = {
        {"ConcatGrowingArray",
         R"(41("a") 3("a", 7(1)) )" + forever(R"(3("a", 2(15("a"), "concat", 7(44()))))")},
        {"SliceOf100000Slots",
         R"(52("a", 7()) 43(15("a"), "length", 100000) )" + forever(R"(2(15("a"), "slice", 7()))")},
        {"UpperCaseOf8MUnits",
         doubledString("s", 20) + forever(R"(2(15("s"), "toUpperCase", 7()))")},
        {"IndexOfIn16MUnits", doubledString("s", 21) + forever(R"(2(15("s"), "indexOf", 7("z")))")},
        {"IndexOfTwoUnitsIn16MUnits",
         doubledString("s", 21) + forever(R"(2(15("s"), "indexOf", 7("hz")))")},
        {"BacktrackingRegex", R"(52("s", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa") )" +
                                  forever(R"(2(15("s"), "match", 7("(a+)+b")))")},
        {"ShortBacktrackingMatches",
         R"(52("s", "aaaaaaaaaa") )" + forever(R"(2(15("s"), "match", 7("(a+)+b")))")},
        {"RegexOver8MUnits", doubledString("s", 20) + forever(R"(2(15("s"), "search", 7("z")))")},
        {"NearMissSearch", doubledString("s", 17) +
                               R"(52("t", 0(2(15("s"), "substring", 7(0, 500000)), "!")) )" +
                               forever(R"(2(15("s"), "lastIndexOf", 7(15("t"))))")},
        {"EqualityOf16MUnits", doubledString("s", 21) +
                                   R"(52("t", 0(2(15("s"), "slice", 7(1)), "a")) )" +
                                   forever(R"(20(15("s"), 15("t")))")},
        {"SplitIntoUnits", doubledString("s", 15) + forever(R"(2(15("s"), "split", 7("")))")},
        {"SortOf50000Numbers",
         R"(52("a", 7()) 41("i") 3("i", 0) 42(23(15("i"), 50000), 3("i", 0(15("i"), 1)), false,)"
         R"( 46(2(15("a"), "push", 7(15("i"))))) )" +
             forever(R"(2(15("a"), "sort", 7()))")},
        {"JoinOfSelfNestedArray",
         R"(52("a", 7()) 2(15("a"), "push", 7(15("a"), 15("a"), 15("a"))) )" +
             forever(R"(2(15("a"), "join", 7()))")},
        {"ForEachWithEmptyCallback", doubledString("s", 14) +
                                         R"(52("a", 2(15("s"), "split", 7(""))) )" +
                                         forever(R"(2(15("a"), "forEach", 7(51("f", 7()))))")},
        {"LengthGrowAndShrink",
         R"(52("a", 7()) )" +
             forever(R"(43(15("a"), "length", 2000000) 43(15("a"), "length", 0))")},
        {"UnshiftGrowingArray", R"(52("a", 7()) )" + forever(R"(2(15("a"), "unshift", 7(1)))")},
        {"ForInOver131072Elements", doubledString("s", 14) +
                                        R"(52("a", 2(15("s"), "split", 7(""))) )" +
                                        forever(R"(47("k", 15("a"), 46()))")},
    };
    return list;
}

double longestEventSeconds = 0;
const char* longestShape = "";

// One event through an edit callback running the shape's body; every event must end with
// error 18 (the budget), never run to completion or fail otherwise.
void BM_Hostile(benchmark::State& state, const Shape* shape) {
    const std::string program = R"(52("reg", require("internal.registerCallback")))"
                                R"( reg("x", 51("f", 7("e"), )" +
                                shape->callbackBody + R"(), 8("type", "edit")))";
    const auto entities = program_text::Program(program);
    if (!entities) {
        state.SkipWithError("the program does not parse");
        return;
    }
    APMPEventEditing editing;
    sdk::Error error = editing.loadProgram(*entities);
    if (!error.ok()) {
        state.SkipWithError(("the program does not load: " + error.ToString()).c_str());
        return;
    }
    std::int64_t steps = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        error = sdk::Error();
        editing.handleEvent(APMPEvent("purchase", 1700000000500.0, {}), error);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > longestEventSeconds) {
            longestEventSeconds = seconds;
            longestShape = shape->name;
        }
        if (!APMPIsError(error, APMPErrorCode::kLimitExceeded)) {
            state.SkipWithError(
                ("the event did not end with error 18: " + error.ToString()).c_str());
            break;
        }
        steps += APMPRuntimeBudget::kMaxInstructions;
    }
    state.SetItemsProcessed(steps);
}

}  // namespace

int main(int argc, char** argv) {
    for (const Shape& shape : shapes()) {
        benchmark::RegisterBenchmark((std::string("Hostile/") + shape.name).c_str(), BM_Hostile,
                                     &shape)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (longestShape[0] != '\0') {
        std::printf("longest hostile event: %.3f s (%s); the bar is 1 s\n", longestEventSeconds,
                    longestShape);
    }
    return 0;
}
