#include <chrono>
#include <future>
#include <thread>

#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMAnalyticsState.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMPersistentDictionary.h"
#include "sdk/utilities/VDULogger.h"

APMAnalyticsState& APMAnalyticsState::shared() {
    static APMAnalyticsState* const state = new APMAnalyticsState();  // lives for the process
    return *state;
}

const platform::QueueRef& APMAnalytics::queue() {
    static const platform::QueueRef& serialQueue = *new platform::QueueRef(
        platform::DispatchQueue::createSerial("APMAnalyticsQueue"));  // lives for the process
    return serialQueue;
}

void APMAnalytics::dispatchAsyncOnSerialQueue(platform::Block block) {
    queue()->async(std::move(block));
}

bool APMAnalytics::isCurrentQueueSerialQueue() {
    return queue()->isCurrent();
}

void APMAnalytics::queueOperationWithBlock(platform::Block block) {
    APMAnalyticsState::shared().timestampQueue->queue(std::move(block));
}

void APMAnalytics::queueOperationWithBlockThenWait(platform::Block block) {
    APMAnalyticsState& state = APMAnalyticsState::shared();
    const std::shared_ptr<platform::OperationQueue>& operations = state.operationQueue;
    queueOperationWithBlock(std::move(block));
    if (operations->isSuspended()) {
        return;
    }
    state.timestampQueue->waitUntilAllAreQueued();
    operations->setSuspended(true);
    queue()->after(std::chrono::milliseconds(500), [] { unsuspendOperationQueue(); });
}

void APMAnalytics::unsuspendOperationQueue() {
    APMAnalyticsState::shared().operationQueue->setSuspended(false);
}

// Declared for tests only, in tests/sdk/measurement/engine/core/APMAnalyticsTesting.h.
void TEST_APMAnalyticsWaitForQueuedWork() {
    APMAnalyticsState::shared().timestampQueue->waitUntilAllAreQueued();
    APMAnalytics::queue()->sync([] {});
}

namespace {

// How long the end waits, past its budget, for the worker queue to drop the events it holds,
// so that the count it logs is exact.
constexpr std::chrono::milliseconds kDropGrace{500};

// Whether the worker queue ran a block queued now before `deadline`: then every block queued
// before it has run.
bool workerQueueReached(APMMeasurement& engine, std::chrono::steady_clock::time_point deadline) {
    auto reached = std::make_shared<std::promise<void>>();
    std::future<void> done = reached->get_future();
    engine.scheduler()->scheduleOnWorkerQueue("APMAnalytics:exit",
                                              [reached] { reached->set_value(); });
    return done.wait_until(deadline) == std::future_status::ready;
}

}  // namespace

std::int64_t APMAnalytics::eventsInFlight() {
    const std::int64_t queued = APMAnalyticsState::shared().eventsQueued;
    const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    return queued - (engine ? engine->eventEntriesHandled() : 0);
}

std::int64_t APMAnalytics::finishPendingWorkBeforeExit(std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    std::int64_t dropped = 0;
    if (engine) {
        // Events flow only once the start has ended; before that nothing can be stored.
        while (isStarted() && eventsInFlight() > 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (eventsInFlight() == 0) {
            // Handling an event may have queued more work (a session's events) behind it.
            (void)workerQueueReached(*engine, deadline);
        } else {
            // Out of time: what has not reached the engine yet is dropped, and counted once the
            // worker queue has let go of it.
            engine->stopTakingEvents();
            (void)workerQueueReached(*engine, std::chrono::steady_clock::now() + kDropGrace);
            dropped = eventsInFlight();
        }
        if (const std::shared_ptr<APMPersistedConfig>& config = engine->persistedConfig();
            config && config->userDefaults()) {
            config->userDefaults()->persistToDisk();
        }
    } else {
        dropped = APMAnalyticsState::shared().eventsQueued;
    }
    if (dropped > 0) {
        APMMeasurement::monitor().logWithLevel(
            4, 25061, "Events not stored before the process ended. Dropped count", dropped);
    }
    VDULoggerFlush();
    return dropped;
}
