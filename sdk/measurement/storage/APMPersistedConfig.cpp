#include "sdk/measurement/storage/APMPersistedConfig.h"

#include <chrono>
#include <cmath>
#include <random>

#include "platform/dispatch/MainQueue.h"
#include "sdk/measurement/engine/APMFilePaths.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMRandomIdentifier.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/utilities/VDURandomBytes.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

constexpr auto kSynchronizeDelay = std::chrono::seconds(1);
constexpr std::uint32_t kMillisecondsPerDay = 86'400'000;

// A uniformly random whole number of milliseconds below one day. Draws 32 bits and rejects
// the top values that would favour the low end.
std::uint32_t randomMillisecondOfDay() {
    constexpr std::uint64_t kRange = std::uint64_t{1} << 32;
    constexpr std::uint64_t kLimit = kRange - kRange % kMillisecondsPerDay;
    for (;;) {
        std::uint32_t drawn = 0;
        if (!VDURandomBytes(reinterpret_cast<unsigned char*>(&drawn), sizeof drawn)) {
            drawn = std::random_device()();  // the system's source, when OpenSSL has none
        }
        if (drawn < kLimit) {
            return drawn % kMillisecondsPerDay;
        }
    }
}

// A stored 64-bit number: an integer as it is, a double inside the int64 range truncated
// toward zero. NaN, infinities and doubles beyond the range (a damaged file) are absent.
std::optional<std::int64_t> storedInt64(const sdk::Value& value) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (const std::optional<double> number = value.doubleValue()) {
        if (!std::isfinite(*number) || *number >= kTwoTo63 || *number < -kTwoTo63) {
            return std::nullopt;
        }
    }
    return value.numberAsInt();
}

// The stored offset when it is one that could have been drawn: a finite number of seconds from
// 0 to under a day. Anything else would fix the day number or skip days, so it is drawn again.
std::optional<double> storedMidnightOffset(const sdk::Value& value) {
    const std::optional<double> offset = value.numberAsDouble();
    if (!offset || !std::isfinite(*offset) || *offset < 0.0 ||
        *offset >= kMillisecondsPerDay / 1000.0) {
        return std::nullopt;
    }
    return offset;
}

}  // namespace

std::shared_ptr<APMPersistedConfig> APMPersistedConfig::sharedInstance() {
    static std::mutex mutex;
    static std::shared_ptr<APMPersistedConfig> shared;  // guarded by mutex; the one shared instance
    std::lock_guard lock(mutex);
    if (!shared) {
        shared = initWithSuiteName(kSuiteName);
        if (!shared) {
            APMMonitor::shared().logWithLevel(1, 27001, "PersistedConfig's shared instance is nil");
        }
    }
    return shared;
}

std::shared_ptr<APMPersistedConfig> APMPersistedConfig::initWithSuiteName(
    std::string_view name, platform::PreferencesFileSystem& fileSystem) {
    if (name.empty()) {
        return nullptr;
    }
    (void)APMMigratePlistToApplicationSupport(name);  // an old copy that stays is only unused
    return std::make_shared<APMPersistedConfig>(
        Passkey(), std::string(name), APMPersistentDictionary::initWithFileName(name, fileSystem));
}

APMPersistedConfig::APMPersistedConfig(Passkey, std::string name,
                                       std::shared_ptr<APMPersistentDictionary> userDefaults)
    : name_(std::move(name)),
      userDefaults_(std::move(userDefaults)),
      serialQueue_(platform::DispatchQueue::createSerial("APMPersistedConfig")) {}

APMPersistedConfig::~APMPersistedConfig() {
    cancelScheduledSynchronize();
}

template <typename T, typename Read>
T APMPersistedConfig::readOnQueue(std::string_view key, Read read) {
    T result{};
    if (key.empty() || !userDefaults_) {
        return result;
    }
    serialQueue_->sync([&] { result = read(*userDefaults_); });
    return result;
}

void APMPersistedConfig::writeOnQueue(const std::optional<sdk::Value>& value,
                                      std::string_view key) {
    if (!userDefaults_) {
        return;
    }
    serialQueue_->sync([&] { userDefaults_->setObject(value, key); });
}

bool APMPersistedConfig::boolForKey(std::string_view key) {
    return readOnQueue<bool>(key, [&](APMPersistentDictionary& d) { return d.boolForKey(key); });
}

std::int64_t APMPersistedConfig::int64ForKey(std::string_view key) {
    return int64ForKey(key, userDefaults_.get());
}

std::int64_t APMPersistedConfig::int64ForKey(std::string_view key,
                                             const APMPersistentDictionary* store) {
    if (key.empty() || store == nullptr) {
        return 0;
    }
    std::int64_t result = 0;
    serialQueue_->sync([&] {
        const std::optional<sdk::Value> value = store->objectForKey(key);
        result = value ? storedInt64(*value).value_or(0) : 0;
    });
    return result;
}

double APMPersistedConfig::doubleForKey(std::string_view key) {
    return readOnQueue<double>(key,
                               [&](APMPersistentDictionary& d) { return d.doubleForKey(key); });
}

std::optional<std::string> APMPersistedConfig::stringForKey(std::string_view key) {
    return readOnQueue<std::optional<std::string>>(
        key, [&](APMPersistentDictionary& d) { return d.stringForKey(key); });
}

std::optional<sdk::Value::Dictionary> APMPersistedConfig::dictionaryForKey(std::string_view key) {
    return readOnQueue<std::optional<sdk::Value::Dictionary>>(
        key, [&](APMPersistentDictionary& d) { return d.dictionaryForKey(key); });
}

std::optional<sdk::Value> APMPersistedConfig::numberForKey(std::string_view key) {
    if (!userDefaults_) {
        return std::nullopt;
    }
    // An empty key goes on to the dictionary, which refuses it with its own warning.
    std::optional<sdk::Value> result;
    serialQueue_->sync([&] { result = userDefaults_->objectForKey(key); });
    return result;
}

std::optional<sdk::Value> APMPersistedConfig::objectForKey(std::string_view key) {
    return numberForKey(key);
}

void APMPersistedConfig::setObject(const std::optional<sdk::Value>& value, std::string_view key) {
    writeOnQueue(value, key);
}

void APMPersistedConfig::setBool(bool value, std::string_view key) {
    writeOnQueue(sdk::Value(value), key);
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setInt64(std::int64_t value, std::string_view key) {
    writeOnQueue(sdk::Value(value), key);
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setDouble(double value, std::string_view key) {
    writeOnQueue(sdk::Value(value), key);
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setString(const std::optional<std::string>& value, std::string_view key) {
    writeOnQueue(value ? std::optional(sdk::Value(*value)) : std::nullopt, key);
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setDictionary(const std::optional<sdk::Value::Dictionary>& value,
                                       std::string_view key) {
    platform::PlistValue checked;
    if (value && !sdk::plistValueFromValue(sdk::Value(*value), &checked).ok()) {
        APMMonitor::shared().logWithLevel(1, 27002, "Unsupported value passed in dictionary");
        return;
    }
    writeOnQueue(value ? std::optional(sdk::Value(*value)) : std::nullopt, key);
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setNumber(const std::optional<sdk::Value>& value, std::string_view key) {
    writeOnQueue(value, key);
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::clearValues() {
    if (!userDefaults_) {
        return;
    }
    serialQueue_->sync([&] { userDefaults_->clearAllData(); });
}

std::optional<sdk::Value> APMPersistedConfig::searchAdCampaignValue() {
    return userDefaults_ ? userDefaults_->objectForKey(kSearchAdCampaign) : std::nullopt;
}

void APMPersistedConfig::setSearchAdCampaignValue(const std::optional<sdk::Value>& value) {
    if (userDefaults_ && value && value->isNumber()) {
        userDefaults_->setObject(value, kSearchAdCampaign);
    }
}

std::int64_t APMPersistedConfig::measurementEnabledState() {
    return APMUserDefaults::sharedUserDefaults().integerForKey(kMeasurementEnabledState);
}

void APMPersistedConfig::setMeasurementEnabledState(std::int64_t state) {
    serialQueue_->sync([&] {
        APMUserDefaults& defaults = APMUserDefaults::sharedUserDefaults();
        defaults.setInteger(state, kMeasurementEnabledState);
        defaults.synchronize();
    });
}

std::string APMPersistedConfig::diversionKeyCreatingIfNeeded() {
    if (!userDefaults_) {
        return APMRandomIdentifier().substr(0, kDiversionKeyLength);
    }
    std::string key;
    bool drawn = false;
    serialQueue_->sync([&] {
        const std::optional<std::string> stored = userDefaults_->stringForKey(kDiversionKey);
        if (stored && stored->size() == kDiversionKeyLength) {
            key = *stored;
            return;
        }
        key = APMRandomIdentifier().substr(0, kDiversionKeyLength);
        userDefaults_->setObject(sdk::Value(key), kDiversionKey);
        drawn = true;
    });
    if (drawn) {
        scheduleSynchronizeToDisk();
    }
    return key;
}

double APMPersistedConfig::midnightOffset() {
    if (!userDefaults_) {
        return 0.0;
    }
    double offset = 0.0;
    bool drawn = false;
    // Reading and storing in one block: two first callers cannot draw two day boundaries.
    serialQueue_->sync([&] {
        const std::optional<sdk::Value> stored = userDefaults_->numberForKey(kMidnightOffset);
        if (std::optional<double> kept = stored ? storedMidnightOffset(*stored) : std::nullopt) {
            offset = *kept;
            return;
        }
        offset = randomMillisecondOfDay() / 1000.0;
        userDefaults_->setDouble(offset, kMidnightOffset);
        drawn = true;
    });
    if (drawn) {
        scheduleSynchronizeToDisk();
    }
    return offset;
}

void APMPersistedConfig::scheduleSynchronizeToDisk() {
    std::lock_guard lock(lock_);
    synchronizeBlock_.cancel();
    synchronizeBlock_ = serialQueue_->after(kSynchronizeDelay, [weak = weak_from_this()] {
        if (std::shared_ptr<APMPersistedConfig> self = weak.lock()) {
            self->synchronizeToDisk();
        }
    });
}

void APMPersistedConfig::cancelScheduledSynchronize() {
    std::lock_guard lock(lock_);
    synchronizeBlock_.cancel();
    synchronizeBlock_ = platform::Cancellable();
}

void APMPersistedConfig::synchronizeToDisk() {
    if (platform::isMainThread()) {
        scheduleSynchronizeToDisk();  // file work stays off the main thread
        return;
    }
    if (userDefaults_) {
        userDefaults_->synchronize();
    }
}
