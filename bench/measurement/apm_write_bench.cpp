// Logging an event never makes the caller wait: a fresh engine (temporary XDG data home, debug
// mode off) gets 10,000 events posted from one thread through its worker entry, a scheduler
// block that builds the event and runs the pipeline, the entry the engine's public event intake
// puts in front. Each post is timed on the caller's thread; then the driver waits until the
// 10,000th raw-event row is stored and reports the worker's rate from the first post to then.
//
// Run: build/bench/measurement/apm_write_bench
// Targets: caller mean under 25 us and 99th percentile under 50 us; the worker stores at least
// 2,000 events a second. The last line is
// "caller_mean_us=<x> caller_p99_us=<y> worker_events_per_s=<z>".

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMMeasurement.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/storage/APMDatabase.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kEvents = 10000;
constexpr const char* kNames[] = {"scan_started", "scan_completed", "item_deleted",
                                  "app_uninstalled", "mode_switched"};

// A private home for the engine's files, removed at exit.
class TemporaryHome {
  public:
    TemporaryHome() {
        char pattern[] = "/tmp/apm-write-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        root_ = pattern;
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    }
    ~TemporaryHome() {
        std::error_code error;
        fs::remove_all(root_, error);
    }

  private:
    fs::path root_;
};

std::int64_t storedRawEvents(APMMeasurement& engine) {
    std::int64_t count = -1;
    engine.TEST_runOnWorkerQueueAndWait([&] {
        sdk::Error error;
        const std::optional<std::vector<APMRawEventData>> events =
            engine.database()->allRawEventsWithError(&error);
        count = events ? static_cast<std::int64_t>(events->size()) : -1;
    });
    return count;
}

}  // namespace

int main() {
    const TemporaryHome home;
    APMMeasurement::monitor().setDebugModeEnabled(false);
    APMMeasurement::initializeSharedInstanceWithAppID("1:1:macos:bench", true, false, {});
    const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    if (!engine) {
        std::fprintf(stderr, "the engine did not start\n");
        return 1;
    }
    engine->TEST_runOnWorkerQueueAndWait([] {});
    if (!engine->didInitializeComponents()) {
        std::fprintf(stderr, "the engine's components did not start\n");
        return 1;
    }

    const std::weak_ptr<APMMeasurement> weak = engine;
    std::vector<double> postMicros;
    postMicros.reserve(kEvents);
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kEvents; ++i) {
        const Clock::time_point before = Clock::now();
        const double timestamp = APMCurrentTimeInterval();
        engine->scheduler()->scheduleOnWorkerQueue("APMMeasurement:bench", [weak, i, timestamp] {
            std::shared_ptr<APMMeasurement> target = weak.lock();
            if (!target) {
                return;
            }
            std::optional<APMEvent> event =
                APMEvent::initWithOrigin("app", true, kNames[i % 5], timestamp, 0,
                                         {{"size_bytes", sdk::Value(std::int64_t{1} << 20 | i)},
                                          {"children_count", sdk::Value(i % 100)},
                                          {"location", sdk::Value("home")}},
                                         APMParameterLimits::current());
            if (event) {
                target->handleEventOnWorkerQueue(std::move(*event));
            }
        });
        postMicros.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    const std::int64_t stored = storedRawEvents(*engine);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (stored != kEvents) {
        std::fprintf(stderr, "stored %lld raw events, expected %d\n",
                     static_cast<long long>(stored), kEvents);
        return 1;
    }

    std::vector<double> sorted = postMicros;
    std::sort(sorted.begin(), sorted.end());
    const double mean = std::accumulate(sorted.begin(), sorted.end(), 0.0) / sorted.size();
    const double p99 = sorted[sorted.size() * 99 / 100];
    std::printf("events=%d stored=%lld worker_seconds=%.3f caller_max_us=%.1f\n", kEvents,
                static_cast<long long>(stored), seconds, sorted.back());
    std::printf("caller_mean_us=%.2f caller_p99_us=%.2f worker_events_per_s=%.0f\n", mean, p99,
                kEvents / seconds);
    return 0;
}
