#pragma once

#include <functional>
#include <mutex>
#include <utility>

#include "sdk/measurement/engine/APMMonitor.h"

// What tests may do to a monitor beyond its public interface: watch every message and wait for
// its queue. Test code only.
class APMMonitorTestPeer {
  public:
    APMMonitorTestPeer() = delete;

    // `observer` receives every message `monitor` logs from now on, printed or not, on the
    // caller's thread and before any filtering; an empty function removes it. The observer must
    // not log through this monitor. Any thread.
    static void setMessageObserver(APMMonitor& monitor,
                                   std::function<void(const APMMonitorMessage&)> observer) {
        std::lock_guard lock(monitor.observerMutex_);
        monitor.observer_ = std::move(observer);
    }

    // Waits until the blocks queued on the monitor queue so far have run.
    // REQUIRES: not on the monitor queue.
    static void waitForMonitorQueue(APMMonitor& monitor) {
        monitor.monitorQueue_->sync([] {});
    }
};
