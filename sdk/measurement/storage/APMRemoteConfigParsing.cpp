// The parts of a configuration's parse that build more than a cache entry: the event-editing
// programs and the consent maps.
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMConsentNames.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/measurement/storage/APMRemoteConfigNumber.h"

namespace {

APMMonitor& monitor() {
    return APMMonitor::shared();
}

// The elements of a repeated message field (none for a field that cannot be read).
template <class W>
APMPBRepeatedArray repeated(const NANOMessageBase* message, std::int32_t fieldID) {
    return APMPBGetRepeated<W>(message, fieldID).value_or(APMPBRepeatedArray{});
}

std::string enumAt(const NANOMessageBase* message, std::int32_t fieldID,
                   std::string_view (*name)(std::int64_t)) {
    return std::string(name(static_cast<std::int32_t>(APMPBGetInt32(message, fieldID))));
}

}  // namespace

bool APMRemoteConfig::loadPrograms(const APMPBMeasurementConfig& config) {
    const APMPBRepeatedArray programs =
        repeated<APMPBProgram>(&config, apmpb::MeasurementConfig::kDynamicEventEditing);
    // Without programs, or without the engine's loader, the current instance stays.
    if (programs.empty() || !eventEditingLoader_) {
        return true;
    }
    const auto* first = static_cast<const APMPBProgram*>(std::get<1>(programs.front()).get());
    // The settings module answers from the live cache, as the settings stand when a program asks.
    std::weak_ptr<APMRemoteConfig> weakSelf = weak_from_this();
    sdk::Error error;
    eventEditing_ = eventEditingLoader_(
        *first,
        [weakSelf](std::string_view key) -> std::optional<std::string> {
            const std::shared_ptr<APMRemoteConfig> self = weakSelf.lock();
            return self ? self->cachedValueAsString(key) : std::nullopt;
        },
        &error);
    if (!eventEditing_) {
        monitor().logWithLevel(1, 29026, "Failed to initiate event editing instance", error);
        return false;
    }
    monitor().logWithLevel(7, 29027, "Loading Event Modification and Creation programs",
                           static_cast<std::int64_t>(programs.size()));
    return true;
}

std::optional<std::string> APMRemoteConfig::cachedValueAsString(std::string_view key) const {
    const std::optional<sdk::Value> value =
        cachedValueByRemoteConfigKeys_.objectForKey(std::string(key));
    if (!value) {
        return std::nullopt;
    }
    if (const std::string* text = value->string()) {
        return *text;
    }
    return APMRemoteConfigNumberString(*value);
}

void APMRemoteConfig::cacheConsent(const APMPBMeasurementConfig& config) {
    cachedConsentDefaults_.removeAllObjects();
    cachedConsentDelegations_.removeAllObjects();
    cachedCorePlatformServices_.clear();
    cachedRegionalDefaults_.removeAllObjects();
    const std::unique_ptr<APMPBConsentConfig> consent =
        APMPBGetMessage<APMPBConsentConfig>(&config, apmpb::MeasurementConfig::kConsentConfig);
    if (!consent) {
        return;
    }
    isDMARegion_ = APMPBGetBool(consent.get(), apmpb::ConsentConfig::kIsDmaRegion);
    namespace Entry = apmpb::ConsentDefaultEntry;
    for (const auto& element :
         repeated<APMPBConsentDefaultEntry>(consent.get(), apmpb::ConsentConfig::kDefaults)) {
        const NANOMessageBase* entry = std::get<1>(element).get();
        cachedConsentDefaults_.setObject(enumAt(entry, Entry::kStatus, APMConsentStatusString),
                                         enumAt(entry, Entry::kType, APMConsentTypeString));
    }
    for (const auto& element : repeated<APMPBConsentDefaultEntry>(
             consent.get(), apmpb::ConsentConfig::kEnforcedDefaults)) {
        const NANOMessageBase* entry = std::get<1>(element).get();
        cachedRegionalDefaults_.setObject(enumAt(entry, Entry::kStatus, APMConsentStatusString),
                                          enumAt(entry, Entry::kType, APMConsentTypeString));
    }
    namespace Delegation = apmpb::ConsentDelegationEntry;
    for (const auto& element :
         repeated<APMPBConsentDelegationEntry>(consent.get(), apmpb::ConsentConfig::kDelegations)) {
        const NANOMessageBase* entry = std::get<1>(element).get();
        cachedConsentDelegations_.setObject(
            enumAt(entry, Delegation::kDelegateType, APMConsentTypeString),
            enumAt(entry, Delegation::kType, APMConsentTypeString));
    }
    for (const auto& element : repeated<APMPBCorePlatformServiceEntry>(
             consent.get(), apmpb::ConsentConfig::kCorePlatformServices)) {
        if (auto name = APMPBGetString(std::get<1>(element).get(),
                                       apmpb::CorePlatformServiceEntry::kName)) {
            cachedCorePlatformServices_.insert(std::move(*name));
        }
    }
}

namespace {

std::map<std::string, std::string> plainMap(
    const VDUMutableDictionary<std::string, std::string>& dictionary) {
    const auto contents = dictionary.dictionary();
    return std::map<std::string, std::string>(contents.begin(), contents.end());
}

}  // namespace

std::map<std::string, std::string> APMRemoteConfig::consentDefaults() const {
    return plainMap(cachedConsentDefaults_);
}

std::map<std::string, std::string> APMRemoteConfig::consentDelegations() const {
    return plainMap(cachedConsentDelegations_);
}

std::map<std::string, std::string> APMRemoteConfig::regionalDefaults() const {
    return plainMap(cachedRegionalDefaults_);
}
