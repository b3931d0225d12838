#pragma once

#include "sdk/measurement/attribution/APMAdExposureReporter.h"

// What tests reach of APMAdExposureReporter beyond its public interface.
class APMAdExposureReporterTestPeer {
  public:
    // Waits until the blocks queued on `reporter`'s queue so far have run.
    // REQUIRES: not called on that queue.
    static void waitForQueue(APMAdExposureReporter& reporter) {
        reporter.queue_->sync([] {});
    }
};
