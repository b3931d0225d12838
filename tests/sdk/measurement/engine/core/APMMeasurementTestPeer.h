#pragma once

#include <functional>
#include <future>
#include <optional>

#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"

// What tests (and the engine's benchmarks) may do to an engine beyond its public interface:
// fix the sampling draw and run a block on the worker thread. Test code only.
class APMMeasurementTestPeer {
  public:
    APMMeasurementTestPeer() = delete;

    // Fixes the sampling draw of `engine` (true: always 0, so every roll keeps the event; false:
    // never 0); no value restores the random draw.
    static void setSamplingDraw(APMMeasurement& engine, std::optional<bool> drawIsZero) {
        engine.samplingDrawIsZero_ = drawIsZero;
    }

    // Runs `block` on the worker thread of `engine` and waits for it (and so for every block
    // queued before). REQUIRES: not on the worker queue.
    static void runOnWorkerQueueAndWait(APMMeasurement& engine,
                                        const std::function<void()>& block) {
        // Scheduled rather than dispatched synchronously: a synchronous dispatch may run the
        // block on the calling thread, and the pipeline expects the worker thread.
        std::promise<void> done;
        engine.scheduler()->scheduleOnWorkerQueue("APMMeasurement:TEST", [&] {
            try {
                block();
            } catch (...) {
                done.set_value();
                throw;
            }
            done.set_value();
        });
        done.get_future().wait();
    }
};
