#include "sdk/measurement/experiments/APMEMonitor.h"

#include <utility>

#include "sdk/measurement/engine/APMMonitor.h"

void APMEMonitor::logWithLevel(std::int64_t level, std::int64_t code, std::string_view message) {
    APMMonitor::shared().logWithLevel(level, code, message);
}

void APMEMonitor::logWithLevel(std::int64_t level, std::int64_t code, std::string_view message,
                               std::vector<APMMonitorContext> contexts) {
    APMMonitor::shared().logWithLevel(level, code, message, std::move(contexts));
}

void APMEMonitor::clearMonitoringData() {
    APMMonitor::shared().clearMonitoringData();
}
