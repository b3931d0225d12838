// The personalised-ads user property "_npa" and its link to the "ad_personalization" consent,
// and the consent defaults the remote configuration brings.
#include <algorithm>
#include <cctype>

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

constexpr std::string_view kAdPersonalization = "ad_personalization";
constexpr std::string_view kAllowAdPersonalizationKey =
    "VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS";
constexpr std::string_view kAdNetworkRegistrationKey =
    "VOVIDU_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED";

// Diagnostic sources of the ad-personalisation consent set from "_npa".
constexpr std::int64_t kSourcePersisted = 5;
constexpr std::int64_t kSourceInfoPlist = 3;
constexpr std::int64_t kSourceDefaultSettings = 1;
constexpr std::int64_t kSourceNone = 0;

// The main bundle's Info.plist entry `key`; none without a bundle or entry.
const platform::PlistValue* infoPlistValue(std::string_view key) {
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (!bundle) {
        return nullptr;
    }
    const auto found = bundle->info().find(key);
    return found == bundle->info().end() ? nullptr : &found->second;
}

// A property-list number (booleans included) as a boolean; none for anything else.
std::optional<bool> plistBoolean(const platform::PlistValue* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const bool* flag = value->getIf<bool>()) {
        return *flag;
    }
    if (const std::int64_t* number = value->getIf<std::int64_t>()) {
        return *number != 0;
    }
    if (const double* number = value->getIf<double>()) {
        return *number != 0;
    }
    return std::nullopt;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<bool> APMMeasurement::shouldDisableAdPersonalization() {
    if (const std::optional<sdk::Value> allow = persistedConfig_->allowPersonalizedAds();
        allow && allow->isNumber()) {
        return allow->numberAsInt().value_or(0) == 0;
    }
    if (const std::optional<std::int64_t> consent = APMConsentSettingsUtil::adPersonalization()) {
        return *consent == 0;
    }
    if (const platform::PlistValue* plist = infoPlistValue(kAllowAdPersonalizationKey)) {
        const std::optional<bool> allowed = plistBoolean(plist);
        foundAdPersonalizationPlistFlag_ = allowed.has_value();
        return allowed ? !*allowed : false;
    }
    const std::optional<APMConsentSettings> defaults = APMConsentSettingsUtil::defaultSettings();
    if (!defaults) {
        return std::nullopt;
    }
    const auto found = defaults->find(kAdPersonalization);
    if (found == defaults->end()) {
        return std::nullopt;
    }
    if (equalsIgnoringCase(found->second, "denied")) {
        return true;
    }
    if (equalsIgnoringCase(found->second, "granted")) {
        return false;
    }
    return std::nullopt;
}

void APMMeasurement::setPersonalizedAdsUserPropertyOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        "setPersonalizedAdsUserPropertyOnWorkerQueue");
    sdk::Error error;
    const std::optional<APMUserAttribute> stored = storedUserAttributeWithName("_npa", &error);
    if (!error.ok()) {
        monitor().logWithLevel(1, 23172, "Unable to read personalized ads user property. Error",
                               error);
        return;
    }
    const std::optional<bool> disable = shouldDisableAdPersonalization();
    if (!disable) {
        if (!stored) {
            return;
        }
        if (sdk::Error deleteError; !deleteStoredUserAttribute("_npa", &deleteError)) {
            monitor().logWithLevel(1, 23173,
                                   "Unable to remove personalized ads user property in the "
                                   "database. Error",
                                   deleteError);
            return;
        }
        monitor().logWithLevel(4, 23180,
                               "No value set for personalized ads. Removing user property.");
        APMConsentSettingsUtil::setDiagnosticSource(kSourceNone, kAdPersonalization);
        return;
    }
    const std::int64_t value = *disable ? 1 : 0;
    if (!APMConsentSettingsUtil::adPersonalization()) {
        updateAdPersonalizationConsentFromNPAValue(value);
    }
    if (stored && stored->value().isInt64() && stored->value().int64Value() == value) {
        return;
    }
    if (std::optional<APMUserAttribute> npa = APMUserAttribute::initWithOrigin(
            "auto", "_npa", APMValue(value), APMCurrentTimeInterval())) {
        setUserPropertyInDatabaseOnWorkerQueue(*npa);
    }
}

void APMMeasurement::updateAdPersonalizationConsentFromNPAValue(std::optional<std::int64_t> value) {
    const std::optional<std::int64_t> current = APMConsentSettingsUtil::adPersonalization();
    // "_npa" 1 (off) and consent 0 (denied) already agree.
    if (value && current && (*value != 0) != (*current != 0)) {
        return;
    }
    const bool denied = value && *value != 0;
    APMConsentSettingsUtil::updateSettings(
        APMConsentSettings{{std::string(kAdPersonalization), denied ? "denied" : "granted"}});
    const std::optional<APMConsentSettings> defaults = APMConsentSettingsUtil::defaultSettings();
    if (persistedConfig_->allowPersonalizedAds()) {
        APMConsentSettingsUtil::setDiagnosticSource(kSourcePersisted, kAdPersonalization);
    } else if (foundAdPersonalizationPlistFlag_) {
        APMConsentSettingsUtil::setDiagnosticSource(kSourceInfoPlist, kAdPersonalization);
    } else if (defaults && defaults->contains(kAdPersonalization)) {
        APMConsentSettingsUtil::setDiagnosticSource(kSourceDefaultSettings, kAdPersonalization);
    }
}

void APMMeasurement::updateConsentSettingsUtilWithRemoteConfig() {
    const std::optional<std::int64_t> before = APMConsentSettingsUtil::adPersonalization();
    const std::map<std::string, std::string> defaults = remoteConfig_->consentDefaults();
    const std::map<std::string, std::string> delegations = remoteConfig_->consentDelegations();
    if (!defaults.empty() || !delegations.empty()) {
        APMConsentSettingsUtil::setDefaultSettings(
            APMConsentSettings(defaults.begin(), defaults.end()));
        APMConsentSettingsUtil::setDelegatedSettings(
            APMConsentSettings(delegations.begin(), delegations.end()));
    }
    const std::map<std::string, std::string> regional = remoteConfig_->regionalDefaults();
    APMConsentSettingsUtil::setRegionalDefaults(
        regional.empty() ? std::nullopt
                         : std::optional(APMConsentSettings(regional.begin(), regional.end())));
    if (APMConsentSettingsUtil::adPersonalization() != before) {
        shouldUpdateNPAUserProperty_ = true;
    }
}

bool APMMeasurement::shouldAllowAdNetworkRegistration() {
    return plistBoolean(infoPlistValue(kAdNetworkRegistrationKey)).value_or(true);
}
