#include "sdk/measurement/engine/APMUserDefaults.h"

#include <limits>
#include <string>

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/engine/APMExcludeFromBackup.h"
#include "sdk/utilities/VDULogger.h"
#include "sdk/utilities/VDUUserDefaults.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

constexpr std::string_view kService = "com.vovidu.razudizo.analytics";
constexpr std::string_view kTag = "<DivEdadevadeze>";

std::shared_ptr<platform::PreferencesStore> storeOfSuite(std::string_view suiteName) {
    const std::string fileName =
        suiteName.empty()
            ? VDUUserDefaults::fileNameForSuite(platform::Bundle::mainBundleIdentifier())
            : VDUUserDefaults::fileNameForSuite(suiteName);
    return platform::PreferencesStore::suite(fileName);
}

void logWriteFailure() {
    VDULoggerLogError(kService, kTag, false, "I-ACS041004",
                      "Cannot synchronize user defaults to disk");
}

}  // namespace

APMUserDefaults::APMUserDefaults(std::optional<std::string_view> suiteName)
    : APMUserDefaults(storeOfSuite(suiteName.value_or("")), std::string(suiteName.value_or(""))) {}

APMUserDefaults::APMUserDefaults(std::shared_ptr<platform::PreferencesStore> store,
                                 std::string suiteName)
    : suiteName_(std::move(suiteName)),
      store_(std::move(store)),
      preferenceFileExcluded_(suiteName_.empty()) {}

APMUserDefaults& APMUserDefaults::sharedUserDefaults() {
    // Never destroyed: code running during exit may still read settings.
    static APMUserDefaults* const shared =
        new APMUserDefaults(VDUUserDefaults::standardUserDefaults().userDefaults());
    return *shared;
}

std::optional<sdk::Value> APMUserDefaults::objectForKey(std::string_view key) const {
    if (key.empty()) {
        VDULoggerLogWarning(kService, kTag, false, "I-ACS041001",
                            "Cannot get object for invalid user default key.");
        return std::nullopt;
    }
    const std::optional<platform::PlistValue> stored = store_->get(key);
    if (!stored) {
        return std::nullopt;
    }
    return sdk::valueFromPlistValue(*stored);
}

void APMUserDefaults::setObject(const std::optional<sdk::Value>& value, std::string_view key) {
    if (key.empty()) {
        VDULoggerLogWarning(kService, kTag, false, "I-ACS041002",
                            "Cannot set object for invalid user default key.");
        return;
    }
    std::error_code failure;
    if (!value) {
        failure = store_->remove(key);
    } else {
        platform::PlistValue plist;
        if (!sdk::plistValueFromValue(*value, &plist).ok()) {
            VDULoggerLogWarning(kService, kTag, false, "I-ACS041003",
                                "Cannot set invalid object to user defaults. Must be a string or "
                                "number or an array. Value %@",
                                *value);
            return;
        }
        failure = store_->set(key, std::move(plist));
    }
    if (failure) {
        logWriteFailure();
    }
}

void APMUserDefaults::clearAllData() {
    if (store_->removeAll()) {
        logWriteFailure();
    }
}

bool APMUserDefaults::synchronize() {
    std::lock_guard lock(excludedMutex_);
    if (preferenceFileExcluded_) {
        return true;
    }
    std::error_code ignored;
    if (!std::filesystem::exists(store_->path(), ignored)) {
        return true;  // marked once a write has made the file
    }
    sdk::Error error;
    if (APMExcludeFromBackup(store_->path().string(), &error)) {
        preferenceFileExcluded_ = true;
    } else {
        VDULoggerLogWarning(kService, kTag, false, "I-ACS041000",
                            "Failed to exclude preferences file from backup. Error code %@",
                            error.code());
    }
    return true;
}

bool APMUserDefaults::isPreferenceFileExcluded() const {
    std::lock_guard lock(excludedMutex_);
    return preferenceFileExcluded_;
}

const std::map<std::string, std::string, std::less<>>& APMReservedUserPropertyNames() {
    static const std::map<std::string, std::string, std::less<>>& names =
        *new std::map<std::string, std::string, std::less<>>{
            {"razudizo_last_notification", "_ln"}, {"first_open_after_install", "_fi"},
            {"first_open_time", "_fot"},           {"ma_session_id", "_sid"},
            {"ma_session_number", "_sno"},         {"last_advertising_id_reset", "_lair"},
            {"last_deep_link_referrer", "_ldl"},   {"lifetime_user_engagement", "_lte"},
            {"session_user_engagement", "_se"},    {"user_id", "_id"},
        };  // lives for the process
    return names;
}
