// Measures event editing: one event through a loaded program's callbacks. Items are events.
//
// Run: build/bench/measurement/script_editing_bench [--benchmark_format=json]
// Targets on one core:
//  - "TypicalEvent": "purchase" with eight parameters (four strings, two integers, two doubles)
//    through five callbacks (a rename on a name match; a for-in over getParams() lower-casing
//    the strings; a configuration value set; a parameter removed; a create callback logging an
//    event of two parameters). Mean per event well under 100 us; the bar is 50 us.
//  - "HostileEvent": a callback that loops for ever. Each event ends with error 18 in well
//    under 1 s, so no program holds the worker queue longer than that.

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ProgramText.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEventEditing.h"
#include "sdk/measurement/script/APMPKeyValueStore.h"

namespace {

constexpr std::string_view kTypicalProgram =
    R"(52("reg", require("internal.registerCallback")) 52("rc", require("internal.remoteConfig")))"
    R"( 52("log", require("internal.eventLogger")))"
    // A rename on a name match.
    R"( reg("rename", 51("f", 7("e"), 22(20(2(15("e"), "getEventName", 7()), "purchase"),)"
    R"( 46(2(15("e"), "setEventName", 7("ecommerce_purchase")))), 36(1)),)"
    R"( 8("type", "edit", "priority", 1)))"
    // Lower-cases every string parameter.
    R"( reg("lower", 51("f", 7("e"), 52("p", 2(15("e"), "getParams", 7())),)"
    R"( 55("k", 15("p"), 46(22(20(40(16(15("p"), 15("k"))), "string"),)"
    R"( 46(2(15("e"), "setParamValue", 7(15("k"), 2(16(15("p"), 15("k")), "toLowerCase", 7()))))))),)"
    R"( 36(1)), 8("type", "edit", "priority", 2)))"
    // A configuration value.
    R"( reg("config", 51("f", 7("e"), 2(15("e"), "setParamValue",)"
    R"( 7("variant", 2(15("rc"), "getValue", 7("measurement.variant", "none")))), 36(1)),)"
    R"( 8("type", "edit", "priority", 3)))"
    // A parameter removed.
    R"( reg("remove", 51("f", 7("e"), 2(15("e"), "setParamValue", 7("debug_note", 45())), 36(1)),)"
    R"( 8("type", "edit", "priority", 4)))"
    // An event of two parameters created.
    R"( reg("create", 51("f", 7("e"), log("purchase_seen", 2(15("e"), "getTimestamp", 7()),)"
    R"( 8("value", 2(15("e"), "getParamValue", 7("value")),)"
    R"( "currency", 2(15("e"), "getParamValue", 7("currency"))))), 8("type", "create")))";

constexpr std::string_view kHostileProgram =
    R"(52("reg", require("internal.registerCallback")))"
    R"( reg("x", 51("f", 7("e"), 42(true, 44(), false, 46())), 8("type", "edit")))";

std::unique_ptr<APMPEventEditing> loadedEditing(std::string_view text, benchmark::State& state) {
    auto editing = std::make_unique<APMPEventEditing>();
    editing->setModuleCreator(
        [] {
            return std::make_shared<APMPKeyValueStore>(
                u"internal.remoteConfig", [](std::string_view key) -> std::optional<std::string> {
                    return key == "measurement.variant" ? std::optional<std::string>("b")
                                                        : std::nullopt;
                });
        },
        "internal.remoteConfig");
    const auto program = program_text::Program(text);
    if (!program || !editing->loadProgram(*program).ok()) {
        state.SkipWithError("the program did not load");
        return nullptr;
    }
    return editing;
}

const APMPEvent& purchase() {
    static const APMPEvent event("purchase", 1700000000.5,
                                 {{"currency", "USD"},
                                  {"item_name", "Garden Cap"},
                                  {"coupon", "SPRING"},
                                  {"debug_note", "checked"},
                                  {"quantity", 3},
                                  {"index", 1},
                                  {"value", 9.99},
                                  {"tax", 0.5}});
    return event;
}

void BM_TypicalEvent(benchmark::State& state) {
    const auto editing = loadedEditing(kTypicalProgram, state);
    if (!editing) {
        return;
    }
    for (auto _ : state) {
        sdk::Error error;
        benchmark::DoNotOptimize(editing->handleEvent(purchase(), error));
        if (!error.ok()) {
            state.SkipWithError(error.ToString().c_str());
            break;
        }
    }
    const APMPEventContext& context = editing->eventContext();
    if (context.outputEvent().name() != "ecommerce_purchase" ||
        context.outputEvent().hasParameterName("debug_note") || context.eventsToLog().size() != 1) {
        state.SkipWithError("the callbacks did not edit the event as expected");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TypicalEvent)->Name("TypicalEvent")->Unit(benchmark::kMicrosecond);

void BM_HostileEvent(benchmark::State& state) {
    const auto editing = loadedEditing(kHostileProgram, state);
    if (!editing) {
        return;
    }
    for (auto _ : state) {
        sdk::Error error;
        benchmark::DoNotOptimize(editing->handleEvent(purchase(), error));
        if (!APMPIsError(error, APMPErrorCode::kLimitExceeded)) {
            state.SkipWithError("the event did not end with error 18");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HostileEvent)->Name("HostileEvent")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
