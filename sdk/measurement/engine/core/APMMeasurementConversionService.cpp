// The conversion service: a library that works out the installation's ads conversion value
// itself. After each configuration fetch the engine asks it for the value and keeps it as
// "_psmvalue_cads", announced with "_fx"; a service that is switched off or consent-blocked
// clears what was kept.
#include <string>

#include "sdk/measurement/attribution/APMPSMContext.h"
#include "sdk/measurement/attribution/APMPrivateSetMembershipClient.h"
#include "sdk/measurement/attribution/ODCConversionService.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

constexpr std::string_view kServiceValueProperty = "_psmvalue_cads";
constexpr std::string_view kODM2Value = "odm2_value";

constexpr std::string_view kBothLinkedReason =
    "VoviduDivEdadevadezeOnDeviceConversion (deprecated) framework and "
    "VoviduAdsOnDeviceConversion framework are both linked into the app. Remove the "
    "VoviduDivEdadevadezeOnDeviceConversion (deprecated) framework, which is no longer "
    "recommended for new development.";

}  // namespace

std::shared_ptr<const ODCConversionService> APMMeasurement::conversionServiceClass() {
    return VDUClassRegistry::classNamed<ODCConversionService>(ODCConversionService::kClassName);
}

bool APMMeasurement::isAdsOnDeviceConversionLinked() {
    return conversionServiceClass() != nullptr;
}

std::shared_ptr<APMConversionService> APMMeasurement::conversionServiceFromReflection() {
    const std::shared_ptr<const ODCConversionService> library = conversionServiceClass();
    return library ? library->sharedInstance() : nullptr;
}

bool APMMeasurement::isAlphaAppAdsOnDeviceConversionLinked() {
    if (!isAdsOnDeviceConversionLinked()) {
        return false;
    }
    const std::shared_ptr<APMConversionService> service =
        conversionService_ ? conversionService_ : conversionServiceFromReflection();
    return service && service->versionNumber() < APMConversionService::kCurrentVersionNumber;
}

bool APMMeasurement::isVoviduAdsOnDeviceConversionLinked() {
    if (!isAdsOnDeviceConversionLinked()) {
        return false;
    }
    const std::shared_ptr<APMConversionService> service =
        conversionService_ ? conversionService_ : conversionServiceFromReflection();
    return service && service->versionNumber() >= APMConversionService::kCurrentVersionNumber;
}

void APMMeasurement::checkODM2DependencyOnWorkerQueue() {
    const bool deprecatedClientLinked =
        !deprecatedPSMClientRefused_ &&
        VDUClassRegistry::classNamed(APMPrivateSetMembershipClientClass::kDeprecatedClassName);
    if (isAdsOnDeviceConversionLinked()) {
        // Both libraries cannot work side by side. Ending the process over it would take the
        // app down for a packaging mistake, so the older library is set aside instead.
        if (deprecatedClientLinked && isVoviduAdsOnDeviceConversionLinked()) {
            monitor().logWithLevel(0, 23292, kBothLinkedReason);
            deprecatedPSMClientRefused_ = true;
        }
        monitor().logWithLevel(7, 23278,
                               "Conversion service VoviduAdsOnDeviceConversion framework is "
                               "linked");
    } else {
        monitor().logWithLevel(7, 23279,
                               "Conversion service disabled. VoviduAdsOnDeviceConversion "
                               "framework is not linked.");
        if (deprecatedClientLinked) {
            monitor().logWithLevel(4, 23292,
                                   "VoviduDivEdadevadezeOnDeviceConversion (deprecated) framework "
                                   "is linked. Use the VoviduAdsOnDeviceConversion framework "
                                   "instead.");
        }
    }
    if (!remoteConfig_->isExpired()) {
        monitor().logWithLevel(7, 23280, "Conversion service will not attempt a fetch");
    }
}

bool APMMeasurement::isAdsOnDeviceConversionEnabled() {
    if (!isAdsOnDeviceConversionLinked()) {
        return false;
    }
    if (!remoteConfig_->adsOnDeviceConversionFeatureEnabled()) {
        monitor().logWithLevel(7, 23275,
                               "Conversion service disabled. Remote config disabled. Check ads "
                               "account linked to Vovidu Analytics.");
        return false;
    }
    if (APMConsentSettingsUtil::isAdStorageDenied()) {
        monitor().logWithLevel(7, 23276,
                               "Conversion service disabled. Ad storage consent is denied.");
        return false;
    }
    monitor().logWithLevel(7, 23277, "Conversion service enabled");
    return true;
}

std::optional<sdk::Date> APMMeasurement::firstLaunchDate() {
    const std::int64_t firstOpenMs = persistedConfig_->firstOpenTimestampMilliseconds();
    if (firstOpenMs == 0) {
        return std::nullopt;
    }
    return sdk::Date::fromTimeIntervalSince1970(static_cast<double>(firstOpenMs) / 1000.0);
}

void APMMeasurement::updateAdsOnDeviceConversionMeasurement() {
    if (!isAdsOnDeviceConversionEnabled()) {
        handleAdsOnDeviceConversionValue(std::nullopt, std::nullopt);
        return;
    }
    if (!conversionService_) {
        conversionService_ = conversionServiceFromReflection();
    }
    if (!conversionService_) {
        monitor().logWithLevel(1, 23268, "Failed to get the compatible conversion service.");
        handleAdsOnDeviceConversionValue(std::nullopt, std::nullopt);
        return;
    }
    conversionService_->setFirstLaunchTime(firstLaunchDate());
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    std::weak_ptr<APMScheduler> weakScheduler = scheduler_;
    conversionService_->fetchMeasurementInfoForInteraction(
        [weak, weakScheduler](std::optional<std::string> value, std::optional<sdk::Error> error) {
            const std::shared_ptr<APMScheduler> scheduler = weakScheduler.lock();
            if (!scheduler || weak.expired()) {
                return;
            }
            scheduler->scheduleOnWorkerQueue(
                "APMMeasurement:186", [weak, value = std::move(value), error = std::move(error)] {
                    if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                        engine->handleAdsOnDeviceConversionValue(value, error);
                    }
                });
        });
}

void APMMeasurement::handleAdsOnDeviceConversionValue(const std::optional<std::string>& value,
                                                      const std::optional<sdk::Error>& error) {
    if (error) {
        monitor().logWithLevel(1, 23269, "Conversion service failed to fetch measurement info.");
        return;
    }
    sdk::Error queryError;
    const std::optional<APMUserAttribute> stored =
        storedUserAttributeWithName(kServiceValueProperty, &queryError);
    if (!value || value->empty()) {
        if (stored) {
            if (sdk::Error deleteError;
                !deleteStoredUserAttribute(kServiceValueProperty, &deleteError)) {
                monitor().logWithLevel(1, 23077, "Unable to remove user property. Name, error",
                                       std::string(kServiceValueProperty), deleteError);
            }
        }
        if (sdk::Error deleteError; !database_->deleteODMValueWithName(kODM2Value, &deleteError)) {
            monitor().logWithLevel(4, 23289, "Failed to delete ODM value. Error", deleteError);
        }
        monitor().logWithLevel(7, 23281, "Conversion service returned empty value");
        return;
    }
    if (stored && stored->value().stringValue() && *stored->value().stringValue() == *value) {
        monitor().logWithLevel(7, 23282, "Conversion service returned the same value",
                               std::string(kServiceValueProperty), *value);
        return;
    }
    const double now = APMCurrentTimeInterval();
    if (sdk::Error updateError; !database_->updateODMValue(*value, kODM2Value, now, &updateError)) {
        monitor().logWithLevel(1, 23290, "Failed to update ODM value. Error", updateError);
    }
    if (std::optional<APMUserAttribute> attribute = APMUserAttribute::initWithOrigin(
            "auto", kServiceValueProperty, APMValue(*value), now)) {
        setUserAttributeOnWorkerQueue(*attribute);
    }
    writeOnDeviceConversionEventOnWorkerQueue("psm_cads");
}
