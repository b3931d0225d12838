#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/audiences/APMConsentState.h"

// The consent an event is written under, as it stood at one moment: the signals, the
// diagnostics and whether ad user data is denied (see APMConsentSettingsUtil).
struct APMConsentSnapshot {
    std::string consentSignals;
    std::string consentDiagnostics;
    bool adUserDataDenied = false;
};

// The process-wide consent state of the measurement engine: for each of the four consent types
// ("ad_storage", "analytics_storage", "ad_user_data", "ad_personalization") a status, where the
// settings came from (APMConsentSource), the defaults, delegations and regional defaults that
// apply, and the two strings every upload carries: the consent signals ("G1" and two
// characters) and the consent diagnostics ("1" and four digits). Class methods only; keeping
// the state on disk is the engine's business.
//
// Design notes:
// 1. The state is one APMConsentState in a process global that only blocks of serialQueue()
//    touch.
// 2. Readers run synchronously on that queue and return copies; writers run asynchronously, so
//    a read issued after a write from the same thread sees the write.
// 3. After each write the queue publishes a snapshot of what events are written under, with
//    the number of writes applied; snapshot() takes it without entering the queue when no
//    write issued before the call is still waiting, and reads through the queue otherwise.
// 4. No member may be called from serialQueue() itself: a reader would wait on its own queue,
//    which the queue refuses by throwing std::logic_error.
//
// Thread-safety: every member may be called from any thread but serialQueue()'s own.
class APMConsentSettingsUtil {
  public:
    APMConsentSettingsUtil() = delete;

    // The serial queue "APMConsentSettingsUtilQueue", made on first use.
    static const platform::QueueRef& serialQueue();

    // Readers: copies of the state.
    static std::optional<APMConsentSettings> consentSettings();
    static std::optional<APMConsentSettings> defaultSettings();
    static std::optional<APMConsentSettings> delegatedSettings();
    static std::optional<APMConsentSettings> regionalDefaults();
    static std::int64_t consentSource();
    static std::int64_t version();

    // Writers. Setting no current settings also sets the source to kUnset and refreshes the
    // diagnostics with the source; setConsentSource refreshes them too.
    static void setConsentSettings(std::optional<APMConsentSettings> settings);
    static void setDefaultSettings(std::optional<APMConsentSettings> settings);
    static void setDelegatedSettings(std::optional<APMConsentSettings> settings);
    static void setRegionalDefaults(std::optional<APMConsentSettings> settings);
    static void setConsentSource(std::int64_t source);
    // Only 1 and 2 are taken; other values leave the version as it is.
    static void setVersion(std::int64_t version);

    // Merges `settings` into the current settings.
    static void updateSettings(const APMConsentSettings& settings);
    // Merges `settings`, makes `source` the current source, and gives every consent type among
    // `settings` the diagnostic digit of that source.
    static void updateSettings(const APMConsentSettings& settings, std::int64_t source);

    // Whether `source` equals the current source (5 and 10 count as equal).
    static bool isConsentSourceEqualPriority(std::int64_t source);
    // Whether settings of `source` may replace the current ones: of equal priority, or the
    // current source number is not smaller (the newcomer wins ties).
    static bool isConsentSourceHigherPriority(std::int64_t source);

    // Whether the current value of the type is "denied" (in any letter case); no value is not.
    static bool isAdStorageDenied();
    static bool isAnalyticsStorageDenied();
    // Whether "ad_user_data", with delegation, defaults and regional defaults, resolves to
    // "denied".
    static bool isAdUserDataDenied();
    // Whether isAdUserDataDenied differs from `wasDenied`.
    static bool didAdUserDataConsentChange(bool wasDenied);
    // 0 when "ad_personalization" resolves to "denied", 1 to "granted", no value otherwise.
    static std::optional<std::int64_t> adPersonalization();
    // Removes the current "ad_personalization" value and sets its diagnostic digit to 0.
    static void unsetAdPersonalization();
    // Back to the initial state (source kUnset, no settings, every digit 0); keeps the version.
    static void clearAllSettings();

    // A copy of `dictionary` holding only the four consent type keys that are present.
    static APMConsentSettings consentSettingsFromDictionary(const APMConsentSettings& dictionary);

    // The defaults the main bundle's Info.plist sets with "VOVIDU_ANALYTICS_DEFAULT_ALLOW_..."
    // keys: a value that reads as a boolean (a boolean, a number, or a string read as
    // Foundation reads a string's boolean) gives "granted" or "denied"; "eu_consent_policy" (any
    // case) is kept for "ad_user_data" and "ad_personalization" only; other values are left out.
    // The ad-personalisation key is read only when it holds a string. Empty without a main
    // bundle. Does not touch the state.
    static APMConsentSettings consentSettingsFromPlist();

    // Stores the diagnostic `digit` for `consentType` (one of the four types).
    static void setDiagnosticSource(std::int64_t digit, std::string_view consentType);

    static std::string consentSignals();
    static std::string consentDiagnostics();
    static std::string description();

    // The consent as it stands after every write issued before the call; cheap to take, so an
    // event can carry the consent of the moment it was logged.
    static std::shared_ptr<const APMConsentSnapshot> snapshot();
    // How many writes have been issued so far. While it answers the same number as it did just
    // before a snapshot() call, no write has been issued since, so that snapshot still stands.
    static std::uint64_t writesIssued();
};

// Whether `text` is true as a Foundation string's boolean value: after leading blanks, a sign
// and leading zeros, the first character is Y, y, T, t or 1-9.
bool APMStringBoolValue(std::string_view text);
