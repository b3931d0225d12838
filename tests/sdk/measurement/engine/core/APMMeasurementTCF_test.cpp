// The engine's TCF client: a consent-management platform's "IABTCF_" keys in the application's
// preferences decide the consent signals that uploaded bundles carry, read at start and again
// before every upload; each fetched configuration tells the client its DMA region.
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/audiences/APMTCFClient.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "tests/sdk/measurement/audiences/TCFTestSupport.h"
#include "tests/sdk/measurement/engine/core/UploadTestSupport.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"

namespace {

using sdktest::UploadTest;

std::string key(std::string_view name, std::string_view value) {
    return "<key>" + std::string(name) + "</key>" + std::string(value);
}

// A platform's keys with advertiser consent mode and GDPR on and this vendor's bits set, whose
// purpose consents are `purposeConsents` (purpose 1 first).
std::string platformKeys(std::string_view purposeConsents) {
    const std::string vendor = "<string>" + sdktest::vendorBits(true) + "</string>";
    return key("IABTCF_EnableAdvertiserConsentMode", "<integer>1</integer>") +
           key("IABTCF_VendorConsents", vendor) + key("IABTCF_VendorLegitimateInterests", vendor) +
           key("IABTCF_CmpSdkID", "<integer>300</integer>") +
           key("IABTCF_gdprApplies", "<integer>1</integer>") +
           key("IABTCF_PolicyVersion", "<integer>4</integer>") +
           key("IABTCF_PurposeConsents", "<string>" + std::string(purposeConsents) + "</string>") +
           key("IABTCF_PurposeLegitimateInterests", "<string>1111111111</string>");
}

class TCFEngineTest : public UploadTest {
  protected:
    // Writes `entries` as the application's preferences, as the platform would.
    static void writePlatformKeys(const std::string& entries) {
        sdktest::writePlistFile(APMUserDefaults::sharedUserDefaults().store()->path(), entries);
    }

    // Logs one event, uploads, and answers protoc's text of the posted batch.
    std::string uploadOneEvent() {
        logEvent("scan_started");
        const std::size_t before = requestsWithMethod("POST").size();
        onWorker([&] { engine_->uploadData(); });
        waitUntil([&] {
            return !engine_->isNetworkRequestPending() &&
                   requestsWithMethod("POST").size() > before;
        });
        return messages_test::protoc("--decode=apmpb.MeasurementBatch",
                                     requestsWithMethod("POST").back().body);
    }

    // A configuration for this app whose consent part says whether it is a DMA region.
    static std::string configWithDMARegion(bool isDMARegion) {
        APMPBMeasurementConfig config;
        APMPBSetString(&config, apmpb::MeasurementConfig::kAppId, kAppID);
        APMPBConsentConfig consent;
        APMPBSetBool(&consent, apmpb::ConsentConfig::kIsDmaRegion, isDMARegion);
        APMPBSetMessage(&config, apmpb::MeasurementConfig::kConsentConfig, &consent);
        return messages_test::asString(config.protoBuffer().value());
    }
};

TEST_F(TCFEngineTest, KeysDenyingPurposeOneAtStartReachTheUploadedBundle) {
    writePlatformKeys(platformKeys("0111111111"));
    startConnected();
    storeConfig({});
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 5);
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G10-");
    // Applied through the facade's consent entry, which stores it under the TCF key.
    EXPECT_EQ(APMAnalytics::persistedConsentSource(), 5);
    EXPECT_EQ(APMAnalytics::consentSettingsTCF(),
              (APMConsentSettings{{"ad_storage", "denied"},
                                  {"ad_personalization", "granted"},
                                  {"ad_user_data", "denied"}}));

    const std::string batch = uploadOneEvent();
    EXPECT_NE(batch.find("name: \"scan_started\""), std::string::npos) << batch;
    EXPECT_NE(batch.find("consent_signals: \"G10-\""), std::string::npos) << batch;
}

TEST_F(TCFEngineTest, KeysWrittenAfterStartAreReadBeforeTheNextUpload) {
    startConnected();
    storeConfig({});
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G1--");
    EXPECT_EQ(uploadOneEvent().find("G10-"), std::string::npos);

    // The event is stored under the old consent; the upload reads the keys first.
    logEvent("scan_finished");
    writePlatformKeys(platformKeys("0111111111"));
    std::string batch = uploadOneEvent();
    EXPECT_NE(batch.find("name: \"scan_finished\""), std::string::npos) << batch;
    EXPECT_NE(batch.find("consent_signals: \"G10-\""), std::string::npos) << batch;
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 5);

    // The platform grants purpose 1 now. A grant does not rewrite what stored events carry, but
    // the events after the upload that read it carry the new signals.
    writePlatformKeys(platformKeys("1111111111"));
    uploadOneEvent();
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G11-");
    batch = uploadOneEvent();
    EXPECT_NE(batch.find("consent_signals: \"G11-\""), std::string::npos) << batch;
    EXPECT_EQ(batch.find("G10-"), std::string::npos) << batch;
}

TEST_F(TCFEngineTest, EachFetchedConfigurationSetsTheClientsDMARegion) {
    startConnected();
    ASSERT_TRUE(engine_->tcfClient());
    EXPECT_TRUE(engine_->tcfClient()->isDMARegion());

    for (const bool isDMARegion : {false, true}) {
        SCOPED_TRACE(isDMARegion);
        respondWithStatus(200, configWithDMARegion(isDMARegion));
        const std::size_t before = server_.requests().size();
        onWorker([&] { engine_->fetchRemoteConfig(); });
        waitForAnswers(before + 1);
        onWorker([&] {
            EXPECT_EQ(engine_->remoteConfigInstance()->isDMARegion(), isDMARegion);
            EXPECT_EQ(engine_->tcfClient()->isDMARegion(), isDMARegion);
        });
    }
}

}  // namespace
