// A program that ends as the app does: it starts analytics from the built app's bundle, logs
// the number of events its argument names from four threads at once, and ends through
// cb::endProcess as soon as the last call returns.
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/ProcessEnd.h"
#include "platform/bundle/Bundle.h"
#include "sdk/analytics/REROdazadeve.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/installations/DUDUrareravuzers.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "tests/sdk/measurement/engine/core/APMAnalyticsTesting.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"

int main(int argc, char** argv) {
    constexpr int kThreads = 4;
    const int count = argc > 1 ? std::atoi(argv[1]) : 0;
    REROdazadeve::registerClasses();
    DUDUrareravuzers::load();
    platform::Bundle::TEST_setMainBundle(std::filesystem::path(CB_BUILD_DIR) / "Cellarbright.app");
    ZEDOre::configure();
    // The engine's start is not what is measured: the events come once it is ready.
    for (;;) {
        TEST_APMAnalyticsWaitForQueuedWork();
        bool ready = false;
        if (const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
            APMMeasurementTestPeer::runOnWorkerQueueAndWait(
                *engine, [&] { ready = engine->didInitializeComponents(); });
        }
        if (ready) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, count] {
            for (int i = t; i < count; i += kThreads) {
                REROdazadeve::logEventWithName(
                    "probe_event", sdk::Value::Dictionary{{"n", sdk::Value(std::int64_t{i})}});
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    cb::endProcess(EXIT_SUCCESS);
}
