#pragma once

#include <cstdint>
#include <set>

// The purposes of the IAB Transparency and Consent Framework this measurement vendor declares:
// for consent {1, 3, 4}, for legitimate interest {2, 7, 9, 10}, and flexible (the publisher may
// switch the legal basis) {2, 7, 9, 10}. Immutable; safe from any thread.
class APMTCFRegistration {
  public:
    // The one instance.
    static const APMTCFRegistration& sharedInstance();

    bool hasConsentForPurposeID(std::int64_t purposeID) const;
    bool hasLegitimateInterestForPurposeID(std::int64_t purposeID) const;
    bool hasFlexibleLegitimateInterestForPurposeID(std::int64_t purposeID) const;

  private:
    APMTCFRegistration() = default;

    const std::set<std::int64_t> consentPurposes_{1, 3, 4};
    const std::set<std::int64_t> legitimateInterestPurposes_{2, 7, 9, 10};
    const std::set<std::int64_t> flexiblePurposes_{2, 7, 9, 10};
};
