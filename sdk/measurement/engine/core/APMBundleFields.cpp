#include "sdk/measurement/engine/core/APMBundleFields.h"

#include <algorithm>
#include <set>

#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/MessageSlots.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

namespace MB = apmpb::MeasurementBundle;
namespace UA = apmpb::UserAttribute;

constexpr std::string_view kNPAName = "_npa";

bool isDeniedCharacter(char c) {
    return c == '0' || c == 'd' || c == 'D';
}

// The third and fourth characters of consent signals: ad storage, analytics storage.
struct StorageDenial {
    bool ad = false;
    bool analytics = false;
};

StorageDenial denialIn(std::string_view signals) {
    if (signals.size() < 4) {
        return {};
    }
    return {isDeniedCharacter(signals[2]), isDeniedCharacter(signals[3])};
}

std::string userAttributeName(const NANOMessageBase& attribute) {
    return APMPBGetString(&attribute, UA::kName).value_or("");
}

APMPBRepeatedArray userAttributes(const APMPBMeasurementBundle& bundle) {
    return APMPBGetRepeated<APMPBUserAttribute>(&bundle, MB::kUserAttributes)
        .value_or(APMPBRepeatedArray{});
}

const NANOMessageBase* asMessage(const APMPBRepeatedElement& element) {
    const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
    return message != nullptr ? message->get() : nullptr;
}

}  // namespace

void APMSetBundleIdentifiers(APMPBMeasurementBundle& bundle, std::string_view consentSignals,
                             bool gateIDFAOnATTMASEnabled, APMIdentity& identity, bool overwrite) {
    StorageDenial denied;
    if (consentSignals.size() < 4) {
        if (consentSignals.empty()) {
            APMPBClearField(&bundle, MB::kConsentSignals);
        }
    } else if (!overwrite && APMPBHasField(&bundle, MB::kConsentSignals)) {
        denied = denialIn(APMPBGetString(&bundle, MB::kConsentSignals).value_or(""));
    } else {
        APMPBSetString(&bundle, MB::kConsentSignals, std::string(consentSignals));
        denied = denialIn(consentSignals);
    }

    bool gated = false;
    if (APMIdentity::iOS14OrAbove()) {
        const std::int64_t status = identity.appleConsentStatus();
        if (status != 6) {
            APMPBSetInt32(&bundle, MB::kAppleConsentStatus, static_cast<std::uint32_t>(status));
        }
        gated = status != 3 && gateIDFAOnATTMASEnabled;
    }

    const bool hasLimitedAdTracking = identity.hasLimitedAdTracking();
    const std::optional<std::string> deviceID = identity.resettableDeviceID();
    const std::optional<std::string> vendorID = APMIdentity::identifierForVendor();
    const bool useAdID = hasLimitedAdTracking && !gated && !denied.ad && deviceID.has_value();
    if (useAdID) {
        if (!APMPBHasField(&bundle, MB::kResettableDeviceId)) {
            APMPBSetString(&bundle, MB::kResettableDeviceId, *deviceID);
        }
        APMPBClearField(&bundle, MB::kVendorDeviceId);
    } else if (!denied.analytics && vendorID) {
        if (!APMPBHasField(&bundle, MB::kVendorDeviceId)) {
            APMPBSetString(&bundle, MB::kVendorDeviceId, *vendorID);
        }
        APMPBClearField(&bundle, MB::kResettableDeviceId);
    } else {
        APMPBClearField(&bundle, MB::kResettableDeviceId);
        APMPBClearField(&bundle, MB::kVendorDeviceId);
    }

    if (!denied.analytics && !APMPBHasField(&bundle, MB::kAppInstanceId)) {
        const std::optional<std::string> appInstanceID = identity.appInstanceID();
        if (appInstanceID && !appInstanceID->empty()) {
            APMPBSetString(&bundle, MB::kAppInstanceId, *appInstanceID);
        }
    }
    if (denied.ad) {
        APMPBClearField(&bundle, MB::kResettableDeviceId);
    }
    if (denied.analytics) {
        APMPBClearField(&bundle, MB::kVendorDeviceId);
        APMPBClearField(&bundle, MB::kAppInstanceId);
        APMPBClearField(&bundle, MB::kSessionStitchingToken);
        APMPBSetRepeated(&bundle, MB::kAudienceEvaluationResults, std::nullopt);
    }
    if (hasLimitedAdTracking) {
        APMPBSetBool(&bundle, MB::kLimitedAdTracking, identity.limitedAdTracking());
    }
}

void APMSetBundleConsentFields(APMPBMeasurementBundle& bundle, std::string_view consentDiagnostics,
                               bool adUserDataDenied, const APMPBUserAttribute* npa,
                               APMRemoteConfig& remoteConfig, bool overwrite) {
    if (overwrite || !APMPBHasField(&bundle, MB::kConsentDiagnostics)) {
        APMPBSetString(&bundle, MB::kConsentDiagnostics, std::string(consentDiagnostics));
    }
    if (overwrite || !APMPBHasField(&bundle, MB::kDmaRegion)) {
        APMPBSetBool(&bundle, MB::kDmaRegion, remoteConfig.isDMARegion());
    }
    if (overwrite || !APMPBHasField(&bundle, MB::kCorePlatformServices)) {
        // A std::set is already in ascending order.
        const std::set<std::string> services = remoteConfig.corePlatformServices();
        if (adUserDataDenied || services.empty()) {
            APMPBSetString(&bundle, MB::kCorePlatformServices, std::string("-"));
        } else if (remoteConfig.isDMARegion()) {
            if (APMPBGetBool(&bundle, MB::kDmaRegion)) {
                std::string joined;
                for (const std::string& service : services) {
                    joined += service;
                }
                APMPBSetString(&bundle, MB::kCorePlatformServices, joined);
            }
        } else {
            APMPBClearField(&bundle, MB::kCorePlatformServices);
        }
    }
    if (npa != nullptr) {
        APMPBRepeatedArray attributes = userAttributes(bundle);
        const auto found = std::find_if(attributes.begin(), attributes.end(), [](const auto& e) {
            const NANOMessageBase* message = asMessage(e);
            return message != nullptr && userAttributeName(*message) == kNPAName;
        });
        auto copy = std::make_shared<APMPBUserAttribute>(*npa);
        if (found == attributes.end()) {
            attributes.emplace_back(std::move(copy));
        } else if (overwrite) {
            *found = std::move(copy);
        }
        APMPBSetRepeated(&bundle, MB::kUserAttributes, attributes);
    }
}

bool APMIsAnalyticsStorageDeniedInSignals(std::string_view signals) {
    return denialIn(signals).analytics;
}

bool APMBundleHasFirstOpenEvent(const APMPBMeasurementBundle& bundle) {
    bool found = false;
    APMPBVisitRepeatedMessages(&bundle, MB::kEvents, [&](const NANOMessageBase& event) {
        found = APMPBGetString(&event, apmpb::Event::kName) == "_f";
        return !found;
    });
    return found;
}

std::unique_ptr<APMPBUserAttribute> APMBundleNPAUserAttribute(
    const APMPBMeasurementBundle& bundle) {
    std::unique_ptr<APMPBUserAttribute> npa;
    APMPBVisitRepeatedMessages(&bundle, MB::kUserAttributes, [&](const NANOMessageBase& attribute) {
        if (userAttributeName(attribute) != kNPAName) {
            return true;
        }
        npa = APMPBUserAttribute::initWithMessageInfo(attribute.messageInfo());
        return false;
    });
    return npa;
}

bool APMBundlesHaveSameConsent(const APMPBMeasurementBundle* a, const APMPBMeasurementBundle* b) {
    if (a == nullptr || b == nullptr) {
        return false;
    }
    for (const std::int32_t slot :
         {MB::kConsentSignals, MB::kConsentDiagnostics, MB::kCorePlatformServices}) {
        if (APMPBGetString(a, slot) != APMPBGetString(b, slot)) {
            return false;
        }
    }
    if (APMPBGetBool(a, MB::kDmaRegion) != APMPBGetBool(b, MB::kDmaRegion)) {
        return false;
    }
    const std::unique_ptr<APMPBUserAttribute> npaA = APMBundleNPAUserAttribute(*a);
    const std::unique_ptr<APMPBUserAttribute> npaB = APMBundleNPAUserAttribute(*b);
    if (!npaA || !npaB) {
        return !npaA && !npaB;
    }
    return APMPBGetInt64(npaA.get(), UA::kIntValue) == APMPBGetInt64(npaB.get(), UA::kIntValue);
}

void APMApplyDataControlsToBundle(APMPBMeasurementBundle& bundle,
                                  const std::vector<std::string>& dataControlKeys,
                                  APMIdentity& identity) {
    const auto has = [&](std::string_view key) {
        return std::find(dataControlKeys.begin(), dataControlKeys.end(), key) !=
               dataControlKeys.end();
    };
    if (has("app_instance_id")) {
        APMPBClearField(&bundle, MB::kAppInstanceId);
        const std::string signals = APMPBGetString(&bundle, MB::kConsentSignals).value_or("");
        if (!APMIsAnalyticsStorageDeniedInSignals(signals)) {
            APMPBSetString(&bundle, MB::kEphemeralAppInstanceId, identity.ephemeralAppInstanceID());
        } else {
            APMPBClearField(&bundle, MB::kEphemeralAppInstanceId);
        }
    }
    if (has("user_id")) {
        APMPBRepeatedArray attributes = userAttributes(bundle);
        std::erase_if(attributes, [](const APMPBRepeatedElement& e) {
            const NANOMessageBase* message = asMessage(e);
            return message != nullptr && userAttributeName(*message) == "_id";
        });
        APMPBSetRepeated(&bundle, MB::kUserAttributes, attributes);
    }
    if (has("os_version") || has("device_info")) {
        if (std::optional<std::string> os = APMPBGetString(&bundle, MB::kOsVersion)) {
            const std::size_t dot = os->find('.');
            if (dot != std::string::npos) {
                APMPBSetString(&bundle, MB::kOsVersion, os->substr(0, dot));
            }
        }
    }
    if (has("device_model") || has("device_info")) {
        APMPBClearField(&bundle, MB::kDeviceModel);
    }
    if (has("enhanced_user_id")) {
        APMPBClearField(&bundle, MB::kSessionStitchingToken);
    }
    if (!dataControlKeys.empty()) {
        APMPBRepeatedArray keys;
        for (const std::string& key : dataControlKeys) {
            keys.emplace_back(sdk::Value(key));
        }
        APMPBSetRepeated(&bundle, MB::kRedactedFields, keys);
    }
}
