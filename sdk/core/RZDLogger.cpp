#include "sdk/core/RZDLogger.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/process/ProcessArguments.h"
#include "sdk/core/RZDCoreVersionString.h"
#include "sdk/utilities/VDULogger.h"
#include "sdk/utilities/VDUUserDefaults.h"

namespace {

std::atomic<bool> gAnalyticsDebugMode{false};

bool hasArgument(const std::vector<std::string>& arguments, std::string_view wanted) {
    return std::find(arguments.begin(), arguments.end(), wanted) != arguments.end();
}

void setUp() {
    VDULoggerSetVersionString(RZDCoreVersionString());
    const std::vector<std::string> arguments = platform::processArguments();
    VDUUserDefaults& defaults = VDUUserDefaults::standardUserDefaults();
    const bool stored = defaults.boolForKey(kRZDDebugModeKey);
    if (hasArgument(arguments, kRZDDebugDisabledArgument)) {
        defaults.removeObjectForKey(kRZDDebugModeKey);
        VDULoggerInitialize();
    } else if (hasArgument(arguments, kRZDDebugEnabledArgument) || stored) {
        defaults.setBool(true, kRZDDebugModeKey);
        VDULoggerInitialize();
        VDULoggerForceDebug();
    } else {
        VDULoggerInitialize();
    }
}

bool forced(std::string_view service) {
    return gAnalyticsDebugMode.load() && service == kRZDLoggerServiceAnalytics;
}

}  // namespace

void RZDLoggerInitialize() {
    static std::once_flag once;
    std::call_once(once, setUp);
}

bool rzd_logger_detail::passes(std::int64_t level, std::string_view service) {
    RZDLoggerInitialize();
    return forced(service) || VDULoggerIsLoggable(level);
}

void RZDLoggerLogBasic(std::int64_t level, std::string_view service, std::string_view messageCode,
                       std::string_view message, const sdk::FormatArgs* arguments) {
    RZDLoggerInitialize();
    VDULoggerLogMessage(level, kRZDLoggerSubsystem, service, forced(service), messageCode, message,
                        arguments);
}

void RZDLoggerLogBasicError(std::string_view service, std::string_view messageCode,
                            std::string_view format, const sdk::FormatArgs& arguments) {
    RZDLoggerLogBasic(3, service, messageCode, format, &arguments);
}

void RZDLoggerLogBasicWarning(std::string_view service, std::string_view messageCode,
                              std::string_view format, const sdk::FormatArgs& arguments) {
    RZDLoggerLogBasic(4, service, messageCode, format, &arguments);
}

void RZDLoggerLogBasicNotice(std::string_view service, std::string_view messageCode,
                             std::string_view format, const sdk::FormatArgs& arguments) {
    RZDLoggerLogBasic(5, service, messageCode, format, &arguments);
}

void RZDLoggerLogBasicInfo(std::string_view service, std::string_view messageCode,
                           std::string_view format, const sdk::FormatArgs& arguments) {
    RZDLoggerLogBasic(6, service, messageCode, format, &arguments);
}

void RZDLoggerLogBasicDebug(std::string_view service, std::string_view messageCode,
                            std::string_view format, const sdk::FormatArgs& arguments) {
    RZDLoggerLogBasic(7, service, messageCode, format, &arguments);
}

void RZDLoggerSetLevel(std::int64_t level) {
    RZDLoggerInitialize();
    VDULoggerSetLevel(level);
}

std::int64_t RZDLoggerGetLevel() {
    RZDLoggerInitialize();
    return VDULoggerGetLevel();
}

void RZDLoggerSetLevelError() {
    RZDLoggerSetLevel(3);
}

void RZDLoggerSetLevelWarning() {
    RZDLoggerSetLevel(4);
}

void RZDLoggerSetLevelNotice() {
    RZDLoggerSetLevel(5);
}

void RZDLoggerSetLevelDebug() {
    RZDLoggerSetLevel(7);
}

bool RZDLoggerIsLoggableLevel(std::int64_t level, bool analyticsComponent) {
    RZDLoggerInitialize();
    if (analyticsComponent && gAnalyticsDebugMode.load()) {
        return true;
    }
    return VDULoggerIsLoggable(level);
}

bool RZDLoggerIsLoggableError() {
    return RZDLoggerIsLoggableLevel(3, false);
}

bool RZDLoggerIsLoggableWarning() {
    return RZDLoggerIsLoggableLevel(4, false);
}

bool RZDLoggerIsLoggableNotice() {
    return RZDLoggerIsLoggableLevel(5, false);
}

bool RZDLoggerIsLoggableDebug() {
    return RZDLoggerIsLoggableLevel(7, false);
}

void RZDLoggerSetAnalyticsDebugMode(bool enabled) {
    gAnalyticsDebugMode.store(enabled);
}
