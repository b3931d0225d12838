#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// Consent settings: consent type name ("ad_storage", ...) to status ("granted", "denied" or
// "eu_consent_policy"), or, for delegations, to the name of another consent type.
using APMConsentSettings = std::map<std::string, std::string, std::less<>>;

// Where the current consent settings came from. A smaller number has the higher priority;
// kTCF and kThirdParty count as equal.
struct APMConsentSource {
    static constexpr std::int64_t kTCF = 5;               // consent-management platform data
    static constexpr std::int64_t kThirdParty = 10;       // other parties, "consent_settings_3p"
    static constexpr std::int64_t kInfoPlist = 20;        // the application's Info.plist defaults
    static constexpr std::int64_t kFirstParty = 30;       // the app's own calls, "consent_settings"
    static constexpr std::int64_t kFirstPartyStart = 40;  // the app's settings restored at start
    static constexpr std::int64_t kUnset = 100;           // nothing loaded yet
};

// The diagnostic digit a setting of `source` gets: 5 -> 7, 10 or 30 -> 5, 20 -> 3, 40 -> 4,
// anything else 0.
std::int64_t APMConsentDiagnosticDigitForSource(std::int64_t source);

// The consent state as a plain value, with the rules that read it. APMConsentSettingsUtil keeps
// the process's one instance and touches it only on its queue; this type itself is not
// thread-safe.
//
// Invariants:
// 1. `version` is 1 or 2.
// 2. `diagnosticSources` is absent until first needed, then holds a digit for each of the four
//    consent types and nothing else.
// Statuses are compared without letter case ("DENIED" is denied).
struct APMConsentState {
    std::optional<APMConsentSettings> consentSettings;
    std::optional<APMConsentSettings> defaultSettings;
    std::optional<APMConsentSettings> delegatedSettings;
    std::optional<APMConsentSettings> regionalDefaults;
    std::int64_t consentSource = APMConsentSource::kUnset;
    std::int64_t version = 1;
    std::optional<std::map<std::string, std::int64_t, std::less<>>> diagnosticSources;

    // The current value of `type`, as stored.
    std::optional<std::string> currentValue(std::string_view type) const;

    // "ad_user_data" as it applies: the current value ("eu_consent_policy" standing for the
    // regional default, else "denied"); without one, the current value of the type it is
    // delegated to, else its default setting.
    std::optional<std::string> resolvedAdUserData() const;

    // "ad_personalization" as it applies: the current value ("eu_consent_policy" as above),
    // else its default setting.
    std::optional<std::string> resolvedAdPersonalization() const;

    // Whether the current value of `type` is "denied"; no value is not denied.
    bool isDenied(std::string_view type) const;

    // Merges `settings` into the current settings.
    void update(const APMConsentSettings& settings);

    // Stores `digit` for `type`, one of the four consent types (others are ignored).
    void setDiagnosticSource(std::int64_t digit, std::string_view type);

    // Recomputes the digit of every type: a type with a current value takes the digit of the
    // source when `useSource` (else keeps its digit), or 8 when it is "eu_consent_policy" on
    // "ad_user_data" or "ad_personalization"; a type without one shows 2 ("ad_user_data"
    // delegated), 1 (a default for a type not ending in "_storage") or 9.
    void refreshDiagnosticSources(bool useSource);

    // "G1" followed by the characters of "ad_storage" and "analytics_storage": '0' denied,
    // '1' granted, '-' anything else.
    std::string consentSignals() const;

    // Refreshes the digits (without the source), then "1" followed by one digit per type.
    std::string consentDiagnostics();

    // "ad_storage is X. analytics_storage is Y." (a missing value shown as granted), followed by
    // " ad_user_data is Z." and " ad_personalization is W." when those are set;
    // "eu_consent_policy" shows as "<resolution> (eu_consent_policy)".
    std::string description() const;

    // Back to the initial state, keeping the version; every digit 0.
    void clear();
};
