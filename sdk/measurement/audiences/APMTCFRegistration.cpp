#include "sdk/measurement/audiences/APMTCFRegistration.h"

const APMTCFRegistration& APMTCFRegistration::sharedInstance() {
    static const APMTCFRegistration& shared = *new APMTCFRegistration();  // lives for the process
    return shared;
}

bool APMTCFRegistration::hasConsentForPurposeID(std::int64_t purposeID) const {
    return consentPurposes_.contains(purposeID);
}

bool APMTCFRegistration::hasLegitimateInterestForPurposeID(std::int64_t purposeID) const {
    return legitimateInterestPurposes_.contains(purposeID);
}

bool APMTCFRegistration::hasFlexibleLegitimateInterestForPurposeID(std::int64_t purposeID) const {
    return flexiblePurposes_.contains(purposeID);
}
