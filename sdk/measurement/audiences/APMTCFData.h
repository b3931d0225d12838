#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/audiences/APMConsentState.h"
#include "sdk/utilities/Value.h"

class APMUserDefaults;

// One snapshot of the "IABTCF_" keys a consent-management platform (IAB Transparency and Consent
// Framework, version 2) leaves in the standard user defaults, with the rules that decide, for
// this measurement vendor (ID 755, bit index 754), which purposes are granted.
//
// Absent values: a number field holds a number value (boolean, integer or real) or nothing; a
// string field a string or nothing. Values of any other type read as absent. Bit strings are
// read with apm_isBitEnabledAtIndex, counting UTF-16 units.
//
// Thread-safety: a value type; const members may be called from several threads at once,
// readTCFData needs the object to itself.
class APMTCFData {
  public:
    using Number = std::optional<sdk::Value>;
    using Text = std::optional<std::string>;
    using Restrictions = std::optional<std::vector<std::string>>;

    // The keys of the standard user defaults. The publisher restrictions of purpose n (1-10)
    // are under kPublisherRestrictionsKey followed by n.
    static constexpr std::string_view kAdvertiserConsentModeKey =
        "IABTCF_EnableAdvertiserConsentMode";
    static constexpr std::string_view kVendorConsentsKey = "IABTCF_VendorConsents";
    static constexpr std::string_view kVendorLegitimateInterestsKey =
        "IABTCF_VendorLegitimateInterests";
    static constexpr std::string_view kCmpSDKIDKey = "IABTCF_CmpSdkID";
    static constexpr std::string_view kGdprAppliesKey = "IABTCF_gdprApplies";
    static constexpr std::string_view kPolicyVersionKey = "IABTCF_PolicyVersion";
    static constexpr std::string_view kPurposeConsentsKey = "IABTCF_PurposeConsents";
    static constexpr std::string_view kPurposeLegitimateInterestsKey =
        "IABTCF_PurposeLegitimateInterests";
    static constexpr std::string_view kPublisherRestrictionsKey = "IABTCF_PublisherRestrictions";
    static constexpr std::string_view kPurposeOneTreatmentKey = "IABTCF_PurposeOneTreatment";
    static constexpr std::string_view kPublisherCCKey = "IABTCF_PublisherCC";
    // The Info.plist switch, also kept in the client's store.
    static constexpr std::string_view kTCFDataEnabledKey = "VOVIDU_ANALYTICS_TCF_DATA_ENABLED";

    // The vendor's position in the vendor bit strings and in each restriction string.
    static constexpr std::int64_t kVendorIndex = 754;
    static constexpr std::int64_t kPurposeCount = 10;

    // A snapshot over the shared standard user defaults, with isTCFDataEnabled from the
    // Info.plist and every other field absent until readTCFData.
    APMTCFData();

    // A snapshot of the given values (a non-number in a number field counts as absent).
    APMTCFData(bool isTCFDataEnabled, Number isAdvertiserConsentModeEnabled, Text vendorConsents,
               Text vendorLegitimateInterests, Number cmpSDKID, Number gdprApplies,
               Number policyVersion, Text purposeConsents, Text purposeLegitimateInterests,
               Restrictions publisherRestrictions, Number isPurposeOneTreatmentEnabled,
               Text publisherCC);

    // The main bundle's "VOVIDU_ANALYTICS_TCF_DATA_ENABLED": absent (or no bundle) true, a
    // boolean or number its truth, anything else false.
    static bool isTCFDataEnabledInInfoPlist();

    // Reads the eleven keys from the user defaults into the fields. The restrictions are always
    // ten strings afterwards: the character at UTF-16 unit 754 of each purpose's restriction
    // string when it is at least 755 units long, else "".
    void readTCFData();

    // Restriction type of purpose n: 0 not allowed, 1 consent required, 2 legitimate interest
    // required, 3 no restriction (also for n outside the restrictions).
    std::int64_t publisherRestrictionForPurposeID(std::int64_t purposeID) const;
    // Legal basis of purpose n: 0 none, 1 conflict, 2 consent, 3 legitimate interest.
    std::int64_t legalBasisCheckFromPurposeID(std::int64_t purposeID) const;
    // Why purpose n is or is not granted: 1 granted; 3 no legal basis; 4 vendor without consent;
    // 5 vendor without legitimate interest; 6 purpose without consent; 7 purpose without
    // legitimate interest; 8 conflicting restriction.
    std::int64_t consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(
        std::int64_t purposeID) const;

    // Purpose-one treatment enabled by a publisher in Switzerland ("CH").
    bool isPurposeOneGrantedWithSpecialTreatment() const;
    bool isAdStoragePurposeGranted() const;          // purpose 1
    bool isAdPersonalizationPurposeGranted() const;  // purposes 3 and 4
    bool canAccessAdUserDataPurpose() const;         // policy version 4 or later
    bool isAdUserDataPurposeGranted() const;         // that, and purposes 1 and 7

    // "granted" or "denied".
    static std::string consentStatusFromEnabled(bool enabled);

    // {"ad_storage", "ad_personalization", "ad_user_data"} with the status of each decision.
    APMConsentSettings consentSettings() const;

    // The fields as "name=value" entries joined with ",", beginning "_v_=2,isTCFDataEnabled=";
    // absent fields are left out. Equal snapshots give equal strings.
    std::string stringRepresentationFromTCFData() const;

    // A number as "%d" prints it: saturated to the 32-bit range, NaN 0; absent 0.
    static std::int32_t int32Value(const Number& number);
    // Whether a number is present and not zero.
    static bool isTrue(const Number& number);

    bool isTCFDataEnabled() const { return isTCFDataEnabled_; }
    const Number& isAdvertiserConsentModeEnabled() const { return advertiserConsentMode_; }
    const Text& vendorConsents() const { return vendorConsents_; }
    const Text& vendorLegitimateInterests() const { return vendorLegitimateInterests_; }
    const Number& cmpSDKID() const { return cmpSDKID_; }
    const Number& gdprApplies() const { return gdprApplies_; }
    const Number& policyVersion() const { return policyVersion_; }
    const Text& purposeConsents() const { return purposeConsents_; }
    const Text& purposeLegitimateInterests() const { return purposeLegitimateInterests_; }
    const Restrictions& publisherRestrictions() const { return publisherRestrictions_; }
    const Number& isPurposeOneTreatmentEnabled() const { return purposeOneTreatment_; }
    const Text& publisherCC() const { return publisherCC_; }

  private:
    APMUserDefaults* userDefaults_;  // not owned: the shared standard user defaults
    bool isTCFDataEnabled_;
    Number advertiserConsentMode_;
    Text vendorConsents_;
    Text vendorLegitimateInterests_;
    Number cmpSDKID_;
    Number gdprApplies_;
    Number policyVersion_;
    Text purposeConsents_;
    Text purposeLegitimateInterests_;
    Restrictions publisherRestrictions_;
    Number purposeOneTreatment_;
    Text publisherCC_;
};
