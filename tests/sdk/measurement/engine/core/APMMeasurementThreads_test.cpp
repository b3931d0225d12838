#include "sdk/measurement/storage/APMRemoteConfig.h"
// Callers on several threads at once: posts to the worker entry, reads of the shared instance
// and its switches, and network diagnostics, while the engine stores every event. One test, so
// the whole binary runs in one process under ThreadSanitizer.
#include <atomic>
#include <thread>

#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"

namespace {

using sdktest::EngineTest;

class ThreadsTest : public EngineTest {};

TEST_F(ThreadsTest, EventsPostedFromSeveralThreadsAreAllStored) {
    ASSERT_TRUE(startEngine(kAppID));
    constexpr int kThreads = 4;
    constexpr int kEventsPerThread = 50;
    std::atomic<bool> posting{true};
    std::thread reader([&] {
        while (posting.load()) {
            std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
            EXPECT_TRUE(APMMeasurement::hasSharedInstance());
            EXPECT_TRUE(engine->isEnabled());
            EXPECT_TRUE(engine->shouldEnableMeasurement());
            engine->VDUNetwork_logWithLevel(7, 900001, std::string("probe"));
        }
    });
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([this, t] {
            std::weak_ptr<APMMeasurement> weak = engine_;
            for (int i = 0; i < kEventsPerThread; ++i) {
                const double timestamp = APMCurrentTimeInterval();
                engine_->scheduler()->scheduleOnWorkerQueue(
                    "APMMeasurement:test", [weak, t, timestamp] {
                        std::shared_ptr<APMMeasurement> engine = weak.lock();
                        std::optional<APMEvent> event = APMEvent::initWithOrigin(
                            "app", true, "thread_" + std::to_string(t), timestamp, 0, {},
                            APMRemoteConfig::current()->parameterLimits());
                        if (engine && event) {
                            engine->handleEventOnWorkerQueue(std::move(*event));
                        }
                    });
            }
        });
    }
    for (std::thread& poster : posters) {
        poster.join();
    }
    drain(*engine_);
    posting.store(false);
    reader.join();
    EXPECT_EQ(rawEvents().size(), static_cast<std::size_t>(kThreads * kEventsPerThread));
    EXPECT_EQ(sqlite("SELECT count(DISTINCT name) FROM raw_events;"), "4\n");
}

}  // namespace
