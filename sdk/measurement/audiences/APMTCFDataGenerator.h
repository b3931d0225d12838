#pragma once

#include "sdk/measurement/audiences/APMTCFData.h"

// Builds an APMTCFData from values set one by one: the client's stored copy of the last data
// it applied, and test snapshots. Every field starts absent (isTCFDataEnabled false).
//
// Thread-safety: a plain value; not for concurrent writes.
struct APMTCFDataGenerator {
    bool isTCFDataEnabled = false;
    APMTCFData::Number isAdvertiserConsentModeEnabled;
    APMTCFData::Text vendorConsents;
    APMTCFData::Text vendorLegitimateInterests;
    APMTCFData::Number cmpSDKID;
    APMTCFData::Number gdprApplies;
    APMTCFData::Number policyVersion;
    APMTCFData::Text purposeConsents;
    APMTCFData::Text purposeLegitimateInterests;
    APMTCFData::Restrictions publisherRestrictions;
    APMTCFData::Number isPurposeOneTreatmentEnabled;
    APMTCFData::Text publisherCC;

    // A snapshot holding these values.
    APMTCFData generateData() const;
};
