// The network client's diagnostics, passed on to the engine's monitor.
#include "sdk/measurement/engine/core/APMMeasurement.h"

namespace {

std::vector<APMMonitorContext> monitorContexts(const std::vector<sdk::Value>& contexts) {
    return std::vector<APMMonitorContext>(contexts.begin(), contexts.end());
}

}  // namespace

std::int64_t APMMeasurement::monitorLevelFromNetworkLevel(std::int64_t level) {
    switch (level) {
        case 3:
            return 1;
        case 4:
            return 4;
        case 5:
            return 3;
        case 6:
            return 6;
        case 7:
            return 7;
        default:
            return 3;
    }
}

void APMMeasurement::VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                             const std::optional<std::string>& message,
                                             const std::vector<sdk::Value>& contexts) {
    monitor().logWithLevel(monitorLevelFromNetworkLevel(level), messageCode,
                           message.value_or(std::string()), monitorContexts(contexts));
}

void APMMeasurement::VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                             const std::optional<std::string>& message,
                                             const sdk::Value& context) {
    VDUNetwork_logWithLevel(level, messageCode, message, std::vector<sdk::Value>{context});
}

void APMMeasurement::VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                             const std::optional<std::string>& message) {
    VDUNetwork_logWithLevel(level, messageCode, message, std::vector<sdk::Value>{});
}
