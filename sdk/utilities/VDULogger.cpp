#include "sdk/utilities/VDULogger.h"

#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"

namespace {

constexpr std::string_view kUtilitiesSubsystem = "com.vovidu.utilities.logger";
constexpr std::int64_t kDefaultLevel = VDULoggerLevelNotice;
constexpr std::chrono::seconds kFlushPatience{2};

using LogObjectCache =
    std::map<std::string, std::map<std::string, std::unique_ptr<VDULogObject>, std::less<>>,
             std::less<>>;

struct LoggerState {
    std::once_flag setUp;
    std::atomic<std::int64_t> level{0};
    std::atomic<bool> forcedDebug{false};
    std::mutex versionMutex;
    std::string version;       // guarded by versionMutex
    platform::QueueRef queue;  // written once, inside setUp
    // Touched only on queue:
    std::shared_ptr<VDULogSink> sink;
    LogObjectCache cache;
};

// Process-wide and never destroyed: lines may still be queued while the process exits.
LoggerState& state() {
    static LoggerState* const instance = new LoggerState();
    return *instance;
}

int syslogPriority(VDULogType type) {
    switch (type) {
        case VDULogType::kError:
            return LOG_ERR;
        case VDULogType::kInfo:
            return LOG_INFO;
        case VDULogType::kDebug:
            return LOG_DEBUG;
        case VDULogType::kDefault:
            break;
    }
    return LOG_NOTICE;
}

// Writes each line to stderr, and to syslog when the system has a syslog socket.
class StandardLogObject : public VDULogObject {
  public:
    explicit StandardLogObject(bool useSyslog) : useSyslog_(useSyslog) {}
    bool isEnabled(VDULogType) const override { return true; }
    void write(VDULogType type, const std::string& line) override {
        std::fprintf(stderr, "%s\n", line.c_str());
        if (useSyslog_) {
            syslog(syslogPriority(type), "%s", line.c_str());
        }
    }

  private:
    const bool useSyslog_;
};

class StandardLogSink : public VDULogSink {
  public:
    std::unique_ptr<VDULogObject> createLogObject(std::string_view, std::string_view) override {
        return std::make_unique<StandardLogObject>(useSyslog_);
    }

  private:
    const bool useSyslog_ = access("/dev/log", W_OK) == 0;
};

// Runs on the logging queue.
void writeLine(const std::string& subsystem, const std::string& category, std::int64_t level,
               const std::string& line) {
    LoggerState& s = state();
    if (!s.sink) {
        s.sink = std::make_shared<StandardLogSink>();
    }
    auto& byCategory = s.cache[subsystem];
    auto it = byCategory.find(category);
    if (it == byCategory.end()) {
        it = byCategory.emplace(category, s.sink->createLogObject(subsystem, category)).first;
    }
    const VDULogType type = VDULoggerLogTypeForLevel(level);
    if (it->second && it->second->isEnabled(type)) {
        it->second->write(type, line);
    }
}

}  // namespace

VDULogType VDULoggerLogTypeForLevel(std::int64_t level) {
    switch (level) {
        case VDULoggerLevelWarning:
        case VDULoggerLevelNotice:
            return VDULogType::kDefault;
        case VDULoggerLevelInfo:
            return VDULogType::kInfo;
        case VDULoggerLevelDebug:
            return VDULogType::kDebug;
        default:
            return VDULogType::kError;
    }
}

void VDULoggerInitialize() {
    LoggerState& s = state();
    std::call_once(s.setUp, [&s] {
        s.level.store(kDefaultLevel);
        s.queue = platform::DispatchQueue::createSerial("VDULoggingClientQueue");
        std::atexit(VDULoggerFlush);
        // A block that lets an exception escape ends the process without running exit: the
        // lines logged just before it would be lost.
        platform::setUncaughtExceptionHook(VDULoggerFlush);
    });
}

void VDULoggerFlush() {
    VDULoggerInitialize();
    const platform::QueueRef& queue = state().queue;
    if (queue->isCurrent()) {
        return;  // the lines queued behind this block cannot be written before it returns
    }
    platform::DispatchSemaphore written;
    queue->async([written] { written.signal(); });
    (void)written.wait(kFlushPatience);
}

void VDULoggerForceDebug() {
    if (VDUAppEnvironmentUtil::isFromAppStore()) {
        return;
    }
    state().forcedDebug.store(true);
    VDULoggerSetLevel(VDULoggerLevelDebug);
}

void VDULoggerSetLevel(std::int64_t level) {
    if (level < VDULoggerLevelError || level > VDULoggerLevelDebug) {
        VDULoggerLogError(kUtilitiesSubsystem, "[VDULogger]", true, "I-COR000023",
                          "Invalid logger level, %ld", level);
        return;
    }
    VDULoggerInitialize();
    if (level >= VDULoggerLevelNotice && VDUAppEnvironmentUtil::isFromAppStore()) {
        return;
    }
    state().level.store(level);
}

std::int64_t VDULoggerGetLevel() {
    return state().level.load();
}

bool VDULoggerIsLoggable(std::int64_t level) {
    VDULoggerInitialize();
    const LoggerState& s = state();
    return level <= s.level.load() || s.forcedDebug.load();
}

void VDULoggerSetVersionString(std::string version) {
    LoggerState& s = state();
    std::lock_guard<std::mutex> lock(s.versionMutex);
    s.version = std::move(version);
}

bool vdu_logger_detail::passes(std::int64_t level, bool force) {
    VDULoggerInitialize();  // also when forced: the queue must exist
    return force || VDULoggerIsLoggable(level);
}

void VDULoggerLogMessage(std::int64_t level, std::string_view subsystem, std::string_view category,
                         bool force, std::string_view messageCode, std::string_view format,
                         const sdk::FormatArgs* arguments) {
    if (!vdu_logger_detail::passes(level, force)) {
        return;
    }
    const std::string text =
        arguments != nullptr ? sdk::formatString(format, *arguments) : std::string(format);
    LoggerState& s = state();
    std::string line;
    {
        std::lock_guard<std::mutex> lock(s.versionMutex);
        line = s.version;
    }
    line.append(" - ").append(category).append("[").append(messageCode).append("] ");
    line += text;
    s.queue->async([subsystem = std::string(subsystem), category = std::string(category), level,
                    line = std::move(line)] { writeLine(subsystem, category, level, line); });
}

void TEST_VDULoggerSetSink(std::shared_ptr<VDULogSink> sink) {
    VDULoggerInitialize();
    state().queue->sync([&sink] {
        LoggerState& s = state();
        s.sink = sink ? std::move(sink) : std::make_shared<StandardLogSink>();
        s.cache.clear();
    });
}

void TEST_VDULoggerFlush() {
    VDULoggerInitialize();
    state().queue->sync([] {});
}

void TEST_VDULoggerReset() {
    VDULoggerInitialize();
    LoggerState& s = state();
    s.forcedDebug.store(false);
    s.level.store(kDefaultLevel);
    VDULoggerSetVersionString(std::string());
}
