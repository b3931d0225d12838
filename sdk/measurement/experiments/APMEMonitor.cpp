#include "sdk/measurement/experiments/APMEMonitor.h"

#include <utility>

#include "sdk/measurement/engine/APMMeasurement.h"

void APMEMonitor::logWithLevel(std::int64_t level, std::int64_t code, std::string_view message) {
    APMMeasurement::monitor().logWithLevel(level, code, message);
}

void APMEMonitor::logWithLevel(std::int64_t level, std::int64_t code, std::string_view message,
                               std::vector<APMMonitorContext> contexts) {
    APMMeasurement::monitor().logWithLevel(level, code, message, std::move(contexts));
}

void APMEMonitor::clearMonitoringData() {
    APMMeasurement::monitor().clearMonitoringData();
}
