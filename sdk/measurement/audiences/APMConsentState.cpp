#include "sdk/measurement/audiences/APMConsentState.h"

#include <cassert>

#include "sdk/measurement/storage/APMConsentNames.h"

namespace {

constexpr std::string_view kAdStorage = "ad_storage";
constexpr std::string_view kAnalyticsStorage = "analytics_storage";
constexpr std::string_view kAdUserData = "ad_user_data";
constexpr std::string_view kAdPersonalization = "ad_personalization";
constexpr std::string_view kEUConsentPolicy = "eu_consent_policy";

std::optional<std::string> entry(const std::optional<APMConsentSettings>& settings,
                                 std::string_view key) {
    if (!settings) {
        return std::nullopt;
    }
    const auto found = settings->find(key);
    return found == settings->end() ? std::nullopt : std::optional(found->second);
}

bool isEUConsentPolicy(const std::optional<std::string>& value) {
    return value && APMConsentLowercased(*value) == kEUConsentPolicy;
}

bool mayHoldEUConsentPolicy(std::string_view type) {
    return type == kAdUserData || type == kAdPersonalization;
}

bool isStatus(const std::optional<std::string>& value, std::int64_t status) {
    return value && APMConsentStatusFromString(*value) == status;
}

using DiagnosticTable = std::map<std::string, std::int64_t, std::less<>>;

// The table of digits, made with 0 for the four types when there is none.
DiagnosticTable& diagnosticTable(std::optional<DiagnosticTable>& sources) {
    if (!sources) {
        sources.emplace();
        for (std::int64_t code = 1; code <= 4; ++code) {
            (*sources)[std::string(APMConsentTypeString(code))] = 0;
        }
    }
    return *sources;
}

char signalCharacter(const std::optional<std::string>& value) {
    if (isStatus(value, 2)) {
        return '0';
    }
    return isStatus(value, 1) ? '1' : '-';
}

}  // namespace

std::int64_t APMConsentDiagnosticDigitForSource(std::int64_t source) {
    switch (source) {
        case APMConsentSource::kTCF:
            return 7;
        case APMConsentSource::kThirdParty:
        case APMConsentSource::kFirstParty:
            return 5;
        case APMConsentSource::kInfoPlist:
            return 3;
        case APMConsentSource::kFirstPartyStart:
            return 4;
        default:
            return 0;
    }
}

std::optional<std::string> APMConsentState::currentValue(std::string_view type) const {
    return entry(consentSettings, type);
}

std::optional<std::string> APMConsentState::resolvedAdUserData() const {
    const std::optional<std::string> value = currentValue(kAdUserData);
    if (isEUConsentPolicy(value)) {
        return entry(regionalDefaults, kAdUserData).value_or("denied");
    }
    if (value) {
        return value;
    }
    if (const std::optional<std::string> delegate = entry(delegatedSettings, kAdUserData)) {
        if (std::optional<std::string> delegated = currentValue(*delegate)) {
            return delegated;
        }
    }
    return entry(defaultSettings, kAdUserData);
}

std::optional<std::string> APMConsentState::resolvedAdPersonalization() const {
    const std::optional<std::string> value = currentValue(kAdPersonalization);
    if (isEUConsentPolicy(value)) {
        return entry(regionalDefaults, kAdPersonalization).value_or("denied");
    }
    return value ? value : entry(defaultSettings, kAdPersonalization);
}

bool APMConsentState::isDenied(std::string_view type) const {
    return isStatus(currentValue(type), 2);
}

void APMConsentState::update(const APMConsentSettings& settings) {
    if (!consentSettings) {
        consentSettings.emplace();
    }
    for (const auto& [type, status] : settings) {
        (*consentSettings)[type] = status;
    }
}

void APMConsentState::setDiagnosticSource(std::int64_t digit, std::string_view type) {
    if (APMConsentTypeFromString(type) == 0) {
        return;
    }
    diagnosticTable(diagnosticSources).find(type)->second = digit;
}

void APMConsentState::refreshDiagnosticSources(bool useSource) {
    DiagnosticTable& table = diagnosticTable(diagnosticSources);
    for (std::int64_t code = 1; code <= 4; ++code) {
        const std::string_view type = APMConsentTypeString(code);
        std::int64_t& digit = table.find(type)->second;
        const std::optional<std::string> value = currentValue(type);
        if (value) {
            if (useSource) {
                digit = APMConsentDiagnosticDigitForSource(consentSource);
            }
            if (mayHoldEUConsentPolicy(type) && isEUConsentPolicy(value)) {
                digit = 8;
            }
        } else if (type == kAdUserData && entry(delegatedSettings, kAdUserData)) {
            digit = 2;
        } else if (!type.ends_with("_storage") && entry(defaultSettings, type)) {
            digit = 1;
        } else {
            digit = 9;
        }
    }
    assert(table.size() == 4);
}

std::string APMConsentState::consentSignals() const {
    std::string signals = "G1";
    signals += signalCharacter(currentValue(kAdStorage));
    signals += signalCharacter(currentValue(kAnalyticsStorage));
    return signals;
}

std::string APMConsentState::consentDiagnostics() {
    refreshDiagnosticSources(false);
    std::string diagnostics = "1";
    for (std::int64_t code = 1; code <= 4; ++code) {
        diagnostics += std::to_string(diagnosticSources->find(APMConsentTypeString(code))->second);
    }
    return diagnostics;
}

std::string APMConsentState::description() const {
    const auto shown = [this](std::string_view type) {
        const std::string value = currentValue(type).value_or("granted");
        if (!isEUConsentPolicy(value)) {
            return value;
        }
        return entry(regionalDefaults, type).value_or("denied") + " (eu_consent_policy)";
    };
    std::string text = std::string(kAdStorage) + " is " + shown(kAdStorage) + ". " +
                       std::string(kAnalyticsStorage) + " is " + shown(kAnalyticsStorage) + ".";
    for (const std::string_view type : {kAdUserData, kAdPersonalization}) {
        if (currentValue(type)) {
            text += " " + std::string(type) + " is " + shown(type) + ".";
        }
    }
    return text;
}

void APMConsentState::clear() {
    consentSettings.reset();
    defaultSettings.reset();
    delegatedSettings.reset();
    regionalDefaults.reset();
    consentSource = APMConsentSource::kUnset;
    diagnosticSources.reset();
    diagnosticTable(diagnosticSources);
}
