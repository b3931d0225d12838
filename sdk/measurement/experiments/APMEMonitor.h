#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMMonitorContext.h"

// The experiments client's diagnostics. Each message goes to the measurement monitor
// (APMMonitor::shared()) with the same level, code, text and contexts, so the experiments
// client prints, filters and samples exactly as the measurement engine does.
//
// Thread-safety: callable from any thread, as the measurement monitor is.
class APMEMonitor {
  public:
    APMEMonitor() = delete;

    // Logs `message` with `level` and `code`, without contexts.
    static void logWithLevel(std::int64_t level, std::int64_t code, std::string_view message);
    // Logs `message` with `level`, `code` and `contexts`, in their order.
    static void logWithLevel(std::int64_t level, std::int64_t code, std::string_view message,
                             std::vector<APMMonitorContext> contexts);
    // Clears the measurement monitor's debug switch and saved samples.
    static void clearMonitoringData();
};
