#include "sdk/measurement/engine/APMMonitor.h"

#include <cstdio>

#include "sdk/utilities/VDULogger.h"

namespace {

constexpr std::string_view kSubsystem = "com.vovidu.razudizo.analytics";
constexpr std::int64_t kVerboseLevel = 8;

bool isTableLevel(std::int64_t level) {
    return level >= 0 && level <= kVerboseLevel;
}

}  // namespace

APMMonitor::APMMonitor(std::int64_t libraryVersion) : libraryVersion_(libraryVersion) {}

std::string APMMonitor::logLevelDescriptionFromLogLevel(std::int64_t level) {
    if (level >= 0 && level <= 2) {
        return "ERROR";
    }
    if (level >= 3 && level <= 5) {
        return "WARNING";
    }
    if (level == 6) {
        return "NOTICE";
    }
    return level == 7 ? "DEBUG" : "";
}

bool APMMonitor::isSilentLevel(std::int64_t level) {
    return !isTableLevel(level) || level == 2 || level == 5;
}

bool APMMonitor::isMonitorableLevel(std::int64_t level) {
    return !isTableLevel(level) || (level >= 1 && level <= 5 && level != 3);
}

std::int64_t APMMonitor::VDULoggerLevelFromLogLevel(std::int64_t level) {
    if (!isTableLevel(level)) {
        return VDULoggerLevelWarning;
    }
    if (level <= 2) {
        return VDULoggerLevelError;
    }
    if (level <= 5) {
        return VDULoggerLevelWarning;
    }
    return level == 6 ? VDULoggerLevelNotice : VDULoggerLevelDebug;
}

std::string APMMonitor::stringWithLogMessage(std::string_view message,
                                             const std::vector<APMMonitorContext>& contexts) {
    std::string text = message.empty() ? "(Message was empty)" : std::string(message);
    if (contexts.empty()) {
        return text;
    }
    text += ": ";
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += contexts[i].description();
    }
    return text;
}

bool APMMonitor::isLoggable(std::int64_t level) const {
    return !isSilentLevel(level) && VDULoggerIsLoggable(VDULoggerLevelFromLogLevel(level));
}

void APMMonitor::logWithLevel(std::int64_t level, std::int64_t code, std::string_view message,
                              std::vector<APMMonitorContext> contexts) {
    notifyObserver(level, code, message, contexts);
    if (!isLoggable(level) || (level == kVerboseLevel && !isVerboseLoggingEnabled())) {
        return;
    }
    char codeText[32];
    std::snprintf(codeText, sizeof codeText, "I-ACS%06lld", static_cast<long long>(code));
    // Without arguments the logger takes the text as it is, percent signs included.
    VDULoggerLogMessage(VDULoggerLevelFromLogLevel(level), kSubsystem, logTag_, level == 7,
                        codeText, stringWithLogMessage(message, contexts), nullptr);
}

void APMMonitor::TEST_setMessageObserver(std::function<void(const APMMonitorMessage&)> observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = std::move(observer);
}

void APMMonitor::notifyObserver(std::int64_t level, std::int64_t code, std::string_view message,
                                const std::vector<APMMonitorContext>& contexts) {
    std::lock_guard lock(observerMutex_);
    if (observer_) {
        observer_(APMMonitorMessage{level, code, std::string(message), contexts});
    }
}
