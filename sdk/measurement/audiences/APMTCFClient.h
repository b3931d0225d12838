#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "sdk/measurement/audiences/APMConsentState.h"
#include "sdk/measurement/audiences/APMTCFData.h"
#include "sdk/measurement/audiences/APMTCFFacade.h"

class APMUserDefaults;

// Turns the "IABTCF_" keys of a consent-management platform into consent of source 5 for this
// measurement vendor, and logs an internal "_tcf" event with compact encodings of the data each
// time the data changes.
//
// Design notes:
// 1. The client keeps a copy of the last data it applied in its own user-defaults suite
//    ("com.vovidu.vud.measurement.tcf.userdefaults"): every field under its key, and the
//    snapshot's string form under "tcf_StringRepresentation". Data whose string form equals the
//    stored one was applied before and is skipped, so one change logs and applies once.
// 2. Consent goes out through the facade the client was made with, under the key
//    "consent_settings_tcf"; the "_tcf" event through the same facade with origin "auto".
// 3. Setting the consent needs TCF data enabled, advertiser consent mode on and GDPR applying;
//    a store written by an older client (its string form without "_v_=2") also sets it once
//    when the vendor bit is missing (the one-time vendor fix).
//
// Thread-safety: setIsDMARegion and isDMARegion may be called from any thread; every other
// member needs the client to itself (the engine calls it on its worker queue).
class APMTCFClient {
  public:
    static constexpr std::string_view kSuiteName = "com.vovidu.vud.measurement.tcf.userdefaults";
    static constexpr std::string_view kStringRepresentationKey = "tcf_StringRepresentation";
    static constexpr std::string_view kConsentKey = "consent_settings_tcf";

    // A client with an empty snapshot (isTCFDataEnabled from the Info.plist), its store, and
    // the DMA region flag set, that logs and applies through `facade`.
    // REQUIRES: `facade` is not null.
    explicit APMTCFClient(std::shared_ptr<APMTCFFacade> facade);
    ~APMTCFClient();
    APMTCFClient(const APMTCFClient&) = delete;
    APMTCFClient& operator=(const APMTCFClient&) = delete;

    bool isDMARegion() const { return isDMARegion_.load(); }
    void setIsDMARegion(bool isDMARegion) { isDMARegion_.store(isDMARegion); }

    // The snapshot last read.
    const APMTCFData& tcfData() const { return tcfData_; }

    // Reads the keys; when there is data and it differs from the stored copy, logs "_tcf",
    // stores the data, and sets the decided consent when it applies (design notes 2 and 3).
    void setConsentFromTCFData();

    // Reads the keys into the snapshot.
    void readTCFData();
    // Whether the snapshot holds anything beyond "_v_=2,isTCFDataEnabled=1".
    bool hasTCFDataToRead() const;
    // Whether the stored string form equals the snapshot's.
    bool persistedValuesEqualCurrentData() const;
    // The one-time vendor fix: stored string form without "_v_=2" (or none), TCF data enabled,
    // advertiser consent mode on, GDPR applying, and no vendor bit in the vendor consents.
    bool shouldApplyOneTimeTCFVendorFix() const;
    // TCF data enabled, advertiser consent mode on, GDPR applying.
    bool shouldApplyTCFData() const;

    // "_tcfd": "1", two characters for the CMP SDK ID, one for the policy version, one flag
    // character (1 DMA region, 2 GDPR applies, 4 TCF data enabled, 8 advertiser consent mode).
    std::string tcfBundleParameterValue() const;
    // "_tcfd2": "2" and the consent reasons of purposes 1, 3, 4 and 7.
    std::string tcfd2ParamValue() const;
    // "_tcfm": the two flags as digits.
    static std::string tcfdMigrationParamValue(bool migrationDidOccur,
                                               bool didMigrationChangeConsent);

    // Writes every field of the snapshot and its string form to the store (absent fields are
    // removed).
    void storeCurrentData();
    // The consent the stored copy decides.
    APMConsentSettings previousConsent() const;
    // Empties the store.
    void clearPersistedValues();

  private:
    // Tests set the snapshot directly through it.
    friend class APMTCFClientTestPeer;

    std::shared_ptr<APMTCFFacade> facade_;
    APMTCFData tcfData_;
    std::unique_ptr<APMUserDefaults> store_;
    std::atomic<bool> isDMARegion_{true};
};
