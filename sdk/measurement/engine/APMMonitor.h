#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMMonitorContext.h"

// One message as the monitor received it, before any filtering.
struct APMMonitorMessage {
    std::int64_t level = 0;
    std::int64_t code = 0;
    std::string message;
    std::vector<APMMonitorContext> contexts;
};

// The measurement SDK's one diagnostic sink. Every message has a level and a numeric code:
//
//   level  name       shared-logger level  silent  monitorable
//   0      ERROR      3                    no      no
//   1      ERROR      3                    no      yes
//   2      ERROR      3                    yes     yes
//   3      WARNING    4                    no      no
//   4      WARNING    4                    no      yes
//   5      WARNING    4                    yes     yes
//   6      NOTICE     5                    no      no
//   7      DEBUG      7                    no      no
//   8      (verbose)  7                    no      no
//   other  (none)     4                    yes     yes
//
// A message prints when its level is not silent and the shared logger (VDULogger) accepts the
// mapped level; a verbose (8) message prints only while verbose logging is on. It is written
// through VDULogger with subsystem "com.vovidu.razudizo.analytics", the log tag as category
// and the code as "I-ACS%06ld"; the text is the message, or the message, ": " and the
// contexts' descriptions joined by ", ".
//
// Monitorable messages are where the health sample hooks in; sampling and context encoding
// are not part of this monitor yet.
//
// Thread-safety: every member may be called from any thread. The flags are atomics; the test
// observer is guarded by observerMutex_. Printing is queued by VDULogger, so logging never
// blocks on output.
class APMMonitor {
  public:
    // The monitor of a library version (written into health samples later).
    explicit APMMonitor(std::int64_t libraryVersion);

    APMMonitor(const APMMonitor&) = delete;
    APMMonitor& operator=(const APMMonitor&) = delete;

    // Logs `message` with `level` and `code`, with no, one, two or three contexts.
    void logWithLevel(std::int64_t level, std::int64_t code, std::string_view message) {
        logWithLevel(level, code, message, std::vector<APMMonitorContext>{});
    }
    void logWithLevel(std::int64_t level, std::int64_t code, std::string_view message,
                      APMMonitorContext context) {
        logWithLevel(level, code, message, std::vector<APMMonitorContext>{std::move(context)});
    }
    void logWithLevel(std::int64_t level, std::int64_t code, std::string_view message,
                      APMMonitorContext context1, APMMonitorContext context2) {
        logWithLevel(level, code, message,
                     std::vector<APMMonitorContext>{std::move(context1), std::move(context2)});
    }
    void logWithLevel(std::int64_t level, std::int64_t code, std::string_view message,
                      APMMonitorContext context1, APMMonitorContext context2,
                      APMMonitorContext context3) {
        logWithLevel(level, code, message,
                     std::vector<APMMonitorContext>{std::move(context1), std::move(context2),
                                                    std::move(context3)});
    }
    // Logs with any number of contexts.
    void logWithLevel(std::int64_t level, std::int64_t code, std::string_view message,
                      std::vector<APMMonitorContext> contexts);

    // Debug mode: only the flag for now; the engine adds the level changes and persistence.
    bool isDebugModeEnabled() const { return debugModeEnabled_.load(std::memory_order_relaxed); }
    void setDebugModeEnabled(bool enabled) {
        debugModeEnabled_.store(enabled, std::memory_order_relaxed);
    }

    // Verbose logging: lets level-8 messages print. Only the flag for now.
    bool isVerboseLoggingEnabled() const {
        return verboseLoggingEnabled_.load(std::memory_order_relaxed);
    }
    void setVerboseLoggingEnabled(bool enabled) {
        verboseLoggingEnabled_.store(enabled, std::memory_order_relaxed);
    }

    // The category of printed lines: "<DivEdadevadeze>".
    const std::string& logTag() const { return logTag_; }

    std::int64_t libraryVersion() const { return libraryVersion_; }

    // The level table above.
    static std::string logLevelDescriptionFromLogLevel(std::int64_t level);
    static bool isSilentLevel(std::int64_t level);
    static bool isMonitorableLevel(std::int64_t level);
    static std::int64_t VDULoggerLevelFromLogLevel(std::int64_t level);

    // The printed text: the message ("(Message was empty)" for an empty one), then, when there
    // are contexts, ": " and their descriptions joined by ", ".
    static std::string stringWithLogMessage(std::string_view message,
                                            const std::vector<APMMonitorContext>& contexts);

    // Test hook: `observer` receives every message logged from now on, printed or not, on the
    // caller's thread and before any filtering; an empty function removes it. The observer must
    // not log through this monitor.
    void TEST_setMessageObserver(std::function<void(const APMMonitorMessage&)> observer);

  private:
    bool isLoggable(std::int64_t level) const;
    void notifyObserver(std::int64_t level, std::int64_t code, std::string_view message,
                        const std::vector<APMMonitorContext>& contexts);

    const std::int64_t libraryVersion_;
    const std::string logTag_ = "<DivEdadevadeze>";
    std::atomic<bool> debugModeEnabled_{false};
    std::atomic<bool> verboseLoggingEnabled_{false};
    std::mutex observerMutex_;
    std::function<void(const APMMonitorMessage&)> observer_;  // guarded by observerMutex_
};
