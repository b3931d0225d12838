#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"

#include <atomic>

#include "sdk/measurement/audiences/APMConsentNames.h"

namespace {

// The installed implementation; null means the nothing-set default.
std::atomic<std::shared_ptr<APMConsentSettingsImplementation>>& installed() {
    static std::atomic<std::shared_ptr<APMConsentSettingsImplementation>> slot;
    return slot;
}

const std::shared_ptr<APMConsentSettingsImplementation>& nothingSet() {
    static const std::shared_ptr<APMConsentSettingsImplementation> instance =
        std::make_shared<APMConsentSettingsNothingSet>();
    return instance;
}

bool equalPriority(std::int64_t current, std::int64_t source) {
    return current == source || (current == 5 && source == 10) || (current == 10 && source == 5);
}

}  // namespace

bool APMConsentSettingsNothingSet::isConsentSourceEqualPriority(std::int64_t source) {
    return equalPriority(kUnsetSource, source);
}

bool APMConsentSettingsNothingSet::isConsentSourceHigherPriority(std::int64_t source) {
    return equalPriority(kUnsetSource, source) || kUnsetSource >= source;
}

std::string APMConsentSettingsNothingSet::description() {
    return "ad_storage is granted. analytics_storage is granted.";
}

std::shared_ptr<APMConsentSettingsImplementation> APMConsentSettingsUtil::implementation() {
    std::shared_ptr<APMConsentSettingsImplementation> current = installed().load();
    return current ? current : nothingSet();
}

void APMConsentSettingsUtil::setImplementation(
    std::shared_ptr<APMConsentSettingsImplementation> implementation) {
    installed().store(std::move(implementation));
}

std::optional<APMConsentSettings> APMConsentSettingsUtil::consentSettings() {
    return implementation()->consentSettings();
}
std::optional<APMConsentSettings> APMConsentSettingsUtil::defaultSettings() {
    return implementation()->defaultSettings();
}
std::optional<APMConsentSettings> APMConsentSettingsUtil::delegatedSettings() {
    return implementation()->delegatedSettings();
}
std::optional<APMConsentSettings> APMConsentSettingsUtil::regionalDefaults() {
    return implementation()->regionalDefaults();
}
std::int64_t APMConsentSettingsUtil::consentSource() {
    return implementation()->consentSource();
}
std::int64_t APMConsentSettingsUtil::version() {
    return implementation()->version();
}
void APMConsentSettingsUtil::setConsentSettings(std::optional<APMConsentSettings> settings) {
    implementation()->setConsentSettings(std::move(settings));
}
void APMConsentSettingsUtil::setDefaultSettings(std::optional<APMConsentSettings> settings) {
    implementation()->setDefaultSettings(std::move(settings));
}
void APMConsentSettingsUtil::setDelegatedSettings(std::optional<APMConsentSettings> settings) {
    implementation()->setDelegatedSettings(std::move(settings));
}
void APMConsentSettingsUtil::setRegionalDefaults(std::optional<APMConsentSettings> settings) {
    implementation()->setRegionalDefaults(std::move(settings));
}
void APMConsentSettingsUtil::setConsentSource(std::int64_t source) {
    implementation()->setConsentSource(source);
}
void APMConsentSettingsUtil::setVersion(std::int64_t version) {
    implementation()->setVersion(version);
}
void APMConsentSettingsUtil::updateSettings(const APMConsentSettings& settings) {
    implementation()->updateSettings(settings);
}
void APMConsentSettingsUtil::updateSettings(const APMConsentSettings& settings,
                                            std::int64_t source) {
    implementation()->updateSettings(settings, source);
}
bool APMConsentSettingsUtil::isConsentSourceEqualPriority(std::int64_t source) {
    return implementation()->isConsentSourceEqualPriority(source);
}
bool APMConsentSettingsUtil::isConsentSourceHigherPriority(std::int64_t source) {
    return implementation()->isConsentSourceHigherPriority(source);
}
bool APMConsentSettingsUtil::isAdStorageDenied() {
    return implementation()->isAdStorageDenied();
}
bool APMConsentSettingsUtil::isAnalyticsStorageDenied() {
    return implementation()->isAnalyticsStorageDenied();
}
bool APMConsentSettingsUtil::isAdUserDataDenied() {
    return implementation()->isAdUserDataDenied();
}
bool APMConsentSettingsUtil::didAdUserDataConsentChange(bool wasDenied) {
    return isAdUserDataDenied() != wasDenied;
}
std::optional<std::int64_t> APMConsentSettingsUtil::adPersonalization() {
    return implementation()->adPersonalization();
}
void APMConsentSettingsUtil::unsetAdPersonalization() {
    implementation()->unsetAdPersonalization();
}
void APMConsentSettingsUtil::clearAllSettings() {
    implementation()->clearAllSettings();
}

APMConsentSettings APMConsentSettingsUtil::consentSettingsFromDictionary(
    const APMConsentSettings& dictionary) {
    APMConsentSettings result;
    for (std::int64_t type = 1; type <= 4; ++type) {
        const auto found = dictionary.find(APMConsentTypeString(type));
        if (found != dictionary.end()) {
            result.insert(*found);
        }
    }
    return result;
}

std::optional<APMConsentSettings> APMConsentSettingsUtil::consentSettingsFromPlist() {
    return implementation()->consentSettingsFromPlist();
}
void APMConsentSettingsUtil::setDiagnosticSource(std::int64_t source,
                                                 std::string_view consentType) {
    implementation()->setDiagnosticSource(source, consentType);
}
std::string APMConsentSettingsUtil::consentSignals() {
    return implementation()->consentSignals();
}
std::string APMConsentSettingsUtil::consentDiagnostics() {
    return implementation()->consentDiagnostics();
}
std::string APMConsentSettingsUtil::description() {
    return implementation()->description();
}
