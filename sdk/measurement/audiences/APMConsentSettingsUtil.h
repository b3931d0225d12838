#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

// Consent settings: consent type name ("ad_storage", ...) to status ("granted", "denied" or
// "eu_consent_policy").
using APMConsentSettings = std::map<std::string, std::string, std::less<>>;

// What the consent state answers. APMConsentSettingsUtil forwards every call to the installed
// implementation; the consent state proper installs its own.
class APMConsentSettingsImplementation {
  public:
    virtual ~APMConsentSettingsImplementation() = default;

    virtual std::optional<APMConsentSettings> consentSettings() = 0;
    virtual std::optional<APMConsentSettings> defaultSettings() = 0;
    virtual std::optional<APMConsentSettings> delegatedSettings() = 0;
    virtual std::optional<APMConsentSettings> regionalDefaults() = 0;
    virtual std::int64_t consentSource() = 0;
    virtual std::int64_t version() = 0;
    virtual void setConsentSettings(std::optional<APMConsentSettings> settings) = 0;
    virtual void setDefaultSettings(std::optional<APMConsentSettings> settings) = 0;
    virtual void setDelegatedSettings(std::optional<APMConsentSettings> settings) = 0;
    virtual void setRegionalDefaults(std::optional<APMConsentSettings> settings) = 0;
    virtual void setConsentSource(std::int64_t source) = 0;
    virtual void setVersion(std::int64_t version) = 0;
    virtual void updateSettings(const APMConsentSettings& settings) = 0;
    virtual void updateSettings(const APMConsentSettings& settings, std::int64_t source) = 0;
    virtual bool isConsentSourceEqualPriority(std::int64_t source) = 0;
    virtual bool isConsentSourceHigherPriority(std::int64_t source) = 0;
    virtual bool isAdStorageDenied() = 0;
    virtual bool isAnalyticsStorageDenied() = 0;
    virtual bool isAdUserDataDenied() = 0;
    // 0 denied, 1 granted, none otherwise.
    virtual std::optional<std::int64_t> adPersonalization() = 0;
    virtual void unsetAdPersonalization() = 0;
    virtual void clearAllSettings() = 0;
    virtual std::optional<APMConsentSettings> consentSettingsFromPlist() = 0;
    virtual void setDiagnosticSource(std::int64_t source, std::string_view consentType) = 0;
    virtual std::string consentSignals() = 0;
    virtual std::string consentDiagnostics() = 0;
    virtual std::string description() = 0;
};

// The default implementation: the state where nothing was ever set. Source 100, signals
// "G1--", diagnostics "19999", no type denied, no ad personalisation, no settings; writes are
// accepted and not kept. Not final: tests derive fixed answers from it.
class APMConsentSettingsNothingSet : public APMConsentSettingsImplementation {
  public:
    static constexpr std::int64_t kUnsetSource = 100;

    std::optional<APMConsentSettings> consentSettings() override { return std::nullopt; }
    std::optional<APMConsentSettings> defaultSettings() override { return std::nullopt; }
    std::optional<APMConsentSettings> delegatedSettings() override { return std::nullopt; }
    std::optional<APMConsentSettings> regionalDefaults() override { return std::nullopt; }
    std::int64_t consentSource() override { return kUnsetSource; }
    std::int64_t version() override { return 1; }
    void setConsentSettings(std::optional<APMConsentSettings>) override {}
    void setDefaultSettings(std::optional<APMConsentSettings>) override {}
    void setDelegatedSettings(std::optional<APMConsentSettings>) override {}
    void setRegionalDefaults(std::optional<APMConsentSettings>) override {}
    void setConsentSource(std::int64_t) override {}
    void setVersion(std::int64_t) override {}
    void updateSettings(const APMConsentSettings&) override {}
    void updateSettings(const APMConsentSettings&, std::int64_t) override {}
    bool isConsentSourceEqualPriority(std::int64_t source) override;
    bool isConsentSourceHigherPriority(std::int64_t source) override;
    bool isAdStorageDenied() override { return false; }
    bool isAnalyticsStorageDenied() override { return false; }
    bool isAdUserDataDenied() override { return false; }
    std::optional<std::int64_t> adPersonalization() override { return std::nullopt; }
    void unsetAdPersonalization() override {}
    void clearAllSettings() override {}
    std::optional<APMConsentSettings> consentSettingsFromPlist() override { return std::nullopt; }
    void setDiagnosticSource(std::int64_t, std::string_view) override {}
    std::string consentSignals() override { return "G1--"; }
    std::string consentDiagnostics() override { return "19999"; }
    std::string description() override;
};

// The engine's way to the consent state: class methods forwarding to the installed
// implementation (APMConsentSettingsNothingSet until another is installed).
//
// Thread-safety: every member may be called from any thread; the implementation in use is
// swapped atomically and must itself be safe from any thread.
class APMConsentSettingsUtil {
  public:
    APMConsentSettingsUtil() = delete;

    // The implementation in force; never null.
    static std::shared_ptr<APMConsentSettingsImplementation> implementation();
    // Installs `implementation`; null goes back to the nothing-set default.
    static void setImplementation(std::shared_ptr<APMConsentSettingsImplementation> implementation);

    static std::optional<APMConsentSettings> consentSettings();
    static std::optional<APMConsentSettings> defaultSettings();
    static std::optional<APMConsentSettings> delegatedSettings();
    static std::optional<APMConsentSettings> regionalDefaults();
    static std::int64_t consentSource();
    static std::int64_t version();
    static void setConsentSettings(std::optional<APMConsentSettings> settings);
    static void setDefaultSettings(std::optional<APMConsentSettings> settings);
    static void setDelegatedSettings(std::optional<APMConsentSettings> settings);
    static void setRegionalDefaults(std::optional<APMConsentSettings> settings);
    static void setConsentSource(std::int64_t source);
    static void setVersion(std::int64_t version);
    static void updateSettings(const APMConsentSettings& settings);
    static void updateSettings(const APMConsentSettings& settings, std::int64_t source);
    static bool isConsentSourceEqualPriority(std::int64_t source);
    static bool isConsentSourceHigherPriority(std::int64_t source);
    static bool isAdStorageDenied();
    static bool isAnalyticsStorageDenied();
    static bool isAdUserDataDenied();
    // Whether isAdUserDataDenied differs from `wasDenied`.
    static bool didAdUserDataConsentChange(bool wasDenied);
    static std::optional<std::int64_t> adPersonalization();
    static void unsetAdPersonalization();
    static void clearAllSettings();
    // A copy of `dictionary` holding only the four consent type keys that are present.
    static APMConsentSettings consentSettingsFromDictionary(const APMConsentSettings& dictionary);
    static std::optional<APMConsentSettings> consentSettingsFromPlist();
    static void setDiagnosticSource(std::int64_t source, std::string_view consentType);
    static std::string consentSignals();
    static std::string consentDiagnostics();
    static std::string description();
};
