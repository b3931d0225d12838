#include "sdk/measurement/audiences/APMTCFData.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "sdk/measurement/audiences/APMTCFClient.h"
#include "sdk/measurement/audiences/APMTCFRegistration.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/audiences/APMTCFClientTestPeer.h"
#include "tests/sdk/measurement/audiences/TCFTestSupport.h"
#include "tests/sdk/measurement/engine/EngineTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

using sdktest::allGranted;
using sdktest::vendorBits;
using Generator = APMTCFDataGenerator;

// 'G' granted or 'D' denied for ad storage, ad personalization and ad user data, in that order.
std::string decisions(const APMConsentSettings& consent) {
    std::string code;
    for (const char* type : {"ad_storage", "ad_personalization", "ad_user_data"}) {
        code += consent.at(type) == "granted" ? 'G' : consent.at(type) == "denied" ? 'D' : '?';
    }
    return code;
}

void restrict(Generator& g, std::int64_t purpose, const char* restriction) {
    (*g.publisherRestrictions)[purpose - 1] = restriction;
}

TEST(APMTCFData, DecisionsReasonsAndEncodings) {
    struct Case {
        const char* name;
        std::function<void(Generator&)> change;
        const char* decisions;
        const char* tcfd2;
        const char* tcfd;
        bool isDMARegion = true;
    };
    const double huge = 1e12;
    const std::vector<Case> cases = {
        {"everything granted", [](Generator&) {}, "GGG", "21111", "14I4f"},
        {"no vendor consent bit", [](Generator& g) { g.vendorConsents = vendorBits(false); }, "DDD",
         "24441", "14I4f"},
        {"no vendor consents at all", [](Generator& g) { g.vendorConsents.reset(); }, "DDD",
         "24441", "14I4f"},
        {"restriction 0 on purpose 1", [](Generator& g) { restrict(g, 1, "0"); }, "DGD", "23111",
         "14I4f"},
        {"policy version 3", [](Generator& g) { g.policyVersion = sdk::Value(3); }, "GGD", "21111",
         "14I3f"},
        {"no policy version", [](Generator& g) { g.policyVersion.reset(); }, "GGD", "21111",
         "14I0f"},
        {"Switzerland with purpose-one treatment",
         [](Generator& g) {
             g.purposeConsents = "0111111111";
             g.isPurposeOneTreatmentEnabled = sdk::Value(true);
             g.publisherCC = "CH";
         },
         "GGG", "21111", "14I4f"},
        {"purpose-one treatment elsewhere",
         [](Generator& g) {
             g.purposeConsents = "0111111111";
             g.isPurposeOneTreatmentEnabled = sdk::Value(true);
             g.publisherCC = "DE";
         },
         "DGD", "26111", "14I4f"},
        {"purpose-one treatment without the vendor bit",
         [](Generator& g) {
             g.vendorConsents = vendorBits(false);
             g.isPurposeOneTreatmentEnabled = sdk::Value(1);
             g.publisherCC = "CH";
         },
         "DDD", "24441", "14I4f"},
        {"restriction 2 on purpose 1 conflicts", [](Generator& g) { restrict(g, 1, "2"); }, "DGD",
         "28111", "14I4f"},
        {"restriction 2 on purpose 3 conflicts", [](Generator& g) { restrict(g, 3, "2"); }, "GDG",
         "21811", "14I4f"},
        {"purpose 7 without its legitimate-interest bit",
         [](Generator& g) { g.purposeLegitimateInterests = "1111110111"; }, "GGD", "21117",
         "14I4f"},
        {"restriction 1 switches purpose 7 to consent",
         [](Generator& g) {
             g.purposeLegitimateInterests = "1111110111";
             restrict(g, 7, "1");
         },
         "GGG", "21111", "14I4f"},
        {"purpose 7 on consent without its consent bit",
         [](Generator& g) {
             g.purposeConsents = "1111110111";
             restrict(g, 7, "1");
         },
         "GGD", "21116", "14I4f"},
        {"no vendor legitimate-interest bit",
         [](Generator& g) { g.vendorLegitimateInterests = vendorBits(false); }, "GGD", "21115",
         "14I4f"},
        {"CMP SDK ID 4096", [](Generator& g) { g.cmpSDKID = sdk::Value(4096); }, "GGG", "21111",
         "1004f"},
        {"CMP SDK ID -1", [](Generator& g) { g.cmpSDKID = sdk::Value(-1); }, "GGG", "21111",
         "1004f"},
        {"CMP SDK ID 1e12", [&](Generator& g) { g.cmpSDKID = sdk::Value(huge); }, "GGG", "21111",
         "1004f"},
        {"CMP SDK ID NaN",
         [](Generator& g) { g.cmpSDKID = sdk::Value(std::numeric_limits<double>::quiet_NaN()); },
         "GGG", "21111", "1004f"},
        {"CMP SDK ID 4095", [](Generator& g) { g.cmpSDKID = sdk::Value(4095); }, "GGG", "21111",
         "1__4f"},
        {"CMP SDK ID 63.9", [](Generator& g) { g.cmpSDKID = sdk::Value(63.9); }, "GGG", "21111",
         "10_4f"},
        {"policy version 64", [](Generator& g) { g.policyVersion = sdk::Value(64); }, "GGG",
         "21111", "14I0f"},
        {"policy version 63", [](Generator& g) { g.policyVersion = sdk::Value(63); }, "GGG",
         "21111", "14I_f"},
        {"no flag but the DMA region",
         [](Generator& g) {
             g.isTCFDataEnabled = false;
             g.isAdvertiserConsentModeEnabled = sdk::Value(0);
             g.gdprApplies = sdk::Value(false);
         },
         "GGG", "21111", "14I41"},
        {"only GDPR",
         [](Generator& g) {
             g.isTCFDataEnabled = false;
             g.isAdvertiserConsentModeEnabled.reset();
             g.gdprApplies = sdk::Value(true);
         },
         "GGG", "21111", "14I42", false},
        {"only TCF data enabled",
         [](Generator& g) {
             g.isAdvertiserConsentModeEnabled.reset();
             g.gdprApplies.reset();
         },
         "GGG", "21111", "14I44", false},
        {"only advertiser consent mode",
         [](Generator& g) {
             g.isTCFDataEnabled = false;
             g.gdprApplies = sdk::Value(0.0);
         },
         "GGG", "21111", "14I48", false},
    };
    APMTCFClient client(std::make_shared<sdktest::RecordingFacade>());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Generator generator = allGranted();
        c.change(generator);
        APMTCFClientTestPeer::setTCFData(client, generator.generateData());
        client.setIsDMARegion(c.isDMARegion);
        EXPECT_EQ(decisions(client.tcfData().consentSettings()), c.decisions);
        EXPECT_EQ(client.tcfd2ParamValue(), c.tcfd2);
        EXPECT_EQ(client.tcfBundleParameterValue(), c.tcfd);
    }
}

TEST(APMTCFData, RestrictionTypesAndLegalBases) {
    Generator generator = allGranted();
    restrict(generator, 1, "0");
    restrict(generator, 2, "1");
    restrict(generator, 3, "2");
    restrict(generator, 4, "x");
    const APMTCFData data = generator.generateData();
    EXPECT_EQ(data.publisherRestrictionForPurposeID(1), 0);
    EXPECT_EQ(data.publisherRestrictionForPurposeID(2), 1);
    EXPECT_EQ(data.publisherRestrictionForPurposeID(3), 2);
    EXPECT_EQ(data.publisherRestrictionForPurposeID(4), 3);
    EXPECT_EQ(data.publisherRestrictionForPurposeID(11), 3);
    EXPECT_EQ(data.publisherRestrictionForPurposeID(0), 3);
    EXPECT_EQ(data.legalBasisCheckFromPurposeID(1), 0);
    EXPECT_EQ(data.legalBasisCheckFromPurposeID(2), 2) << "flexible purpose switched to consent";
    EXPECT_EQ(data.legalBasisCheckFromPurposeID(3), 1) << "consent purpose, not flexible";
    EXPECT_EQ(data.legalBasisCheckFromPurposeID(4), 2);
    EXPECT_EQ(data.legalBasisCheckFromPurposeID(9), 3);
    EXPECT_EQ(data.legalBasisCheckFromPurposeID(5), 0) << "not declared";
    EXPECT_EQ(APMTCFData::consentStatusFromEnabled(true), "granted");
    EXPECT_EQ(APMTCFData::consentStatusFromEnabled(false), "denied");
}

TEST(APMTCFData, StringRepresentation) {
    // Nothing read: only the version and the Info.plist switch (on without a bundle).
    EXPECT_EQ(APMTCFData().stringRepresentationFromTCFData(), "_v_=2,isTCFDataEnabled=1");

    Generator full = allGranted();
    full.isAdvertiserConsentModeEnabled = sdk::Value(true);
    full.vendorLegitimateInterests = vendorBits(false);
    full.purposeConsents = "1011";
    full.purposeLegitimateInterests = "0100";
    full.publisherRestrictions =
        std::vector<std::string>{"0", "", "1", "", "", "", "2", "", "", ""};
    full.isPurposeOneTreatmentEnabled = sdk::Value(true);
    full.publisherCC = "CH";
    EXPECT_EQ(full.generateData().stringRepresentationFromTCFData(),
              "_v_=2,isTCFDataEnabled=1,isAdvertiserConsentModeEnabled=1,cmpSDKID=300,"
              "hasVoviduInVendorConsents=1,hasVoviduInVendorLegitimateInterests=0,gdprApplies=1,"
              "policyVersion=4,purposeConsents=1011,purposeLegitimateInterests=0100,"
              "publisherRestrictions=0||1||||2|||,isPurposeOneTreatmentEnabled=1,publisherCC=CH");

    // Empty restrictions are left out, numbers print as 32-bit integers (saturated), a
    // number that is not one counts as absent, and a real keeps its fraction where "%@" shows it.
    Generator odd;
    odd.cmpSDKID = sdk::Value(1e12);
    odd.gdprApplies = sdk::Value("1");
    odd.policyVersion = sdk::Value(-3.7);
    odd.publisherRestrictions = std::vector<std::string>(10, "");
    odd.isPurposeOneTreatmentEnabled = sdk::Value(1.5);
    EXPECT_EQ(odd.generateData().stringRepresentationFromTCFData(),
              "_v_=2,isTCFDataEnabled=0,cmpSDKID=2147483647,policyVersion=-3,"
              "isPurposeOneTreatmentEnabled=1.5");
}

TEST(APMTCFData, InfoPlistSwitchReadsNumbersOnly) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true},
        {"<true/>", true},
        {"<false/>", false},
        {"<integer>0</integer>", false},
        {"<real>2.5</real>", true},
        {"<string>YES</string>", false},
        {"<array/>", false},
    };
    cb::testsupport::TempDir dir("cb-tcf-plist");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [value, enabled] = cases[i];
        SCOPED_TRACE(value);
        const std::string entry =
            value.empty() ? "" : "<key>VOVIDU_ANALYTICS_TCF_DATA_ENABLED</key>" + value;
        sdktest::FixtureMainBundle bundle(dir / std::to_string(i), entry);
        EXPECT_EQ(APMTCFData::isTCFDataEnabledInInfoPlist(), enabled);
        EXPECT_EQ(APMTCFData().isTCFDataEnabled(), enabled);
    }
}

TEST(APMTCFRegistration, DeclaredPurposes) {
    const APMTCFRegistration& registration = APMTCFRegistration::sharedInstance();
    std::string consent, interest, flexible;
    for (std::int64_t purpose = 0; purpose <= 11; ++purpose) {
        consent += registration.hasConsentForPurposeID(purpose) ? '1' : '0';
        interest += registration.hasLegitimateInterestForPurposeID(purpose) ? '1' : '0';
        flexible += registration.hasFlexibleLegitimateInterestForPurposeID(purpose) ? '1' : '0';
    }
    EXPECT_EQ(consent, "010110000000");
    EXPECT_EQ(interest, "001000010110");
    EXPECT_EQ(flexible, "001000010110");
}

}  // namespace
