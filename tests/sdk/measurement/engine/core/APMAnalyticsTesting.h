#pragma once

#include "sdk/measurement/engine/core/APMAnalytics.h"

// Test only (defined in sdk/measurement/engine/core/APMAnalyticsQueues.cpp): waits until every
// facade operation queued so far and every block they posted have run.
// REQUIRES: the operation queue is not suspended; not on the facade's serial queue.
void TEST_APMAnalyticsWaitForQueuedWork();
