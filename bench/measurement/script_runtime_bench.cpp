// Measures the script runtime's evaluation speed. Items are evaluation steps (instructions
// paid from the budget).
//
// Run: build/bench/measurement/script_runtime_bench [--benchmark_format=json]
// Target on one core: "BudgetLoop", a program that loops for ever, reaches error 18 after its
// 1,000,000 steps well under 1 s, so no program can hold the worker queue longer than that.

#include <benchmark/benchmark.h>

#include <memory>

#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
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

}  // namespace

BENCHMARK_MAIN();
