#include "sdk/measurement/script/APMPixieLogger.h"

#include "sdk/measurement/engine/APMMonitor.h"

std::int64_t APMPixieLogger::monitorLevel(std::int64_t scriptLevel, bool silent, bool monitored) {
    switch (scriptLevel) {
        case 2:
            return 8;
        case 3:
            return 7;
        case 5:
            return silent ? 5 : (monitored ? 4 : 3);
        case 6:
            return silent ? 2 : (monitored ? 1 : 0);
        default:
            return 6;
    }
}

void APMPixieLogger::logWithLevel(std::int64_t level, std::string_view message,
                                  const std::vector<std::string>& contexts, bool silent,
                                  bool monitored) const {
    std::vector<APMMonitorContext> monitorContexts(contexts.begin(), contexts.end());
    APMMonitor::shared().logWithLevel(monitorLevel(level, silent, monitored), 24005, message,
                                      std::move(monitorContexts));
}
