#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/utilities/FormatString.h"

// The SDK's one diagnostic sink. A message has a level, a subsystem and a category (which
// select the log object it is written to), a message code such as "I-COR000023", and a format
// with arguments. Messages above the current level are dropped on the caller's thread at the
// cost of one comparison; the others are formatted on the caller's thread into the line
// "<version> - <category>[<code>] <text>" and written, in the order they were logged, by one
// serial queue ("VDULoggingClientQueue") to the log object of their subsystem and category.
//
// State (process-wide): the current level (0 until set-up, then 5), the forced-debug flag,
// the version string (empty until set) and, on the queue only, the log-object cache. The
// level and flag are atomics and the version string is under a mutex, so every function may
// be called from any thread.
//
// On Linux a log object writes each line to stderr, and to syslog when a syslog socket is
// present; debug lines are enabled like all others (the level filter decides).

// Message levels; a message is shown when its level is at or below the current level.
enum VDULoggerLevel : std::int64_t {
    VDULoggerLevelError = 3,
    VDULoggerLevelWarning = 4,
    VDULoggerLevelNotice = 5,
    VDULoggerLevelInfo = 6,
    VDULoggerLevelDebug = 7,
};

// The platform log types the levels map to.
enum class VDULogType : std::uint8_t {
    kDefault = 0x00,
    kInfo = 0x01,
    kDebug = 0x02,
    kError = 0x10
};

// Maps a level to its log type: 3 error, 4 and 5 default, 6 info, 7 debug; any other level
// (below 3, above 7) error.
VDULogType VDULoggerLogTypeForLevel(std::int64_t level);

// Runs the one-time set-up: current level 5, the logging queue, an empty log-object cache, and
// a flush of the queue when the process exits normally (so lines logged just before `exit` or
// the return from `main` are written) and when a dispatch block lets an exception escape
// (platform::setUncaughtExceptionHook). Later calls do nothing.
void VDULoggerInitialize();

// Waits until every line queued so far has been written, for at most two seconds (so a stuck
// log object cannot hold up an exit). Returns at once when called on the logging queue itself.
// Called at exit, when an exception escapes a dispatch block, and before the SDK ends the
// process itself (see sdk/utilities/Fatal.h).
void VDULoggerFlush();

// Unless the app is from the App Store: sets the forced-debug flag (every message passes the
// filter) and the level 7. From the App Store it does nothing.
void VDULoggerForceDebug();

// Sets the current level to `level` (3 to 7). Levels 5 and above are ignored when the app is
// from the App Store. Any other value leaves the level alone and logs, forced, at error level
// "Invalid logger level, <level>" with code "I-COR000023" under category "[VDULogger]".
void VDULoggerSetLevel(std::int64_t level);

// The current level; 0 before the set-up (it does not run the set-up).
std::int64_t VDULoggerGetLevel();

// Runs the set-up if needed; true when `level` is at or below the current level or the
// forced-debug flag is set.
bool VDULoggerIsLoggable(std::int64_t level);

// Replaces the version string that opens every line.
void VDULoggerSetVersionString(std::string version);

// Logs one message: when `force` is set, the level is loggable, or debug is forced, the text
// (`format` filled with `arguments`; `format` itself, percent signs and all, when `arguments`
// is null) is formatted into the line and queued for writing. Never fails toward the caller.
void VDULoggerLogMessage(std::int64_t level, std::string_view subsystem, std::string_view category,
                         bool force, std::string_view messageCode, std::string_view format,
                         const sdk::FormatArgs* arguments);

namespace vdu_logger_detail {
// True when a message of `level` passes the filter; runs the set-up if needed.
bool passes(std::int64_t level, bool force);

template <typename... Args>
void log(std::int64_t level, std::string_view subsystem, std::string_view category, bool force,
         std::string_view messageCode, std::string_view format, const Args&... args) {
    if (!passes(level, force)) {
        return;  // nothing formatted, nothing queued
    }
    if constexpr (sizeof...(Args) == 0) {
        VDULoggerLogMessage(level, subsystem, category, force, messageCode, format, nullptr);
    } else {
        const sdk::FormatArgs arguments{sdk::FormatArg(args)...};
        VDULoggerLogMessage(level, subsystem, category, force, messageCode, format, &arguments);
    }
}
}  // namespace vdu_logger_detail

// `VDULoggerLogMessage` at levels 3 to 7. Without arguments the format is the text as is.
template <typename... Args>
void VDULoggerLogError(std::string_view subsystem, std::string_view category, bool force,
                       std::string_view messageCode, std::string_view format, const Args&... args) {
    vdu_logger_detail::log(VDULoggerLevelError, subsystem, category, force, messageCode, format,
                           args...);
}

template <typename... Args>
void VDULoggerLogWarning(std::string_view subsystem, std::string_view category, bool force,
                         std::string_view messageCode, std::string_view format,
                         const Args&... args) {
    vdu_logger_detail::log(VDULoggerLevelWarning, subsystem, category, force, messageCode, format,
                           args...);
}

template <typename... Args>
void VDULoggerLogNotice(std::string_view subsystem, std::string_view category, bool force,
                        std::string_view messageCode, std::string_view format,
                        const Args&... args) {
    vdu_logger_detail::log(VDULoggerLevelNotice, subsystem, category, force, messageCode, format,
                           args...);
}

template <typename... Args>
void VDULoggerLogInfo(std::string_view subsystem, std::string_view category, bool force,
                      std::string_view messageCode, std::string_view format, const Args&... args) {
    vdu_logger_detail::log(VDULoggerLevelInfo, subsystem, category, force, messageCode, format,
                           args...);
}

template <typename... Args>
void VDULoggerLogDebug(std::string_view subsystem, std::string_view category, bool force,
                       std::string_view messageCode, std::string_view format, const Args&... args) {
    vdu_logger_detail::log(VDULoggerLevelDebug, subsystem, category, force, messageCode, format,
                           args...);
}

// The writer behind one (subsystem, category) pair, in place of a platform log object.
// Called on the logging queue only.
class VDULogObject {
  public:
    virtual ~VDULogObject() = default;
    // Whether lines of `type` are written at all.
    virtual bool isEnabled(VDULogType type) const = 0;
    // Writes one finished line.
    virtual void write(VDULogType type, const std::string& line) = 0;
};

// Makes log objects; the logger asks once per (subsystem, category) pair and caches the
// result. Called on the logging queue only.
class VDULogSink {
  public:
    virtual ~VDULogSink() = default;
    virtual std::unique_ptr<VDULogObject> createLogObject(std::string_view subsystem,
                                                          std::string_view category) = 0;
};

// Test hook: routes later lines to `sink` (null restores stderr/syslog) and empties the
// log-object cache. Waits for lines already queued to reach the previous sink first.
void TEST_VDULoggerSetSink(std::shared_ptr<VDULogSink> sink);

// Test hook: waits until every line queued so far has been written.
void TEST_VDULoggerFlush();

// Test hook: forgets the forced-debug flag and the version string and sets the level back to
// 5 (the set-up's value), running the set-up if needed.
void TEST_VDULoggerReset();
