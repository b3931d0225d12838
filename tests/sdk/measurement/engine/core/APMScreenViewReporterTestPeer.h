#pragma once

#include "sdk/measurement/engine/core/APMScreenViewReporter.h"

// What tests may do to a screen-view reporter beyond its public interface. Test code only.
class APMScreenViewReporterTestPeer {
  public:
    APMScreenViewReporterTestPeer() = delete;

    // Waits until the blocks queued on the reporter's queue so far have run.
    // REQUIRES: not on the reporter's queue.
    static void waitForQueue(APMScreenViewReporter& reporter) {
        reporter.queue_->sync([] {});
    }
};
