#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMMonitor.h"

// Logs one audience diagnostic through the engine's monitor and answers "no result", so a
// leaf test can end with `return APMAudienceNoResult(...)`.
template <class... Contexts>
std::optional<bool> APMAudienceNoResult(std::int64_t level, std::int64_t code,
                                        std::string_view message, Contexts&&... contexts) {
    APMMonitor::shared().logWithLevel(
        level, code, message,
        std::vector<APMMonitorContext>{APMMonitorContext(std::forward<Contexts>(contexts))...});
    return std::nullopt;
}

// Logs one audience diagnostic through the engine's monitor.
template <class... Contexts>
void APMAudienceLog(std::int64_t level, std::int64_t code, std::string_view message,
                    Contexts&&... contexts) {
    APMAudienceNoResult(level, code, message, std::forward<Contexts>(contexts)...);
}
