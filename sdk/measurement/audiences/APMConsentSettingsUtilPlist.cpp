// The consent defaults of the application's Info.plist.

#include <array>
#include <optional>
#include <utility>

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/storage/APMConsentNames.h"

namespace {

struct PlistKey {
    std::string_view key;
    std::string_view type;
    bool stringOnly;
};

constexpr std::array<PlistKey, 4> kPlistKeys{{
    {"VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", "ad_storage", false},
    {"VOVIDU_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE", "analytics_storage", false},
    {"VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA", "ad_user_data", false},
    {"VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS", "ad_personalization", true},
}};

// The boolean a plist value answers: booleans and numbers (non-zero is true), and strings;
// other kinds answer none.
std::optional<bool> booleanOf(const platform::PlistValue& value) {
    if (const bool* flag = value.getIf<bool>()) {
        return *flag;
    }
    if (const std::int64_t* integer = value.getIf<std::int64_t>()) {
        return *integer != 0;
    }
    if (const double* real = value.getIf<double>()) {
        return *real != 0;
    }
    if (const std::string* text = value.getIf<std::string>()) {
        return APMStringBoolValue(*text);
    }
    return std::nullopt;
}

// The setting one key gives its type, if any.
std::optional<std::string> settingOf(const PlistKey& key, const platform::PlistValue& value) {
    const std::string* text = value.getIf<std::string>();
    if (key.stringOnly && !text) {
        return std::nullopt;
    }
    if (text && APMConsentLowercased(*text) == "eu_consent_policy") {
        if (key.type == "ad_user_data" || key.type == "ad_personalization") {
            return *text;
        }
        return std::nullopt;
    }
    const std::optional<bool> granted = booleanOf(value);
    if (!granted) {
        return std::nullopt;
    }
    return std::string(APMConsentStatusString(*granted ? 1 : 2));
}

}  // namespace

bool APMStringBoolValue(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
        ++at;
    }
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        ++at;
    }
    while (at < text.size() && text[at] == '0') {
        ++at;
    }
    if (at == text.size()) {
        return false;
    }
    const char first = text[at];
    return first == 'Y' || first == 'y' || first == 'T' || first == 't' ||
           (first >= '1' && first <= '9');
}

APMConsentSettings APMConsentSettingsUtil::consentSettingsFromPlist() {
    APMConsentSettings settings;
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (!bundle) {
        return settings;
    }
    for (const PlistKey& key : kPlistKeys) {
        const auto found = bundle->info().find(key.key);
        if (found == bundle->info().end()) {
            continue;
        }
        if (std::optional<std::string> setting = settingOf(key, found->second)) {
            settings.emplace(key.type, std::move(*setting));
        }
    }
    return settings;
}
