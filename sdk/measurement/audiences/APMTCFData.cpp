#include "sdk/measurement/audiences/APMTCFData.h"

#include <cmath>
#include <limits>
#include <utility>

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/audiences/APMTCFRegistration.h"
#include "sdk/measurement/engine/APMStringUtil.h"
#include "sdk/measurement/engine/APMUserDefaults.h"

namespace {

APMTCFData::Number numberOnly(APMTCFData::Number value) {
    return value && value->isNumber() ? std::move(value) : std::nullopt;
}

APMTCFData::Number readNumber(const APMUserDefaults& defaults, std::string_view key) {
    return numberOnly(defaults.objectForKey(key));
}

APMTCFData::Text readText(const APMUserDefaults& defaults, std::string_view key) {
    return defaults.stringForKey(key);
}

bool bitAt(const APMTCFData::Text& bits, std::int64_t index) {
    return bits && apm_isBitEnabledAtIndex(*bits, index);
}

}  // namespace

APMTCFData::APMTCFData()
    : userDefaults_(&APMUserDefaults::sharedUserDefaults()),
      isTCFDataEnabled_(isTCFDataEnabledInInfoPlist()) {}

// GCC 12 takes the optional values moved into the members here, once their moves are inlined,
// for maybe uninitialized; each is built whole before it moves.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
APMTCFData::APMTCFData(bool isTCFDataEnabled, Number isAdvertiserConsentModeEnabled,
                       Text vendorConsents, Text vendorLegitimateInterests, Number cmpSDKID,
                       Number gdprApplies, Number policyVersion, Text purposeConsents,
                       Text purposeLegitimateInterests, Restrictions publisherRestrictions,
                       Number isPurposeOneTreatmentEnabled, Text publisherCC)
    : userDefaults_(&APMUserDefaults::sharedUserDefaults()),
      isTCFDataEnabled_(isTCFDataEnabled),
      advertiserConsentMode_(numberOnly(std::move(isAdvertiserConsentModeEnabled))),
      vendorConsents_(std::move(vendorConsents)),
      vendorLegitimateInterests_(std::move(vendorLegitimateInterests)),
      cmpSDKID_(numberOnly(std::move(cmpSDKID))),
      gdprApplies_(numberOnly(std::move(gdprApplies))),
      policyVersion_(numberOnly(std::move(policyVersion))),
      purposeConsents_(std::move(purposeConsents)),
      purposeLegitimateInterests_(std::move(purposeLegitimateInterests)),
      publisherRestrictions_(std::move(publisherRestrictions)),
      purposeOneTreatment_(numberOnly(std::move(isPurposeOneTreatmentEnabled))),
      publisherCC_(std::move(publisherCC)) {}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool APMTCFData::isTCFDataEnabledInInfoPlist() {
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (!bundle) {
        return true;
    }
    const auto found = bundle->info().find(kTCFDataEnabledKey);
    if (found == bundle->info().end()) {
        return true;
    }
    const platform::PlistValue& value = found->second;
    if (const bool* flag = value.getIf<bool>()) {
        return *flag;
    }
    if (const std::int64_t* integer = value.getIf<std::int64_t>()) {
        return *integer != 0;
    }
    const double* real = value.getIf<double>();
    return real && *real != 0;
}

void APMTCFData::readTCFData() {
    const APMUserDefaults& defaults = *userDefaults_;
    advertiserConsentMode_ = readNumber(defaults, kAdvertiserConsentModeKey);
    vendorConsents_ = readText(defaults, kVendorConsentsKey);
    vendorLegitimateInterests_ = readText(defaults, kVendorLegitimateInterestsKey);
    cmpSDKID_ = readNumber(defaults, kCmpSDKIDKey);
    gdprApplies_ = readNumber(defaults, kGdprAppliesKey);
    policyVersion_ = readNumber(defaults, kPolicyVersionKey);
    purposeConsents_ = readText(defaults, kPurposeConsentsKey);
    purposeLegitimateInterests_ = readText(defaults, kPurposeLegitimateInterestsKey);
    std::vector<std::string> restrictions;
    for (std::int64_t purpose = 1; purpose <= kPurposeCount; ++purpose) {
        const Text text =
            readText(defaults, std::string(kPublisherRestrictionsKey) + std::to_string(purpose));
        const bool longEnough = text && apm_UTF16Length(*text) > std::size_t{kVendorIndex};
        restrictions.push_back(longEnough ? *apm_characterAtUTF16Index(*text, kVendorIndex) : "");
    }
    publisherRestrictions_ = std::move(restrictions);
    purposeOneTreatment_ = readNumber(defaults, kPurposeOneTreatmentKey);
    publisherCC_ = readText(defaults, kPublisherCCKey);
}

std::int64_t APMTCFData::publisherRestrictionForPurposeID(std::int64_t purposeID) const {
    if (!publisherRestrictions_ || purposeID < 1 ||
        static_cast<std::uint64_t>(purposeID) > publisherRestrictions_->size()) {
        return 3;
    }
    const std::string& restriction = (*publisherRestrictions_)[purposeID - 1];
    if (restriction == "0") {
        return 0;
    }
    if (restriction == "1") {
        return 1;
    }
    return restriction == "2" ? 2 : 3;
}

std::int64_t APMTCFData::legalBasisCheckFromPurposeID(std::int64_t purposeID) const {
    const APMTCFRegistration& registration = APMTCFRegistration::sharedInstance();
    const std::int64_t restriction = publisherRestrictionForPurposeID(purposeID);
    const bool flexible = registration.hasFlexibleLegitimateInterestForPurposeID(purposeID);
    if (restriction == 0) {
        return 0;
    }
    if (registration.hasConsentForPurposeID(purposeID)) {
        if (restriction != 2) {
            return 2;
        }
        return flexible ? 3 : 1;
    }
    if (registration.hasLegitimateInterestForPurposeID(purposeID)) {
        if (restriction != 1) {
            return 3;
        }
        return flexible ? 2 : 1;
    }
    return 0;
}

std::int64_t APMTCFData::consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(
    std::int64_t purposeID) const {
    const std::int64_t purposeBit = purposeID - 1;
    switch (legalBasisCheckFromPurposeID(purposeID)) {
        case 3:
            if (!bitAt(vendorLegitimateInterests_, kVendorIndex)) {
                return 5;
            }
            return bitAt(purposeLegitimateInterests_, purposeBit) ? 1 : 7;
        case 2: {
            const bool vendor = bitAt(vendorConsents_, kVendorIndex);
            if (purposeID == 1 && isPurposeOneGrantedWithSpecialTreatment() && vendor) {
                return 1;
            }
            if (!vendor) {
                return 4;
            }
            return bitAt(purposeConsents_, purposeBit) ? 1 : 6;
        }
        case 1:
            return 8;
        default:
            return 3;
    }
}

bool APMTCFData::isPurposeOneGrantedWithSpecialTreatment() const {
    return isTrue(purposeOneTreatment_) && publisherCC_ == "CH";
}

bool APMTCFData::isAdStoragePurposeGranted() const {
    return consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1) == 1;
}

bool APMTCFData::isAdPersonalizationPurposeGranted() const {
    return consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(3) == 1 &&
           consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(4) == 1;
}

bool APMTCFData::canAccessAdUserDataPurpose() const {
    return policyVersion_ && int32Value(policyVersion_) >= 4;
}

bool APMTCFData::isAdUserDataPurposeGranted() const {
    return canAccessAdUserDataPurpose() &&
           consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1) == 1 &&
           consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(7) == 1;
}

std::string APMTCFData::consentStatusFromEnabled(bool enabled) {
    return enabled ? "granted" : "denied";
}

APMConsentSettings APMTCFData::consentSettings() const {
    return {{"ad_storage", consentStatusFromEnabled(isAdStoragePurposeGranted())},
            {"ad_personalization", consentStatusFromEnabled(isAdPersonalizationPurposeGranted())},
            {"ad_user_data", consentStatusFromEnabled(isAdUserDataPurposeGranted())}};
}

std::int32_t APMTCFData::int32Value(const Number& number) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    if (!number) {
        return 0;
    }
    if (const std::optional<std::int64_t> integer = number->intValue()) {
        return *integer < kMin   ? kMin
               : *integer > kMax ? kMax
                                 : static_cast<std::int32_t>(*integer);
    }
    if (const std::optional<double> real = number->doubleValue()) {
        if (std::isnan(*real)) {
            return 0;
        }
        return *real <= kMin ? kMin : *real >= kMax ? kMax : static_cast<std::int32_t>(*real);
    }
    return number->numberAsBool().value_or(false) ? 1 : 0;
}

bool APMTCFData::isTrue(const Number& number) {
    return number && number->numberAsBool().value_or(false);
}
