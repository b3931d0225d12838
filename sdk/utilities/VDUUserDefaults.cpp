#include "sdk/utilities/VDUUserDefaults.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <mutex>

#include "platform/bundle/Bundle.h"
#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDULogger.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

constexpr std::string_view kSubsystem = "com.vovidu.utilities.logger";
constexpr std::string_view kGetService = "<VoviduUtilities>";
constexpr std::string_view kSetService = "[VoviduUtilities/UserDefaults]";
// Long names keep this many bytes, then a hash that tells them apart.
constexpr size_t kLongNamePrefix = 200;

std::string messageCode(std::int64_t code) {
    return sdk::formatString("I-VDU%06ld", {{sdk::FormatArg(code)}});
}

// FNV-1a: stable across runs and builds, unlike std::hash.
std::uint64_t stableHash(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

std::string_view skipSpace(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    return text;
}

// The decimal integer `text` begins with (after blanks), saturating; 0 when there is none.
std::int64_t leadingInteger(std::string_view text) {
    text = skipSpace(text);
    bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t magnitude = 0;  // negative numbers gather one further, to reach the minimum
    for (char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        const int digit = c - '0';
        if (magnitude > (kMax - digit) / 10) {
            return negative ? std::numeric_limits<std::int64_t>::min() : kMax;
        }
        magnitude = magnitude * 10 + digit;
    }
    return negative ? -magnitude : magnitude;
}

// The decimal number `text` begins with (after blanks), in any locale; 0 when there is none.
double leadingDouble(std::string_view text) {
    text = skipSpace(text);
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    double value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small to hold: infinity, or zero when the exponent is negative.
        std::string_view number(text.data(), static_cast<size_t>(result.ptr - text.data()));
        size_t exponent = number.find_first_of("eE");
        bool tiny =
            exponent != std::string_view::npos && number.substr(exponent + 1).starts_with('-');
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        return number.starts_with('-') ? -value : value;
    }
    return result.ec == std::errc() ? value : 0.0;
}

bool leadingBool(std::string_view text) {
    text = skipSpace(text);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    while (text.starts_with('0')) {
        text.remove_prefix(1);
    }
    return !text.empty() &&
           std::string_view("YyTt123456789").find(text.front()) != std::string_view::npos;
}

std::shared_ptr<platform::PreferencesStore> openSuite(std::optional<std::string_view> name) {
    const std::string suite =
        name && !name->empty()
            ? VDUUserDefaults::fileNameForSuite(*name)
            : VDUUserDefaults::fileNameForSuite(platform::Bundle::mainBundleIdentifier());
    return platform::PreferencesStore::suite(suite);
}

}  // namespace

std::string VDUUserDefaults::fileNameForSuite(std::string_view name) {
    // Names without "%" keep their own file; every other name is encoded, "%" included, so an
    // encoded name ("a%2Fb" for "a/b") never equals another suite's own name ("a%2Fb" itself
    // becomes "a%252Fb").
    if (platform::PreferencesStore::isValidSuiteName(name) &&
        name.find('%') == std::string_view::npos) {
        return std::string(name);
    }
    std::string encoded;
    for (char c : name) {
        if (c == '%' || c == '/' || c == '\0' || c == '.') {
            encoded +=
                sdk::formatString("%%%02X", {{sdk::FormatArg(static_cast<unsigned char>(c))}});
        } else {
            encoded += c;
        }
    }
    if (!platform::PreferencesStore::isValidSuiteName(encoded)) {  // still too long
        encoded = encoded.substr(0, kLongNamePrefix) +
                  sdk::formatString("%%%016llX", {{sdk::FormatArg(stableHash(name))}});
    }
    return encoded;
}

VDUUserDefaults::VDUUserDefaults() : VDUUserDefaults(std::nullopt) {}

VDUUserDefaults::VDUUserDefaults(std::optional<std::string_view> suiteName)
    : store_(openSuite(suiteName)) {}

VDUUserDefaults& VDUUserDefaults::standardUserDefaults() {
    static VDUUserDefaults* const shared = new VDUUserDefaults();  // made once, never destroyed
    return *shared;
}

std::optional<sdk::Value> VDUUserDefaults::objectForKey(std::string_view key) const {
    if (key.empty()) {
        VDULoggerLogWarning(kSubsystem, kGetService, false, messageCode(1),
                            "Cannot get object for invalid user default key.");
        return std::nullopt;
    }
    std::optional<platform::PlistValue> stored = store_->get(key);
    if (!stored) {
        return std::nullopt;
    }
    return sdk::valueFromPlistValue(*stored);
}

void VDUUserDefaults::setObject(const std::optional<sdk::Value>& value, std::string_view key) {
    if (key.empty()) {
        VDULoggerLogWarning(kSubsystem, kSetService, false, messageCode(2),
                            "Cannot set object for invalid user default key.");
        return;
    }
    std::error_code written;
    if (!value) {
        written = store_->remove(key);
    } else {
        platform::PlistValue converted;
        if (!sdk::plistValueFromValue(*value, &converted).ok()) {
            VDULoggerLogWarning(kSubsystem, kSetService, false, messageCode(3),
                                "Cannot set invalid object to user defaults. Must be a string, "
                                "number, array, dictionary, date, or data. Value: %@",
                                *value);
            return;
        }
        written = store_->set(key, std::move(converted));
    }
    if (written) {
        VDULoggerLogWarning(kSubsystem, kSetService, false, messageCode(4),
                            "Cannot write user defaults file %@: %@", store_->path().string(),
                            written.message());
    }
}

void VDUUserDefaults::removeObjectForKey(std::string_view key) {
    setObject(std::nullopt, key);
}

std::int64_t VDUUserDefaults::integerForKey(std::string_view key) const {
    std::optional<sdk::Value> value = objectForKey(key);
    if (value && value->isNumber()) {
        return *value->numberAsInt();
    }
    return value && value->isString() ? leadingInteger(*value->string()) : 0;
}

double VDUUserDefaults::doubleForKey(std::string_view key) const {
    std::optional<sdk::Value> value = objectForKey(key);
    if (value && value->isNumber()) {
        return *value->numberAsDouble();
    }
    return value && value->isString() ? leadingDouble(*value->string()) : 0.0;
}

float VDUUserDefaults::floatForKey(std::string_view key) const {
    return static_cast<float>(doubleForKey(key));
}

bool VDUUserDefaults::boolForKey(std::string_view key) const {
    std::optional<sdk::Value> value = objectForKey(key);
    if (value && value->isNumber()) {
        return *value->numberAsBool();
    }
    return value && value->isString() && leadingBool(*value->string());
}

std::optional<sdk::Value> VDUUserDefaults::stringForKey(std::string_view key) const {
    return objectForKey(key);
}

std::optional<sdk::Value> VDUUserDefaults::arrayForKey(std::string_view key) const {
    return objectForKey(key);
}

std::optional<sdk::Value> VDUUserDefaults::dictionaryForKey(std::string_view key) const {
    return objectForKey(key);
}

void VDUUserDefaults::setInteger(std::int64_t value, std::string_view key) {
    setObject(sdk::Value(value), key);
}

void VDUUserDefaults::setFloat(float value, std::string_view key) {
    setObject(sdk::Value(static_cast<double>(value)), key);
}

void VDUUserDefaults::setDouble(double value, std::string_view key) {
    setObject(sdk::Value(value), key);
}

void VDUUserDefaults::setBool(bool value, std::string_view key) {
    setObject(sdk::Value(value), key);
}
