#include "sdk/measurement/engine/APMASLLogger.h"

#include <cstdio>

#include "sdk/utilities/VDULogger.h"

namespace {

constexpr std::string_view kSubsystem = "com.vovidu.razudizo.analytics";
constexpr std::int64_t kDebugLevel = 7;

}  // namespace

void APMASLLogger::logMessage(std::string_view message, std::string_view logTag,
                              std::int64_t messageCode, std::int64_t logLevel) const {
    char code[32];
    std::snprintf(code, sizeof code, "I-ACS%06lld", static_cast<long long>(messageCode));
    // Without arguments the logger takes the text as it is, percent signs included.
    VDULoggerLogMessage(VDULoggerLevelFromLogLevel(logLevel), kSubsystem, logTag,
                        logLevel == kDebugLevel, code, message, nullptr);
}

std::int64_t APMASLLogger::VDULoggerLevelFromLogLevel(std::int64_t logLevel) {
    if (logLevel < 0 || logLevel > 8) {
        return VDULoggerLevelWarning;
    }
    if (logLevel <= 2) {
        return VDULoggerLevelError;
    }
    if (logLevel <= 5) {
        return VDULoggerLevelWarning;
    }
    return logLevel == 6 ? VDULoggerLevelNotice : VDULoggerLevelDebug;
}
