// The facade's consent entry and its persistence.
#include <algorithm>

#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMConsentNames.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

constexpr std::string_view kConsentSettings3PKey = "consent_settings_3p";
constexpr std::string_view kConsentSettingsTCFKey = "consent_settings_tcf";
constexpr std::int64_t kSourceTCF = 5;
constexpr std::int64_t kSource3P = 10;
constexpr std::int64_t kSource1P = 30;
constexpr std::int64_t kHighestStored3PSource = 20;
constexpr std::int64_t kHighestStored1PSource = 40;

std::int64_t sourceForKey(std::string_view key) {
    if (key == kConsentSettingsTCFKey) {
        return kSourceTCF;
    }
    return key == kConsentSettings3PKey ? kSource3P : kSource1P;
}

// The consent types of `consent` whose value is "granted" or "denied" in any letter case, kept
// in lower case; the others are logged.
APMConsentSettings validConsent(const sdk::Value::Dictionary& consent) {
    APMConsentSettings offered;
    for (const auto& [type, status] : consent) {
        offered.emplace(type, status.string() ? *status.string() : status.description());
    }
    APMConsentSettings valid;
    for (auto& [type, status] : APMConsentSettingsUtil::consentSettingsFromDictionary(offered)) {
        if (const std::int64_t code = APMConsentStatusFromString(status); code != 0) {
            valid.emplace(type, std::string(APMConsentStatusString(code)));
        } else {
            APMMeasurement::monitor().logWithLevel(3, 25042,
                                                   "Valid consent values are 'granted' and "
                                                   "'denied'. Ignoring invalid consent setting",
                                                   status);
        }
    }
    return valid;
}

}  // namespace

void APMAnalytics::setConsent(const sdk::Value::Dictionary& consent) {
    setConsent(consent, "consent_settings");
}

void APMAnalytics::setConsent(const sdk::Value::Dictionary& consent, std::string_view key) {
    if (APMConsentSettingsUtil::consentSource() == kNoConsentSource) {
        loadPersistedConsentSettings();
    }
    const APMConsentSettings settings = validConsent(consent);
    APMMonitor& monitor = APMMeasurement::monitor();
    if (settings.empty()) {
        monitor.logWithLevel(3, 25041, "Discarding empty consent settings");
        return;
    }
    const std::int64_t source = sourceForKey(key);
    if (!APMConsentSettingsUtil::isConsentSourceHigherPriority(source)) {
        monitor.logWithLevel(3, 25043, "Ignoring lower priority consent settings");
        return;
    }
    const bool wasAdUserDataDenied = APMConsentSettingsUtil::isAdUserDataDenied();
    APMConsentSettingsUtil::updateSettings(settings, source);
    persistConsentSettings(APMConsentSettingsUtil::consentSettings().value_or(settings), source);
    if (key == kConsentSettings3PKey) {
        monitor.logWithLevel(8, 25055, APMConsentSettingsUtil::description());
    }
    if (!APMMeasurement::remoteConfig()->consentDefaults().empty() &&
        APMConsentSettingsUtil::didAdUserDataConsentChange(wasAdUserDataDenied)) {
        logInternalEventWithOrigin("auto", "_dcu", {{"_r", sdk::Value(std::int64_t{1})}});
    }
    if (settings.contains("ad_personalization")) {
        if (std::optional<std::int64_t> adPersonalization =
                APMConsentSettingsUtil::adPersonalization()) {
            setUserPropertyString(sdk::Value(*adPersonalization != 0 ? "YES" : "NO"),
                                  "allow_personalized_ads");
        }
    }
}

void APMAnalytics::loadPersistedConsentSettings() {
    const std::int64_t stored = persistedConsentSource();
    if (stored == kNoConsentSource) {
        return;
    }
    // The first present set wins; its source is never above the sources that file under it.
    std::int64_t source = stored;
    if (std::optional<APMConsentSettings> tcf = consentSettingsTCF()) {
        source = std::min(stored, kSourceTCF);
        APMConsentSettingsUtil::updateSettings(*tcf, source);
    } else if (std::optional<APMConsentSettings> thirdParty = consentSettings3P()) {
        source = std::min(stored, kHighestStored3PSource);
        APMConsentSettingsUtil::updateSettings(*thirdParty, source);
    } else if (std::optional<APMConsentSettings> firstParty = consentSettings1P()) {
        source = std::min(stored, kHighestStored1PSource);
        APMConsentSettingsUtil::updateSettings(*firstParty, source);
    }
    APMConsentSettingsUtil::setConsentSource(source);
}
