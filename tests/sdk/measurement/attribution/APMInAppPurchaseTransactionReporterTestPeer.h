#pragma once

#include "sdk/measurement/attribution/APMInAppPurchaseTransactionReporter.h"

// What tests reach of APMInAppPurchaseTransactionReporter beyond its public interface.
class APMInAppPurchaseTransactionReporterTestPeer {
  public:
    // Waits until the reports queued on `reporter` so far have run (not the product lookups
    // they wait for). REQUIRES: not called on the report queue.
    static void waitForReports(APMInAppPurchaseTransactionReporter& reporter) {
        reporter.reportQueue_->sync([] {});
    }
};
