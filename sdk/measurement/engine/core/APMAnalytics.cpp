#include "sdk/measurement/engine/core/APMAnalytics.h"

#include <mutex>

#include "sdk/measurement/engine/APMClock.h"

namespace {

constexpr std::string_view kResetRetryCount = "reset_retry_count";
constexpr std::string_view kNeedFirstOpenAfterReset = "need_first_open_after_reset";
constexpr std::string_view kAppInstanceIDAfterReset = "app_instance_id_after_reset";
constexpr std::string_view kDeferredAnalyticsCollection = "deferred_analytics_collection";
constexpr std::string_view kConsentSource = "consent_source";
constexpr std::string_view kConsentSettings1P = "consent_settings";
constexpr std::string_view kConsentSettings3P = "consent_settings_3p";
constexpr std::string_view kConsentSettingsTCF = "consent_settings_tcf";
constexpr std::string_view kConsentSettingsOnStart = "consent_settings_on_start";
constexpr std::string_view kDeferredConsentReset = "deferred_consent_reset";

constexpr std::int64_t kTCFConsentSource = 5;
constexpr std::int64_t kHighest3PConsentSource = 20;

struct LoadTimestamp {
    std::mutex mutex;
    std::optional<double> seconds;  // guarded by mutex
};

LoadTimestamp& loadTimestampState() {
    static LoadTimestamp* const state = new LoadTimestamp();  // lives for the whole process
    return *state;
}

std::optional<APMConsentSettings> consentSettingsForKey(std::string_view key) {
    const std::optional<sdk::Value::Dictionary> stored =
        APMAnalytics::analyticsDefaults().dictionaryForKey(key);
    if (!stored) {
        return std::nullopt;
    }
    APMConsentSettings settings;
    for (const auto& [type, status] : *stored) {
        if (const std::string* text = status.string()) {
            settings.emplace(type, *text);
        }
    }
    return settings;
}

sdk::Value::Dictionary dictionaryFromConsentSettings(const APMConsentSettings& settings) {
    sdk::Value::Dictionary dictionary;
    for (const auto& [type, status] : settings) {
        dictionary.emplace(type, sdk::Value(status));
    }
    return dictionary;
}

}  // namespace

APMUserDefaults& APMAnalytics::analyticsDefaults() {
    static APMUserDefaults* const defaults = new APMUserDefaults(kSuiteName);  // never destroyed
    return *defaults;
}

double APMAnalytics::loadTimestamp() {
    LoadTimestamp& state = loadTimestampState();
    std::lock_guard lock(state.mutex);
    if (!state.seconds) {
        // Our library has no load-time hook: the first question stands for the load.
        state.seconds = APMCurrentTimeInterval();
    }
    return *state.seconds;
}

void APMAnalytics::setLoadTimestamp(double timestamp) {
    LoadTimestamp& state = loadTimestampState();
    std::lock_guard lock(state.mutex);
    state.seconds = timestamp;
}

std::int64_t APMAnalytics::resetRetryCount() {
    return analyticsDefaults().integerForKey(kResetRetryCount);
}

void APMAnalytics::setResetRetryCount(std::int64_t count) {
    if (count < 1) {
        analyticsDefaults().removeObjectForKey(kResetRetryCount);
    } else {
        analyticsDefaults().setInteger(count, kResetRetryCount);
    }
}

bool APMAnalytics::needFirstOpenAfterReset() {
    return analyticsDefaults().boolForKey(kNeedFirstOpenAfterReset);
}

void APMAnalytics::setNeedFirstOpenAfterReset(bool need) {
    analyticsDefaults().setBool(need, kNeedFirstOpenAfterReset);
}

void APMAnalytics::removeNeedFirstOpenAfterReset() {
    analyticsDefaults().removeObjectForKey(kNeedFirstOpenAfterReset);
}

std::optional<std::string> APMAnalytics::appInstanceIDAfterReset() {
    return analyticsDefaults().stringForKey(kAppInstanceIDAfterReset);
}

void APMAnalytics::setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID) {
    analyticsDefaults().setObject(
        appInstanceID ? std::optional<sdk::Value>(*appInstanceID) : std::nullopt,
        kAppInstanceIDAfterReset);
}

std::optional<sdk::Value> APMAnalytics::deferredAnalyticsCollection() {
    return analyticsDefaults().objectForKey(kDeferredAnalyticsCollection);
}

void APMAnalytics::setDeferredAnalyticsCollection(const std::optional<sdk::Value>& value) {
    analyticsDefaults().setObject(value, kDeferredAnalyticsCollection);
}

std::optional<sdk::Value> APMAnalytics::deferredResetOnDeniedConsent() {
    return analyticsDefaults().objectForKey(kDeferredConsentReset);
}

void APMAnalytics::setDeferredResetOnDeniedConsent(const std::optional<sdk::Value>& value) {
    analyticsDefaults().setObject(value, kDeferredConsentReset);
}

void APMAnalytics::removeDeferredResetOnDeniedConsent() {
    analyticsDefaults().removeObjectForKey(kDeferredConsentReset);
}

std::optional<APMConsentSettings> APMAnalytics::consentSettingsTCF() {
    return consentSettingsForKey(kConsentSettingsTCF);
}

std::optional<APMConsentSettings> APMAnalytics::consentSettings3P() {
    return consentSettingsForKey(kConsentSettings3P);
}

std::optional<APMConsentSettings> APMAnalytics::consentSettings1P() {
    return consentSettingsForKey(kConsentSettings1P);
}

std::optional<APMConsentSettings> APMAnalytics::consentSettings1PStart() {
    return consentSettingsForKey(kConsentSettingsOnStart);
}

void APMAnalytics::setConsentSettings1PStart(const std::optional<APMConsentSettings>& settings) {
    analyticsDefaults().setObject(
        settings ? std::optional<sdk::Value>(dictionaryFromConsentSettings(*settings))
                 : std::nullopt,
        kConsentSettingsOnStart);
}

void APMAnalytics::removeStartUpConsentSettings() {
    analyticsDefaults().removeObjectForKey(kConsentSettingsOnStart);
}

std::int64_t APMAnalytics::persistedConsentSource() {
    const std::optional<sdk::Value> source = analyticsDefaults().numberForKey(kConsentSource);
    return source ? source->numberAsInt().value_or(kNoConsentSource) : kNoConsentSource;
}

void APMAnalytics::persistConsentSettings(const APMConsentSettings& settings, std::int64_t source) {
    std::string_view key = kConsentSettings1P;
    if (source == kTCFConsentSource) {
        key = kConsentSettingsTCF;
    } else if (source <= kHighest3PConsentSource) {
        key = kConsentSettings3P;
    }
    analyticsDefaults().setObject(sdk::Value(dictionaryFromConsentSettings(settings)), key);
    analyticsDefaults().setInteger(source, kConsentSource);
}

void APMAnalytics::clearConsent() {
    for (std::string_view key :
         {kConsentSource, kConsentSettings3P, kConsentSettings1P, kConsentSettingsOnStart,
          kDeferredConsentReset, kConsentSettingsTCF}) {
        analyticsDefaults().removeObjectForKey(key);
    }
    APMConsentSettingsUtil::clearAllSettings();
}
