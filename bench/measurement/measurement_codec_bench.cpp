// Measures the wire codec on a bundle of 1000 events, each with a name, two timestamps and six
// parameters (the origin and five string, integer and double values), the shape the engine
// uploads. Items are events.
//
// Run: build/bench/measurement/measurement_codec_bench [--benchmark_repetitions=5]
// Targets on one core: encoding 100,000 events/s or more, decoding through initWithBuffer
// 50,000 events/s or more.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"

namespace {

constexpr int kEvents = 1000;

std::shared_ptr<NANOMessageBase> param(const char* name, const sdk::Value& value) {
    auto p = std::make_shared<APMPBEventParam>();
    APMPBSetString(p.get(), 0, name);
    if (const auto* text = value.string())
        APMPBSetString(p.get(), 1, *text);
    if (auto integer = value.intValue())
        APMPBSetInt64(p.get(), 2, *integer);
    if (auto number = value.doubleValue())
        APMPBSetDouble(p.get(), 4, *number);
    return p;
}

std::unique_ptr<APMPBMeasurementBundle> makeBundle() {
    auto bundle = std::make_unique<APMPBMeasurementBundle>();
    APMPBSetInt32(bundle.get(), 0, 1);
    APMPBSetString(bundle.get(), 8, "macos");
    APMPBSetString(bundle.get(), 14, "1:1234567890:ios:0123456789abcdef");
    APMPBRepeatedArray events;
    for (int i = 0; i < kEvents; ++i) {
        auto event = std::make_shared<APMPBEvent>();
        APMPBSetString(event.get(), 1, i % 3 ? "screen_view" : "select_content");
        APMPBSetInt64(event.get(), 2, 1700000000000 + i * 1000);
        APMPBSetInt64(event.get(), 3, 1700000000000 + i * 1000 - 500);
        APMPBSetRepeated(
            event.get(), 0,
            APMPBRepeatedArray{
                param("_o", sdk::Value("auto")),
                param("screen_name", sdk::Value("Main window " + std::to_string(i))),
                param("content_type", sdk::Value("folder")), param("item_count", sdk::Value(i * 7)),
                param("_et", sdk::Value(1234 + i)), param("value", sdk::Value(i * 0.25))});
        events.emplace_back(std::move(event));
    }
    APMPBSetRepeated(bundle.get(), 1, events);
    return bundle;
}

void BM_BundleEncode(benchmark::State& state) {
    const auto bundle = makeBundle();
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto encoded = bundle->protoBuffer();
        bytes = encoded->size();
        benchmark::DoNotOptimize(encoded);
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_BundleEncode)->Unit(benchmark::kMillisecond);

void BM_BundleDecode(benchmark::State& state) {
    const auto encoded = *makeBundle()->protoBuffer();
    for (auto _ : state) {
        auto decoded = APMPBMeasurementBundle::initWithBuffer(encoded);
        if (decoded == nullptr)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(decoded);
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * encoded.size()));
}
BENCHMARK(BM_BundleDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
