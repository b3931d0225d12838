#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/utilities/Value.h"

// The measurement facade between the public interface and the engine. This is its class-wide
// state, which the engine reads and writes: the load timestamp and the facade's persisted keys
// in the analytics defaults (suite "APMAnalyticsSuiteName"), with consent persistence. Intake,
// queues and hooks belong to the facade proper.
//
// Thread-safety: every member may be called from any thread. The load timestamp is guarded by a
// mutex; the defaults lock themselves.
class APMAnalytics {
  public:
    APMAnalytics() = delete;

    // The suite of the analytics defaults.
    static constexpr std::string_view kSuiteName = "APMAnalyticsSuiteName";
    // The consent source while none is stored.
    static constexpr std::int64_t kNoConsentSource = 100;

    // The analytics defaults, made on first use.
    static APMUserDefaults& analyticsDefaults();

    // When the library was loaded (seconds since 1970): the first time it is asked unless set;
    // resetAnalyticsData sets it to now.
    static double loadTimestamp();
    static void setLoadTimestamp(double timestamp);

    // "reset_retry_count": resets asked for and not yet done. A value below 1 removes the key.
    static std::int64_t resetRetryCount();
    static void setResetRetryCount(std::int64_t count);
    // "need_first_open_after_reset".
    static bool needFirstOpenAfterReset();
    static void setNeedFirstOpenAfterReset(bool need);
    static void removeNeedFirstOpenAfterReset();
    // "app_instance_id_after_reset": the ID a reset chose and the engine has not applied yet.
    static std::optional<std::string> appInstanceIDAfterReset();
    static void setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID);
    // "deferred_analytics_collection": the engine's record of the first enable (0) or disable
    // (1); no value until then.
    static std::optional<sdk::Value> deferredAnalyticsCollection();
    static void setDeferredAnalyticsCollection(const std::optional<sdk::Value>& value);
    // "deferred_consent_reset".
    static std::optional<sdk::Value> deferredResetOnDeniedConsent();
    static void setDeferredResetOnDeniedConsent(const std::optional<sdk::Value>& value);
    static void removeDeferredResetOnDeniedConsent();

    // The stored consent sets: "consent_settings_tcf" (source 5), "consent_settings_3p" (10 and
    // 20), "consent_settings" (30 and 40), "consent_settings_on_start" (the start options').
    // Entries that are not strings are left out; no value when the key holds no dictionary.
    static std::optional<APMConsentSettings> consentSettingsTCF();
    static std::optional<APMConsentSettings> consentSettings3P();
    static std::optional<APMConsentSettings> consentSettings1P();
    static std::optional<APMConsentSettings> consentSettings1PStart();
    static void setConsentSettings1PStart(const std::optional<APMConsentSettings>& settings);
    static void removeStartUpConsentSettings();
    // "consent_source", or kNoConsentSource when none is stored.
    static std::int64_t persistedConsentSource();
    // Stores `settings` under "consent_settings_tcf" for source 5, "consent_settings_3p" for
    // other sources below 21, else "consent_settings", and the source under "consent_source".
    static void persistConsentSettings(const APMConsentSettings& settings, std::int64_t source);
    // Removes every consent key, then clears the consent state.
    static void clearConsent();
};
