#include "sdk/measurement/engine/APMUserDefaults.h"

#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDULogger.h"
#include "sdk/utilities/VDUUserDefaults.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

constexpr std::string_view kService = "com.vovidu.razudizo.analytics";
constexpr std::string_view kCategory = "<DivEdadevadeze>";

std::string messageCode(std::int64_t code) {
    return sdk::formatString("I-ACS%06ld", {{sdk::FormatArg(code)}});
}

}  // namespace

APMUserDefaults::APMUserDefaults(std::shared_ptr<platform::PreferencesStore> store)
    : store_(std::move(store)) {}

APMUserDefaults& APMUserDefaults::sharedUserDefaults() {
    // The application's suite is the one the core's standard user defaults use.
    static APMUserDefaults* const shared =
        new APMUserDefaults(VDUUserDefaults::standardUserDefaults().userDefaults());
    return *shared;
}

std::optional<sdk::Value> APMUserDefaults::objectForKey(std::string_view key) const {
    if (key.empty()) {
        VDULoggerLogWarning(kService, kCategory, false, messageCode(41001),
                            "Cannot get object for invalid user default key.");
        return std::nullopt;
    }
    std::optional<platform::PlistValue> stored = store_->get(key);
    if (!stored) {
        return std::nullopt;
    }
    return sdk::valueFromPlistValue(*stored);
}

void APMUserDefaults::setObject(const std::optional<sdk::Value>& value, std::string_view key) {
    if (key.empty()) {
        VDULoggerLogWarning(kService, kCategory, false, messageCode(41002),
                            "Cannot set object for invalid user default key.");
        return;
    }
    std::error_code failure;
    if (!value) {
        failure = store_->remove(key);
    } else {
        platform::PlistValue plist;
        if (!sdk::plistValueFromValue(*value, &plist).ok()) {
            VDULoggerLogWarning(kService, kCategory, false, messageCode(41003),
                                "Cannot set invalid object to user defaults. Must be a string or "
                                "number or an array. Value %@",
                                value->description());
            return;
        }
        failure = store_->set(key, std::move(plist));
    }
    if (failure) {
        VDULoggerLogError(kService, kCategory, false, messageCode(41004),
                          "Cannot synchronize user defaults to disk");
    }
}

std::int64_t APMUserDefaults::integerForKey(std::string_view key) const {
    const std::optional<sdk::Value> value = objectForKey(key);
    return value ? value->numberAsInt().value_or(0) : 0;
}

double APMUserDefaults::doubleForKey(std::string_view key) const {
    const std::optional<sdk::Value> value = objectForKey(key);
    return value ? value->numberAsDouble().value_or(0.0) : 0.0;
}

std::optional<std::string> APMUserDefaults::stringForKey(std::string_view key) const {
    const std::optional<sdk::Value> value = objectForKey(key);
    if (value && value->isString()) {
        return *value->string();
    }
    return std::nullopt;
}

std::optional<sdk::Value> APMUserDefaults::numberForKey(std::string_view key) const {
    std::optional<sdk::Value> value = objectForKey(key);
    if (value && value->isNumber()) {
        return value;
    }
    return std::nullopt;
}
