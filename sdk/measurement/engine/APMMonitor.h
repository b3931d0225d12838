#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/engine/APMASLLogger.h"
#include "sdk/measurement/engine/APMMonitorContext.h"
#include "sdk/measurement/engine/APMMonitoringSampledData.h"

class APMUserDefaults;

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
// through APMASLLogger as "<version> - <log tag>[I-ACS<code>] <text>", where the text is the
// message, or the message, ": " and the contexts (their descriptions, or their privacy
// encodings while encodeContexts is on).
//
// A monitorable message is counted in the health sample (APMMonitoringSampledData): one
// message kept as a uniform random choice among all monitorable messages since the sample
// began, with its contexts privacy-encoded (no text or value leaves the device, only kinds
// and orders of magnitude). The sample is saved in the suite "com.vovidu.vud.measurement.monitor"
// after every message and dispatched with an upload bundle once its period has passed.
//
// Debug mode and verbose logging come from the launch arguments and the shared user defaults
// at construction (not for an installation from the store) and persist across launches.
//
// Design notes:
// 1. The sample lives on the monitor queue "APMMonitorQueue" only: inserts run there
//    asynchronously, dispatch and clearing synchronously, so it needs no lock.
// 2. Printing happens on the caller's thread into VDULogger, which queues the line, so logging
//    never blocks on output and lines keep their order.
// 3. Level, switches and the encode flag are atomics; the log tag is guarded by tagMutex_ and
//    the test observer by observerMutex_. Every member may be called from any thread except
//    that the destructor must not run on the monitor queue.
class APMMonitor {
  public:
    // The monitor of a library version: level 6, the shared user defaults and the monitor's
    // suite in the preferences folder.
    explicit APMMonitor(std::int64_t libraryVersion);

    // The same over the given user defaults (`sharedDefaults` in place of
    // APMUserDefaults::sharedUserDefaults(), `monitorDefaults` in place of the monitor's suite).
    // Starts by migrating and loading the stored sample on the monitor queue, then applies the
    // debug and verbose switches.
    // REQUIRES: both defaults are not null.
    APMMonitor(std::int64_t logLevel, APMASLLogger logger, std::int64_t libraryVersion,
               std::shared_ptr<APMUserDefaults> sharedDefaults,
               std::shared_ptr<APMUserDefaults> monitorDefaults);

    // Waits for the blocks queued on the monitor queue.
    ~APMMonitor();

    // The process's one monitor, for the current library version, made on first use and never
    // destroyed (code running during exit may still log). The engine hands it out as
    // APMMonitor::shared(); the stores and the subsystems below the engine log through it
    // here. Safe from any thread.
    static APMMonitor& shared();

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

    // The level the mode switches last set (6, 7 or 8); filtering goes by the shared logger.
    std::int64_t logLevel() const { return logLevel_.load(std::memory_order_relaxed); }
    void setLogLevel(std::int64_t level) { logLevel_.store(level, std::memory_order_relaxed); }

    // Debug mode on (not from the store): level 7, shared logger 7 unless the core governs it,
    // "/vovidu/measurement/debug_mode" stored, 24000. Off: level 6, shared logger 5, the key
    // removed, 24001.
    bool isDebugModeEnabled() const { return debugModeEnabled_.load(std::memory_order_relaxed); }
    void setDebugModeEnabled(bool enabled);

    // Verbose logging on (not from the store): level 8, shared logger 7,
    // "/vovidu/measurement/verbose_logging" stored, 24003. Off: level 7 in debug mode else 6,
    // the shared logger at its mapping, the key removed, 24004.
    bool isVerboseLoggingEnabled() const {
        return verboseLoggingEnabled_.load(std::memory_order_relaxed);
    }
    void setVerboseLoggingEnabled(bool enabled);

    // Debug mode for this run only (from an opened link): as setDebugModeEnabled without the
    // user default, codes 24006 and 24007.
    void setSTGWDebugModeEnabled(bool enabled);

    // Whether printed lines carry encoded contexts instead of descriptions.
    bool encodeContexts() const { return encodeContexts_.load(std::memory_order_relaxed); }
    void setEncodeContexts(bool encode) {
        encodeContexts_.store(encode, std::memory_order_relaxed);
    }

    // The category of printed lines: "<DivEdadevadeze>" unless set.
    std::string logTag() const;
    void setLogTag(std::string tag);

    std::int64_t libraryVersion() const { return libraryVersion_; }

    // The health data to send with a bundle, or no value: "0:" when there is no sample and
    // `lastSampledTimestamp` (seconds since 1970) is positive and more than `samplePeriod`
    // seconds away from now; "<population>:<key>[:<context>]" when the sample began more than
    // the period ago, which also clears the saved sample; else nothing. Waits for the monitor
    // queue.
    std::optional<std::string> monitoringDataForDispatch(double samplePeriod,
                                                         double lastSampledTimestamp);

    // Removes the debug switch and every saved sample, and forgets the current one. Waits for
    // the monitor queue.
    void clearMonitoringData();

    // The level table above.
    static std::string logLevelDescriptionFromLogLevel(std::int64_t level);
    static bool isSilentLevel(std::int64_t level);
    static bool isMonitorableLevel(std::int64_t level);

    // Privacy encodings: nil and null give "", a text "-", a number its value when |v| <= 99
    // and else the decade holding it ("100...999", "-9999...-1000", clamped to the int64
    // range), an exception its name, an error its domain, anything else "?". The array form
    // joins them with ", " or ",".
    static std::string encodedStringWithContextObject(const APMMonitorContext& context);
    static std::string encodedStringWithContextArray(const std::vector<APMMonitorContext>& contexts,
                                                     bool insertSpaces);

    // The printed text: the message ("(Message was empty)" for an empty one), then, when there
    // are contexts, ": " and the contexts encoded (with spaces) or their descriptions joined by
    // ", ".
    static std::string stringWithLogMessage(std::string_view message, std::int64_t level,
                                            const std::vector<APMMonitorContext>& contexts,
                                            bool encodeContexts);

    // The symbol that stands for where an exception came from: its name (no call stacks
    // here). No value for no exception.
    static std::optional<std::string> lastAPMSymbolFromException(
        const APMCaughtException* exception);

    // "1" + "E" (levels 0-2), "W" (3-5) or "?" + "_" + version + ":" + message.
    static std::string monitoringDataKeyWithMessage(std::string_view message, std::int64_t level,
                                                    std::int64_t libraryVersion);

  private:
    // Tests set the message observer and wait for the monitor queue through it
    // (tests/sdk/measurement/engine/APMMonitorTestPeer.h).
    friend class APMMonitorTestPeer;

    bool isLoggable(std::int64_t level) const;
    void notifyObserver(std::int64_t level, std::int64_t code, std::string_view message,
                        const std::vector<APMMonitorContext>& contexts);
    void applyLaunchSwitches();
    void setSharedLoggerLevel(std::int64_t level) const;
    // Monitor queue only.
    void migrateOnMonitorQueue();
    void loadSampleOnMonitorQueue();
    void saveSampleOnMonitorQueue();

    const std::int64_t libraryVersion_;
    const APMASLLogger logger_;
    const std::shared_ptr<APMUserDefaults> sharedDefaults_;
    const std::shared_ptr<APMUserDefaults> monitorDefaults_;
    const bool fromAppStore_;
    const platform::QueueRef monitorQueue_;

    std::atomic<std::int64_t> logLevel_;
    std::atomic<bool> deferToRZDLogger_{false};
    std::atomic<bool> debugModeEnabled_{false};
    std::atomic<bool> verboseLoggingEnabled_{false};
    std::atomic<bool> encodeContexts_{false};

    mutable std::mutex tagMutex_;
    std::string logTag_ = "<DivEdadevadeze>";  // guarded by tagMutex_

    std::mutex observerMutex_;
    // Set by tests only: receives every message before any filtering.
    std::function<void(const APMMonitorMessage&)> observer_;  // guarded by observerMutex_

    APMMonitoringSampledData sampledData_;                  // monitor queue only
    std::mt19937_64 sampleRandom_{std::random_device{}()};  // monitor queue only
};
