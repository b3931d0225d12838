#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/utilities/FormatString.h"

// The SDK core's logging layer over the shared logger (VDULogger). Every message carries a
// service in brackets ("[RazudizoCore]"), a message code ("I-COR000001") and a text, and goes to
// the shared logger under the subsystem "com.vovidu.razudizo".
//
// Every function except RZDLoggerSetAnalyticsDebugMode first runs the layer's one-time set-up
// (RZDLoggerInitialize), which reads the persisted debug switch: "-RZDDebugEnabled" on the
// command line stores "/vovidu/razudizo/debug_mode" YES in the standard user defaults and
// forces debug output; the stored YES keeps doing so on later launches; "-RZDDebugDisabled"
// removes the key and wins over both.
//
// With the analytics debug flag set, messages of the service "[RazudizoAnalytics]" are written
// whatever the level. All functions are safe from any thread; logging never fails toward the
// caller.

inline constexpr std::string_view kRZDLoggerServiceCore = "[RazudizoCore]";
inline constexpr std::string_view kRZDLoggerServiceAnalytics = "[RazudizoAnalytics]";
inline constexpr std::string_view kRZDLoggerSubsystem = "com.vovidu.razudizo";
// The persisted debug switch in the standard user defaults.
inline constexpr std::string_view kRZDDebugModeKey = "/vovidu/razudizo/debug_mode";
inline constexpr std::string_view kRZDDebugEnabledArgument = "-RZDDebugEnabled";
inline constexpr std::string_view kRZDDebugDisabledArgument = "-RZDDebugDisabled";

// Runs the one-time set-up if it has not run: the core version opens every line, the debug
// switch is read from the command line and the standard user defaults (see above), and the
// shared logger is set up (forced debug when the switch is on).
void RZDLoggerInitialize();

// Logs `message` at `level` for `service` with `messageCode`: filled with `arguments`, or
// verbatim ("%@" and all) when `arguments` is null. Forced when the analytics debug flag is set
// and `service` is exactly "[RazudizoAnalytics]".
void RZDLoggerLogBasic(std::int64_t level, std::string_view service, std::string_view messageCode,
                       std::string_view message, const sdk::FormatArgs* arguments);

// RZDLoggerLogBasic at 3, 4, 5, 6, 7 with an argument list already made.
void RZDLoggerLogBasicError(std::string_view service, std::string_view messageCode,
                            std::string_view format, const sdk::FormatArgs& arguments);
void RZDLoggerLogBasicWarning(std::string_view service, std::string_view messageCode,
                              std::string_view format, const sdk::FormatArgs& arguments);
void RZDLoggerLogBasicNotice(std::string_view service, std::string_view messageCode,
                             std::string_view format, const sdk::FormatArgs& arguments);
void RZDLoggerLogBasicInfo(std::string_view service, std::string_view messageCode,
                           std::string_view format, const sdk::FormatArgs& arguments);
void RZDLoggerLogBasicDebug(std::string_view service, std::string_view messageCode,
                            std::string_view format, const sdk::FormatArgs& arguments);

namespace rzd_logger_detail {
// Runs the set-up; true when a message of `level` for `service` would be written.
bool passes(std::int64_t level, std::string_view service);

template <typename... Args>
void log(std::int64_t level, std::string_view service, std::string_view messageCode,
         std::string_view format, const Args&... args) {
    if (!passes(level, service)) {
        return;  // nothing formatted
    }
    const sdk::FormatArgs arguments{sdk::FormatArg(args)...};
    RZDLoggerLogBasic(level, service, messageCode, format, &arguments);
}
}  // namespace rzd_logger_detail

// RZDLoggerLogBasic at 3 (error), 4 (warning), 5 (notice), 6 (info), 7 (debug); `format` is a
// format even without arguments ("%%" prints "%").
template <typename... Args>
void RZDLoggerLogError(std::string_view service, std::string_view messageCode,
                       std::string_view format, const Args&... args) {
    rzd_logger_detail::log(3, service, messageCode, format, args...);
}
template <typename... Args>
void RZDLoggerLogWarning(std::string_view service, std::string_view messageCode,
                         std::string_view format, const Args&... args) {
    rzd_logger_detail::log(4, service, messageCode, format, args...);
}
template <typename... Args>
void RZDLoggerLogNotice(std::string_view service, std::string_view messageCode,
                        std::string_view format, const Args&... args) {
    rzd_logger_detail::log(5, service, messageCode, format, args...);
}
template <typename... Args>
void RZDLoggerLogInfo(std::string_view service, std::string_view messageCode,
                      std::string_view format, const Args&... args) {
    rzd_logger_detail::log(6, service, messageCode, format, args...);
}
template <typename... Args>
void RZDLoggerLogDebug(std::string_view service, std::string_view messageCode,
                       std::string_view format, const Args&... args) {
    rzd_logger_detail::log(7, service, messageCode, format, args...);
}

// The shared logger's level: set (any value is passed on; the shared logger refuses one outside
// 3..7 with its own error), read, and set to 3, 4, 5 or 7.
void RZDLoggerSetLevel(std::int64_t level);
std::int64_t RZDLoggerGetLevel();
void RZDLoggerSetLevelError();
void RZDLoggerSetLevelWarning();
void RZDLoggerSetLevelNotice();
void RZDLoggerSetLevelDebug();

// True when `analyticsComponent` and the analytics debug flag are both set; else whether the
// shared logger writes `level`.
bool RZDLoggerIsLoggableLevel(std::int64_t level, bool analyticsComponent);
bool RZDLoggerIsLoggableError();
bool RZDLoggerIsLoggableWarning();
bool RZDLoggerIsLoggableNotice();
bool RZDLoggerIsLoggableDebug();

// Sets the analytics debug flag (initially false). Does not run the set-up.
void RZDLoggerSetAnalyticsDebugMode(bool enabled);
