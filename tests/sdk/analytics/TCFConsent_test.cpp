// A consent-management platform's "IABTCF_" keys through the whole stack: configuring the core
// starts the engine, whose TCF client logs "_tcf" and applies its consent through the facade.
#include <gtest/gtest.h>

#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "tests/sdk/analytics/ConfiguredAnalyticsTest.h"
#include "tests/sdk/measurement/audiences/TCFTestSupport.h"

namespace {

using TCFConsentTest = sdktest::ConfiguredAnalyticsTest;

std::string key(std::string_view name, std::string_view value) {
    return "<key>" + std::string(name) + "</key>" + std::string(value);
}

// The text of the string parameter `name` of `event`; "" when it is not a string.
std::string stringParameter(const APMEvent& event, std::string_view name) {
    const auto it = event.parameters().find(name);
    return it == event.parameters().end() || !it->second.stringValue() ? ""
                                                                       : *it->second.stringValue();
}

TEST_F(TCFConsentTest, PlatformKeysAtStartLogTCFAndApplyTheirConsentThroughTheFacade) {
    // Consent mode and GDPR on, this vendor's bits set, purpose 1 refused.
    const std::string vendor = "<string>" + sdktest::vendorBits(true) + "</string>";
    sdktest::writePlistFile(
        APMUserDefaults::sharedUserDefaults().store()->path(),
        key("IABTCF_EnableAdvertiserConsentMode", "<integer>1</integer>") +
            key("IABTCF_VendorConsents", vendor) + key("IABTCF_VendorLegitimateInterests", vendor) +
            key("IABTCF_CmpSdkID", "<integer>300</integer>") +
            key("IABTCF_gdprApplies", "<true/>") +
            key("IABTCF_PolicyVersion", "<integer>4</integer>") +
            key("IABTCF_PurposeConsents", "<string>0111111111</string>") +
            key("IABTCF_PurposeLegitimateInterests", "<string>1111111111</string>"));

    ZEDOre::configure();
    settle();

    std::size_t logged = 0;
    for (const APMRawEventData& data : rawEvents()) {
        logged += data.rawEvent().name() == "_tcf" ? 1 : 0;
    }
    EXPECT_EQ(logged, 1u);
    const std::optional<APMEvent> tcf = storedEvent("_tcf");
    ASSERT_TRUE(tcf);
    EXPECT_EQ(tcf->origin(), "auto");
    EXPECT_EQ(stringParameter(*tcf, "_tcfd"), "14I4f");
    EXPECT_EQ(stringParameter(*tcf, "_tcfd2"), "26111");
    EXPECT_EQ(stringParameter(*tcf, "_tcfm"), "01");

    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 5);
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G10-");
    const sdk::Value::Dictionary suite = analyticsSuiteFile();
    ASSERT_TRUE(suite.contains("consent_settings_tcf"));
    EXPECT_EQ(suite.at("consent_settings_tcf"),
              sdk::Value(sdk::Value::Dictionary{{"ad_personalization", sdk::Value("granted")},
                                                {"ad_storage", sdk::Value("denied")},
                                                {"ad_user_data", sdk::Value("denied")}}));
    EXPECT_EQ(suite.at("consent_source").numberAsInt(), 5);
}

}  // namespace
