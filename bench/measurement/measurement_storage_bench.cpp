// Measures the raw-event table of the measurement database: inserting 10,000 events (origin and
// five string, integer and double parameters) inside one transaction, and reading them all back
// by metadata fingerprint (ten fingerprints of 1000 events, the most one read returns). Items
// are events.
//
// Run: build/bench/measurement/measurement_storage_bench [--benchmark_repetitions=5]
// Targets on one core: inserting 20,000 events/s or more, reading 40,000 events/s or more.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

namespace fs = std::filesystem;

constexpr int kEvents = 10000;
constexpr int kEventsPerFingerprint = 1000;
constexpr std::int64_t kFirstFingerprint = 1234567890123;

std::int64_t fingerprintOf(int event) {
    return kFirstFingerprint + event / kEventsPerFingerprint;
}

// A private home for the database and the persisted configuration, removed at exit.
class Fixture {
  public:
    Fixture() {
        char pattern[] = "/tmp/measurement-storage-bench-XXXXXX";
        root_ = mkdtemp(pattern);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        const APMParameterLimits limits = APMRemoteConfig::current()->parameterLimits();
        for (int i = 0; i < kEvents; ++i) {
            events_.push_back(*APMEvent::initWithOrigin(
                "auto", false, i % 3 ? "screen_view" : "select_content", 1700000000 + i, 0,
                {{"screen_name", sdk::Value("Main window " + std::to_string(i))},
                 {"content_type", sdk::Value("folder")},
                 {"item_count", sdk::Value(i * 7)},
                 {"_et", sdk::Value(1234 + i)},
                 {"score", sdk::Value(i * 0.25)}},
                limits));
        }
    }
    ~Fixture() {
        std::error_code error;
        fs::remove_all(root_, error);
    }

    // A fresh, empty database.
    std::unique_ptr<APMDatabase> openDatabase(const std::string& name) {
        return APMDatabase::initWithDatabaseName(
            name, APMPersistedConfig::initWithSuiteName("com.example.bench"), nullptr);
    }
    const std::vector<APMEvent>& events() const { return events_; }

  private:
    fs::path root_;
    std::vector<APMEvent> events_;
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

bool insertAll(APMDatabase& database) {
    return database.performTransaction([&] {
        const std::vector<APMEvent>& events = fixture().events();
        for (int i = 0; i < kEvents; ++i) {
            if (!database.insertRawEvent(&events[i], fingerprintOf(i), false, nullptr)) {
                return false;
            }
        }
        return true;
    });
}

void BM_InsertRawEvents(benchmark::State& state) {
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto database = fixture().openDatabase("insert-" + std::to_string(run++) + ".sql");
        state.ResumeTiming();
        if (!database || !insertAll(*database)) {
            state.SkipWithError("insertion failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_InsertRawEvents)->Unit(benchmark::kMillisecond);

void BM_ReadRawEventsByFingerprint(benchmark::State& state) {
    auto database = fixture().openDatabase("read.sql");
    if (!database || !insertAll(*database)) {
        state.SkipWithError("set-up failed");
        return;
    }
    std::size_t read = 0;
    for (auto _ : state) {
        for (int i = 0; i < kEvents; i += kEventsPerFingerprint) {
            auto events = database->rawEventsWithMetadataFingerprint(fingerprintOf(i), nullptr, {});
            if (!events || events->size() != kEventsPerFingerprint) {
                state.SkipWithError("reading failed");
                return;
            }
            read += events->size();
            benchmark::DoNotOptimize(events->back().rawEvent().timestamp());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(read));
}
BENCHMARK(BM_ReadRawEventsByFingerprint)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
