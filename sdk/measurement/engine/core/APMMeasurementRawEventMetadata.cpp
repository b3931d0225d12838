// The raw-event metadata: the bundle fields that every event written under the same app,
// device, identifiers, consent and user properties shares, stored once under its fingerprint.
#include <algorithm>
#include <cmath>
#include <limits>

#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/core/APMBundleFields.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/experiments/APMEnvironmentInfo.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

namespace Bundle = apmpb::MeasurementBundle;

constexpr std::int32_t kProtocolVersion = 1;
constexpr std::string_view kPlatform = "macos";
constexpr std::string_view kManualInstall = "manual_install";

void setOptionalString(APMPBMeasurementBundle& bundle, std::int32_t slot,
                       const std::optional<std::string>& value) {
    if (value && !value->empty()) {
        APMPBSetString(&bundle, slot, *value);
    }
}

void setOptionalInt32(APMPBMeasurementBundle& bundle, std::int32_t slot,
                      std::optional<std::int64_t> value) {
    if (value) {
        APMPBSetInt32(&bundle, slot, static_cast<std::uint32_t>(*value));
    }
}

// `value` truncated to int64, saturating (NaN gives 0).
std::int64_t saturatingInt64(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 9223372036854775807.0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (value <= -9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

// An on-device measurement value {1: set time in ms, 2: value} of a stored row that has both.
std::shared_ptr<APMPBOnDeviceMeasurementValue> measurementValue(const APMSqliteRecord& row) {
    const auto timestamp = row.find("set_timestamp");
    const auto value = row.find("value");
    if (timestamp == row.end() || value == row.end() || !value->second.string()) {
        return nullptr;
    }
    const std::optional<double> seconds = timestamp->second.numberAsDouble();
    if (!seconds) {
        return nullptr;
    }
    auto message = std::make_shared<APMPBOnDeviceMeasurementValue>();
    APMPBSetInt64(message.get(), apmpb::OnDeviceMeasurementValue::kSetTimestampMillis,
                  saturatingInt64(*seconds * 1000));
    APMPBSetString(message.get(), apmpb::OnDeviceMeasurementValue::kValue, *value->second.string());
    return message;
}

}  // namespace

std::unique_ptr<APMPBMeasurementBundle> APMMeasurement::createRawEventMetadataWithUserAttributes(
    const std::vector<APMUserAttribute>& userAttributes) {
    auto metadata = std::make_unique<APMPBMeasurementBundle>();
    APMPBMeasurementBundle& bundle = *metadata;
    APMPBSetInt32(&bundle, Bundle::kProtocolVersion, kProtocolVersion);
    APMPBSetString(&bundle, Bundle::kPlatform, kPlatform);
    setOptionalString(bundle, Bundle::kAppId, identity_->appID());
    if (!APMIdentity::isFromAppStore()) {
        APMPBSetString(&bundle, Bundle::kInstallSource, kManualInstall);
    }
    setOptionalString(bundle, Bundle::kAppVersion, identity_->appVersion());
    setOptionalString(bundle, Bundle::kVudAppId, identity_->appIDFromVUD());
    APMPBSetInt64(&bundle, Bundle::kVudVersion, APMIdentity::divEdadevadezeLibraryVersion());
    setOptionalString(bundle, Bundle::kRazudizoInstallationId, identity_->razudizoInstallationID());
    // The token's expired flag comes with sessions; until then a session never expires.
    setOptionalString(
        bundle, Bundle::kSessionStitchingToken,
        identity_->sessionStitchingTokenWithSessionNumber(
            persistedConfig_->sessionNumber(), isSessionExpired(),
            std::any_of(userAttributes.begin(), userAttributes.end(),
                        [](const APMUserAttribute& a) { return a.name() == "_id"; })));
    setOptionalInt32(bundle, Bundle::kAppVersionMajor, identity_->appVersionMajor());
    setOptionalInt32(bundle, Bundle::kAppVersionMinor, identity_->appVersionMinor());
    setOptionalInt32(bundle, Bundle::kAppVersionRelease, identity_->appVersionRelease());
    const std::shared_ptr<const APMConsentSnapshot> consent =
        writingConsent_ ? writingConsent_ : APMConsentSettingsUtil::snapshot();
    APMSetBundleIdentifiers(bundle, consent->consentSignals,
                            remoteConfig_->gateIDFAOnATTMASEnabled(), *identity_, true);
    APMSetBundleConsentFields(bundle, consent->consentDiagnostics, consent->adUserDataDenied,
                              nullptr, *remoteConfig_, true);
    APMEnvironmentInfo& environment = APMEnvironmentInfo::sharedInstance();
    setOptionalString(bundle, Bundle::kDeviceModel, environment.deviceModel());
    setOptionalString(bundle, Bundle::kOsVersion, environment.deviceOSVersion());
    APMPBSetInt32(&bundle, Bundle::kTimezoneOffsetMinutes,
                  static_cast<std::uint32_t>(environment.timeZoneOffsetMinutes()));
    if (!userDefaultLanguage_) {
        userDefaultLanguage_ = environment.userDefaultLanguage();
    }
    setOptionalString(bundle, Bundle::kUserDefaultLanguage, *userDefaultLanguage_);
    if (!userAttributes.empty()) {
        APMPBRepeatedArray attributes;
        for (const APMUserAttribute& attribute : userAttributes) {
            attributes.emplace_back(
                std::make_shared<APMPBUserAttribute>(attribute.protoUserAttribute()));
        }
        APMPBSetRepeated(&bundle, Bundle::kUserAttributes, attributes);
    }
    return metadata;
}

void APMMeasurement::addStoredMetadataFields(APMPBMeasurementBundle& metadata) {
    if (const std::optional<sdk::Value> buffer = persistedConfig_->adCampaignInfoBuffer()) {
        if (const sdk::Bytes* bytes = buffer->bytes(); bytes && !bytes->empty()) {
            if (std::unique_ptr<APMPBAdCampaignInfo> campaign =
                    APMPBAdCampaignInfo::initWithBuffer(*bytes)) {
                APMPBSetMessage(&metadata, Bundle::kAdCampaignInfo, campaign.get());
            }
        }
    }
    struct Stored {
        const char* name;
        std::int64_t code;
        const char* message;
        std::int32_t slot;
    };
    static constexpr Stored kValues[] = {
        {"odm1_value", 23287, "Failed to query ODM value. Error",
         apmpb::OnDeviceMeasurementInfo::kOdm1Value},
        {"odm1_session_value", 23288, "Failed to query ODM session value. Error",
         apmpb::OnDeviceMeasurementInfo::kOdm1SessionValue},
        {"odm2_value", 23291, "Failed to query ODM value. Error",
         apmpb::OnDeviceMeasurementInfo::kOdm2Value},
    };
    APMPBOnDeviceMeasurementInfo info;
    bool hasValue = false;
    for (const Stored& stored : kValues) {
        sdk::Error error;
        const std::optional<APMSqliteRecord> row = database_->ODMValueWithName(stored.name, &error);
        if (!row && !error.ok()) {
            monitor().logWithLevel(4, stored.code, stored.message, error);
            continue;
        }
        if (std::shared_ptr<APMPBOnDeviceMeasurementValue> value =
                row ? measurementValue(*row) : nullptr) {
            APMPBSetMessage(&info, stored.slot, value.get());
            hasValue = true;
        }
    }
    if (hasValue) {
        APMPBSetMessage(&metadata, Bundle::kOnDeviceMeasurementInfo, &info);
    }
    std::uint32_t linkedFeatures = 0;
    if (APMDefaultIdentitySupport::sharedInstance().hasAppDataConsentStatus()) {
        linkedFeatures |= 1u << 0;
    }
    if (isAPMPrivateSetMembershipClientLinked()) {
        linkedFeatures |= 1u << 1;
    }
    if (isAlphaAppAdsOnDeviceConversionLinked()) {
        linkedFeatures |= 1u << 2;
    }
    if (isVoviduAdsOnDeviceConversionLinked()) {
        linkedFeatures |= 1u << 3;
    }
    APMPBSetInt32(&metadata, Bundle::kLinkedFeatures, linkedFeatures);
}
