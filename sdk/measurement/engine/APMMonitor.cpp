#include "sdk/measurement/engine/APMMonitor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>

#include "platform/process/ProcessArguments.h"
#include "sdk/measurement/engine/APMAEU.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMLibraryVersion.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "sdk/utilities/VDULogger.h"

namespace {

constexpr std::int64_t kNoticeLevel = 6;
constexpr std::int64_t kDebugLevel = 7;
constexpr std::int64_t kVerboseLevel = 8;

constexpr std::string_view kMonitorSuiteName = "com.vovidu.vud.measurement.monitor";
constexpr std::string_view kHealthMonitorKey = "/vovidu/measurement/health_monitor";
constexpr std::string_view kMigrationStateKey = "/vovidu/measurement/monitor_migration_state";
constexpr std::string_view kDebugModeKey = "/vovidu/measurement/debug_mode";
constexpr std::string_view kVerboseLoggingKey = "/vovidu/measurement/verbose_logging";

bool isTableLevel(std::int64_t level) {
    return level >= 0 && level <= kVerboseLevel;
}

bool containsAny(const std::vector<std::string>& arguments,
                 std::initializer_list<std::string_view> wanted) {
    return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
        return std::find(wanted.begin(), wanted.end(), argument) != wanted.end();
    });
}

// The shared user defaults, held without owning them: they live for the whole process.
std::shared_ptr<APMUserDefaults> sharedDefaultsRef() {
    return std::shared_ptr<APMUserDefaults>(std::shared_ptr<void>(),
                                            &APMUserDefaults::sharedUserDefaults());
}

// "lo...hi" for the decade of |v| >= 100, in 128 bits so 10p - 1 cannot overflow, clamped to
// the int64 range.
std::string decadeOf(std::int64_t value) {
    using Wide = __int128;
    const Wide magnitude = value < 0 ? -static_cast<Wide>(value) : static_cast<Wide>(value);
    Wide power = 1;
    while (power * 10 <= magnitude) {
        power *= 10;
    }
    const Wide low = value < 0 ? 1 - 10 * power : power;
    const Wide high = value < 0 ? -power : 10 * power - 1;
    const auto clamp = [](Wide v) {
        return static_cast<long long>(std::clamp<Wide>(v, std::numeric_limits<std::int64_t>::min(),
                                                       std::numeric_limits<std::int64_t>::max()));
    };
    char text[64];
    std::snprintf(text, sizeof text, "%lld...%lld", clamp(low), clamp(high));
    return text;
}

}  // namespace

APMMonitor::APMMonitor(std::int64_t libraryVersion)
    : APMMonitor(kNoticeLevel, APMASLLogger(), libraryVersion, sharedDefaultsRef(),
                 std::make_shared<APMUserDefaults>(kMonitorSuiteName)) {}

APMMonitor::APMMonitor(std::int64_t logLevel, APMASLLogger logger, std::int64_t libraryVersion,
                       std::shared_ptr<APMUserDefaults> sharedDefaults,
                       std::shared_ptr<APMUserDefaults> monitorDefaults)
    : libraryVersion_(libraryVersion),
      logger_(logger),
      sharedDefaults_(std::move(sharedDefaults)),
      monitorDefaults_(std::move(monitorDefaults)),
      fromAppStore_(APMAEU::isFAS()),
      monitorQueue_(platform::DispatchQueue::createSerial("APMMonitorQueue")),
      logLevel_(logLevel) {
    monitorQueue_->async([this] {
        migrateOnMonitorQueue();
        loadSampleOnMonitorQueue();
    });
    if (!fromAppStore_) {
        applyLaunchSwitches();
    }
}

APMMonitor& APMMonitor::shared() {
    static APMMonitor* const shared = new APMMonitor(APMLibraryVersion());
    return *shared;
}

APMMonitor::~APMMonitor() {
    monitorQueue_->sync([] {});
}

void APMMonitor::applyLaunchSwitches() {
    const std::vector<std::string> arguments = platform::processArguments();
    deferToRZDLogger_ = containsAny(arguments, {"-RZDDebugDisabled", "-RZDDebugEnabled"}) &&
                        VDUClassRegistry::classNamed("RZDConfiguration") != nullptr;
    if (containsAny(arguments, {"-noAPMAnalyticsDebugEnabled", "-noREROdazadeveDebugEnabled",
                                "-RZDDebugDisabled"})) {
        setDebugModeEnabled(false);
    } else if (sharedDefaults_->boolForKey(kDebugModeKey) ||
               containsAny(arguments, {"-APMAnalyticsDebugEnabled", "-REROdazadeveDebugEnabled",
                                       "-RZDDebugEnabled"})) {
        setDebugModeEnabled(true);
    }
    if (containsAny(arguments, {"-APMAnalyticsVerboseLoggingDisabled",
                                "-REROdazadeveVerboseLoggingDisabled"})) {
        setVerboseLoggingEnabled(false);
    } else if (sharedDefaults_->boolForKey(kVerboseLoggingKey) ||
               containsAny(arguments, {"-APMAnalyticsVerboseLoggingEnabled",
                                       "-REROdazadeveVerboseLoggingEnabled"})) {
        setVerboseLoggingEnabled(true);
    }
}

void APMMonitor::setSharedLoggerLevel(std::int64_t level) const {
    if (!deferToRZDLogger_) {
        VDULoggerSetLevel(level);
    }
}

void APMMonitor::setDebugModeEnabled(bool enabled) {
    if (enabled && !fromAppStore_) {
        setLogLevel(kDebugLevel);
        setSharedLoggerLevel(VDULoggerLevelDebug);
        sharedDefaults_->setBool(true, kDebugModeKey);
        logWithLevel(kDebugLevel, 24000, "Debug mode is on");
        debugModeEnabled_ = true;
    } else {
        setLogLevel(kNoticeLevel);
        setSharedLoggerLevel(VDULoggerLevelNotice);
        sharedDefaults_->removeObjectForKey(kDebugModeKey);
        logWithLevel(kDebugLevel, 24001, "Debug mode is off");
        debugModeEnabled_ = false;
    }
}

void APMMonitor::setVerboseLoggingEnabled(bool enabled) {
    if (enabled && !fromAppStore_) {
        setLogLevel(kVerboseLevel);
        setSharedLoggerLevel(VDULoggerLevelDebug);
        sharedDefaults_->setBool(true, kVerboseLoggingKey);
        // Switched on before the message, which is itself verbose and would be dropped.
        verboseLoggingEnabled_ = true;
        logWithLevel(kVerboseLevel, 24003, "Verbose logging is on");
    } else {
        const std::int64_t level = isDebugModeEnabled() ? kDebugLevel : kNoticeLevel;
        setLogLevel(level);
        setSharedLoggerLevel(APMASLLogger::VDULoggerLevelFromLogLevel(level));
        sharedDefaults_->removeObjectForKey(kVerboseLoggingKey);
        logWithLevel(kVerboseLevel, 24004, "Verbose logging is off");
        verboseLoggingEnabled_ = false;
    }
}

void APMMonitor::setSTGWDebugModeEnabled(bool enabled) {
    setLogLevel(enabled ? kDebugLevel : kNoticeLevel);
    setSharedLoggerLevel(enabled ? VDULoggerLevelDebug : VDULoggerLevelNotice);
    logWithLevel(kDebugLevel, enabled ? 24006 : 24007,
                 enabled ? "STGW debug mode is on" : "STGW debug mode is off");
    debugModeEnabled_ = enabled;
}

std::string APMMonitor::logTag() const {
    std::lock_guard lock(tagMutex_);
    return logTag_;
}

void APMMonitor::setLogTag(std::string tag) {
    std::lock_guard lock(tagMutex_);
    logTag_ = std::move(tag);
}

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

std::string APMMonitor::encodedStringWithContextObject(const APMMonitorContext& context) {
    if (context.isNull()) {
        return "";
    }
    if (const APMCaughtException* exception = context.exception()) {
        return lastAPMSymbolFromException(exception).value_or("-");
    }
    if (const sdk::Error* error = context.error()) {
        return error->domain().empty() ? "-" : error->domain();
    }
    const sdk::Value& value = *context.value();
    if (value.isString()) {
        return "-";
    }
    if (!value.isNumber()) {
        return "?";
    }
    const std::int64_t number = value.numberAsInt().value_or(0);
    if (number >= -99 && number <= 99) {
        return std::to_string(number);
    }
    return decadeOf(number);
}

std::string APMMonitor::encodedStringWithContextArray(
    const std::vector<APMMonitorContext>& contexts, bool insertSpaces) {
    std::string encoded;
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        if (i > 0) {
            encoded += insertSpaces ? ", " : ",";
        }
        encoded += encodedStringWithContextObject(contexts[i]);
    }
    return encoded;
}

std::string APMMonitor::stringWithLogMessage(std::string_view message, std::int64_t /*level*/,
                                             const std::vector<APMMonitorContext>& contexts,
                                             bool encodeContexts) {
    std::string text = message.empty() ? "(Message was empty)" : std::string(message);
    if (contexts.empty()) {
        return text;
    }
    text += ": ";
    if (encodeContexts) {
        return text + encodedStringWithContextArray(contexts, true);
    }
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += contexts[i].description();
    }
    return text;
}

std::optional<std::string> APMMonitor::lastAPMSymbolFromException(
    const APMCaughtException* exception) {
    if (exception == nullptr) {
        return std::nullopt;
    }
    return exception->name;
}

std::string APMMonitor::monitoringDataKeyWithMessage(std::string_view message, std::int64_t level,
                                                     std::int64_t libraryVersion) {
    const char kind = level >= 0 && level <= 2 ? 'E' : (level >= 3 && level <= 5 ? 'W' : '?');
    return "1" + std::string(1, kind) + "_" + std::to_string(libraryVersion) + ":" +
           std::string(message);
}

bool APMMonitor::isLoggable(std::int64_t level) const {
    return !isSilentLevel(level) &&
           VDULoggerIsLoggable(APMASLLogger::VDULoggerLevelFromLogLevel(level));
}

void APMMonitor::logWithLevel(std::int64_t level, std::int64_t code, std::string_view message,
                              std::vector<APMMonitorContext> contexts) {
    notifyObserver(level, code, message, contexts);
    const bool loggable = isLoggable(level);
    const bool monitorable = isMonitorableLevel(level);
    if (!loggable && !monitorable) {
        return;
    }
    if (level == kVerboseLevel && !isVerboseLoggingEnabled()) {
        return;
    }
    if (loggable) {
        logger_.logMessage(stringWithLogMessage(message, level, contexts, encodeContexts()),
                           logTag(), code, level);
    }
    if (monitorable) {
        std::string encoded = encodedStringWithContextArray(contexts, false);
        const std::string errorContexts = APMJoinedErrorContexts(contexts);
        if (!errorContexts.empty()) {
            encoded += "," + errorContexts;
        }
        monitorQueue_->async([this,
                              key = monitoringDataKeyWithMessage(message, level, libraryVersion_),
                              encoded = std::move(encoded)] {
            sampledData_.insertOrUpdate(
                key, encoded, sdk::Date::fromTimeIntervalSince1970(APMCurrentTimeInterval()),
                [this](std::int64_t n) {
                    // Reservoir sampling needs no secrecy, and a generator of our own keeps a
                    // block still queued at exit clear of OpenSSL, which tears down at exit.
                    return n <= 1 ? std::int64_t{0}
                                  : std::uniform_int_distribution<std::int64_t>(
                                        0, n - 1)(sampleRandom_);
                });
            saveSampleOnMonitorQueue();
        });
    }
}

std::optional<std::string> APMMonitor::monitoringDataForDispatch(double samplePeriod,
                                                                 double lastSampledTimestamp) {
    std::optional<std::string> data;
    monitorQueue_->sync([&] {
        const double now = APMCurrentTimeInterval();
        if (!sampledData_.hasSample()) {
            if (lastSampledTimestamp > 0 && std::abs(now - lastSampledTimestamp) > samplePeriod) {
                data = "0:";
            }
            return;
        }
        if (now - sampledData_.startDate().timeIntervalSince1970() <= samplePeriod) {
            return;
        }
        std::string text = std::to_string(sampledData_.population()) + ":" + sampledData_.key();
        if (!sampledData_.encodedContext().empty()) {
            text += ":" + sampledData_.encodedContext();
        }
        data = std::move(text);
        sampledData_.clear();
        saveSampleOnMonitorQueue();
    });
    return data;
}

void APMMonitor::clearMonitoringData() {
    monitorQueue_->sync([this] {
        sharedDefaults_->removeObjectForKey(kDebugModeKey);
        sharedDefaults_->removeObjectForKey(kHealthMonitorKey);
        monitorDefaults_->removeObjectForKey(kHealthMonitorKey);
        loadSampleOnMonitorQueue();
    });
}

void APMMonitor::migrateOnMonitorQueue() {
    std::int64_t state = monitorDefaults_->integerForKey(kMigrationStateKey);
    if (state == 0) {
        const std::optional<sdk::Value::Array> old =
            sharedDefaults_->arrayForKey(kHealthMonitorKey);
        if (old && !monitorDefaults_->objectForKey(kHealthMonitorKey)) {
            monitorDefaults_->setObject(sdk::Value(*old), kHealthMonitorKey);
        }
        monitorDefaults_->setInteger(1, kMigrationStateKey);
        monitorDefaults_->synchronize();
        state = 1;
    }
    if (state == 1) {
        sharedDefaults_->removeObjectForKey(kHealthMonitorKey);
        sharedDefaults_->synchronize();
        monitorDefaults_->setInteger(2, kMigrationStateKey);
        monitorDefaults_->synchronize();
    }
}

void APMMonitor::loadSampleOnMonitorQueue() {
    sampledData_ = APMMonitoringSampledData::fromStoredValue(
        monitorDefaults_->objectForKey(kHealthMonitorKey));
}

void APMMonitor::saveSampleOnMonitorQueue() {
    monitorDefaults_->setObject(sampledData_.storedValue(), kHealthMonitorKey);
    monitorDefaults_->synchronize();
}

void APMMonitor::notifyObserver(std::int64_t level, std::int64_t code, std::string_view message,
                                const std::vector<APMMonitorContext>& contexts) {
    std::lock_guard lock(observerMutex_);
    if (observer_) {
        observer_(APMMonitorMessage{level, code, std::string(message), contexts});
    }
}
