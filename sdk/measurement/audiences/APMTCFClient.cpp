#include "sdk/measurement/audiences/APMTCFClient.h"

#include <utility>

#include "sdk/measurement/audiences/APMTCFDataGenerator.h"
#include "sdk/measurement/engine/APMStringUtil.h"
#include "sdk/measurement/engine/APMUserDefaults.h"

namespace {

constexpr std::string_view kAlphabet =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";
constexpr std::string_view kNoTCFData = "_v_=2,isTCFDataEnabled=1";

std::optional<sdk::Value> textValue(const APMTCFData::Text& text) {
    return text ? std::optional<sdk::Value>(sdk::Value(*text)) : std::nullopt;
}

std::optional<sdk::Value> restrictionsValue(const APMTCFData::Restrictions& restrictions) {
    if (!restrictions) {
        return std::nullopt;
    }
    sdk::Value::Array array;
    for (const std::string& restriction : *restrictions) {
        array.emplace_back(restriction);
    }
    return sdk::Value(std::move(array));
}

// The restrictions of the stored copy: each element that is a string, "" for any other; at most
// one per purpose.
APMTCFData::Restrictions restrictionsOf(const std::optional<sdk::Value::Array>& stored) {
    if (!stored) {
        return std::nullopt;
    }
    std::vector<std::string> restrictions;
    for (const sdk::Value& element : *stored) {
        if (restrictions.size() == std::size_t{APMTCFData::kPurposeCount}) {
            break;
        }
        restrictions.push_back(element.isString() ? *element.string() : "");
    }
    return restrictions;
}

}  // namespace

APMTCFClient::APMTCFClient(std::shared_ptr<APMTCFFacade> facade)
    : facade_(std::move(facade)), store_(std::make_unique<APMUserDefaults>(kSuiteName)) {}

APMTCFClient::~APMTCFClient() = default;

void APMTCFClient::setConsentFromTCFData() {
    readTCFData();
    if (!hasTCFDataToRead() || persistedValuesEqualCurrentData()) {
        return;
    }
    const APMConsentSettings consent = tcfData_.consentSettings();
    const bool fix = shouldApplyOneTimeTCFVendorFix();
    const bool changed = consent != previousConsent();
    facade_->logInternalEvent("auto", "_tcf",
                              {{"_tcfd", tcfBundleParameterValue()},
                               {"_tcfd2", tcfd2ParamValue()},
                               {"_tcfm", tcfdMigrationParamValue(fix, changed)}});
    storeCurrentData();
    if (fix || shouldApplyTCFData()) {
        facade_->setConsent(consent, kConsentKey);
    }
}

void APMTCFClient::readTCFData() {
    tcfData_.readTCFData();
}

bool APMTCFClient::hasTCFDataToRead() const {
    return tcfData_.stringRepresentationFromTCFData() != kNoTCFData;
}

bool APMTCFClient::persistedValuesEqualCurrentData() const {
    return store_->stringForKey(kStringRepresentationKey) ==
           tcfData_.stringRepresentationFromTCFData();
}

bool APMTCFClient::shouldApplyOneTimeTCFVendorFix() const {
    const std::optional<std::string> stored = store_->stringForKey(kStringRepresentationKey);
    const bool storedByOlderClient = !stored || stored->find("_v_=2") == std::string::npos;
    const APMTCFData::Text& vendorConsents = tcfData_.vendorConsents();
    const bool vendorBit =
        vendorConsents && apm_isBitEnabledAtIndex(*vendorConsents, APMTCFData::kVendorIndex);
    return storedByOlderClient && shouldApplyTCFData() && !vendorBit;
}

bool APMTCFClient::shouldApplyTCFData() const {
    return tcfData_.isTCFDataEnabled() &&
           APMTCFData::isTrue(tcfData_.isAdvertiserConsentModeEnabled()) &&
           APMTCFData::isTrue(tcfData_.gdprApplies());
}

std::string APMTCFClient::tcfBundleParameterValue() const {
    std::string value = "1";
    const std::int32_t id = APMTCFData::int32Value(tcfData_.cmpSDKID());
    if (id >= 0 && id < 4096) {
        value += kAlphabet[(id >> 6) & 63];
        value += kAlphabet[id & 63];
    } else {
        value += "00";
    }
    const std::int32_t version = APMTCFData::int32Value(tcfData_.policyVersion());
    value += version >= 0 && version < 64 ? kAlphabet[version] : '0';
    const int flags = (isDMARegion() ? 1 : 0) +
                      (APMTCFData::isTrue(tcfData_.gdprApplies()) ? 2 : 0) +
                      (tcfData_.isTCFDataEnabled() ? 4 : 0) +
                      (APMTCFData::isTrue(tcfData_.isAdvertiserConsentModeEnabled()) ? 8 : 0);
    value += kAlphabet[flags];
    return value;
}

std::string APMTCFClient::tcfd2ParamValue() const {
    std::string value = "2";
    for (const std::int64_t purpose : {1, 3, 4, 7}) {
        value += std::to_string(
            tcfData_.consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purpose));
    }
    return value;
}

std::string APMTCFClient::tcfdMigrationParamValue(bool migrationDidOccur,
                                                  bool didMigrationChangeConsent) {
    return std::string(migrationDidOccur ? "1" : "0") + (didMigrationChangeConsent ? "1" : "0");
}

void APMTCFClient::storeCurrentData() {
    const APMTCFData& d = tcfData_;
    store_->setBool(d.isTCFDataEnabled(), APMTCFData::kTCFDataEnabledKey);
    store_->setObject(d.isAdvertiserConsentModeEnabled(), APMTCFData::kAdvertiserConsentModeKey);
    store_->setObject(textValue(d.vendorConsents()), APMTCFData::kVendorConsentsKey);
    store_->setObject(textValue(d.vendorLegitimateInterests()),
                      APMTCFData::kVendorLegitimateInterestsKey);
    store_->setObject(d.cmpSDKID(), APMTCFData::kCmpSDKIDKey);
    store_->setObject(d.gdprApplies(), APMTCFData::kGdprAppliesKey);
    store_->setObject(d.policyVersion(), APMTCFData::kPolicyVersionKey);
    store_->setObject(textValue(d.purposeConsents()), APMTCFData::kPurposeConsentsKey);
    store_->setObject(textValue(d.purposeLegitimateInterests()),
                      APMTCFData::kPurposeLegitimateInterestsKey);
    store_->setObject(restrictionsValue(d.publisherRestrictions()),
                      APMTCFData::kPublisherRestrictionsKey);
    store_->setObject(d.isPurposeOneTreatmentEnabled(), APMTCFData::kPurposeOneTreatmentKey);
    store_->setObject(textValue(d.publisherCC()), APMTCFData::kPublisherCCKey);
    store_->setObject(sdk::Value(d.stringRepresentationFromTCFData()), kStringRepresentationKey);
}

APMConsentSettings APMTCFClient::previousConsent() const {
    const APMUserDefaults& s = *store_;
    APMTCFDataGenerator generator;
    generator.isTCFDataEnabled = s.boolForKey(APMTCFData::kTCFDataEnabledKey);
    generator.isAdvertiserConsentModeEnabled =
        s.numberForKey(APMTCFData::kAdvertiserConsentModeKey);
    generator.vendorConsents = s.stringForKey(APMTCFData::kVendorConsentsKey);
    generator.vendorLegitimateInterests = s.stringForKey(APMTCFData::kVendorLegitimateInterestsKey);
    generator.cmpSDKID = s.numberForKey(APMTCFData::kCmpSDKIDKey);
    generator.gdprApplies = s.numberForKey(APMTCFData::kGdprAppliesKey);
    generator.policyVersion = s.numberForKey(APMTCFData::kPolicyVersionKey);
    generator.purposeConsents = s.stringForKey(APMTCFData::kPurposeConsentsKey);
    generator.purposeLegitimateInterests =
        s.stringForKey(APMTCFData::kPurposeLegitimateInterestsKey);
    generator.publisherRestrictions =
        restrictionsOf(s.arrayForKey(APMTCFData::kPublisherRestrictionsKey));
    generator.isPurposeOneTreatmentEnabled = s.numberForKey(APMTCFData::kPurposeOneTreatmentKey);
    generator.publisherCC = s.stringForKey(APMTCFData::kPublisherCCKey);
    return generator.generateData().consentSettings();
}

void APMTCFClient::clearPersistedValues() {
    store_->clearAllData();
}
