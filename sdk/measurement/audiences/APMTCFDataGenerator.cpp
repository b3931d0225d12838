#include "sdk/measurement/audiences/APMTCFDataGenerator.h"

APMTCFData APMTCFDataGenerator::generateData() const {
    return APMTCFData(isTCFDataEnabled, isAdvertiserConsentModeEnabled, vendorConsents,
                      vendorLegitimateInterests, cmpSDKID, gdprApplies, policyVersion,
                      purposeConsents, purposeLegitimateInterests, publisherRestrictions,
                      isPurposeOneTreatmentEnabled, publisherCC);
}
