#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sdk/measurement/engine/APMMeasurement.h"

namespace sdktest {

// Records every message of the engine's monitor while it lives.
class MonitorRecorder {
  public:
    MonitorRecorder() {
        APMMeasurement::monitor().TEST_setMessageObserver([this](const APMMonitorMessage& m) {
            std::lock_guard lock(mutex_);
            messages_.push_back(m);
        });
    }
    ~MonitorRecorder() { APMMeasurement::monitor().TEST_setMessageObserver(nullptr); }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    std::vector<APMMonitorMessage> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::int64_t> codes() const {
        std::vector<std::int64_t> codes;
        for (const APMMonitorMessage& m : messages()) {
            codes.push_back(m.code);
        }
        return codes;
    }
    bool saw(std::int64_t code) const {
        const auto all = codes();
        return std::find(all.begin(), all.end(), code) != all.end();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<APMMonitorMessage> messages_;  // guarded by mutex_
};

}  // namespace sdktest
