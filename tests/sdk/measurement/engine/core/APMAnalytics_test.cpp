// The facade's class-wide state: its keys in the analytics defaults and consent persistence,
// read back from the suite's property list.
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"
#include "tests/sdk/measurement/storage/PersistenceTestSupport.h"

namespace {

using sdktest::EngineTest;

class AnalyticsStateTest : public EngineTest {
  protected:
    std::string suiteXml() const {
        return sdktest::plistAsXml(home() / "config/cellarbright/APMAnalyticsSuiteName.plist");
    }
};

TEST_F(AnalyticsStateTest, ConsentIsPersistedUnderTheKeyOfItsSource) {
    const APMConsentSettings denied{{"ad_storage", "denied"}};
    const struct {
        std::int64_t source;
        const char* key;
    } cases[] = {{5, "consent_settings_tcf"},
                 {10, "consent_settings_3p"},
                 {20, "consent_settings_3p"},
                 {30, "consent_settings"},
                 {40, "consent_settings"}};
    for (const auto& c : cases) {
        APMAnalytics::clearConsent();
        APMAnalytics::persistConsentSettings(denied, c.source);
        EXPECT_EQ(APMAnalytics::persistedConsentSource(), c.source);
        const std::string xml = suiteXml();
        EXPECT_NE(xml.find(std::string("<key>") + c.key + "</key>"), std::string::npos)
            << c.source << "\n"
            << xml;
    }
    EXPECT_EQ(APMAnalytics::consentSettings1P(), denied);
    APMAnalytics::clearConsent();
    EXPECT_EQ(APMAnalytics::persistedConsentSource(), APMAnalytics::kNoConsentSource);
    EXPECT_EQ(APMAnalytics::consentSettingsTCF(), std::nullopt);
    EXPECT_EQ(APMAnalytics::consentSettings3P(), std::nullopt);
    EXPECT_EQ(APMAnalytics::consentSettings1P(), std::nullopt);
}

TEST_F(AnalyticsStateTest, ResetKeysAreStoredAndRemoved) {
    APMAnalytics::setResetRetryCount(2);
    APMAnalytics::setNeedFirstOpenAfterReset(true);
    APMAnalytics::setAppInstanceIDAfterReset("ABC");
    const std::string xml = suiteXml();
    EXPECT_NE(xml.find("<key>reset_retry_count</key>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<key>app_instance_id_after_reset</key>"), std::string::npos) << xml;
    EXPECT_EQ(APMAnalytics::resetRetryCount(), 2);
    EXPECT_TRUE(APMAnalytics::needFirstOpenAfterReset());
    // A count below 1 removes the key.
    APMAnalytics::setResetRetryCount(0);
    APMAnalytics::removeNeedFirstOpenAfterReset();
    APMAnalytics::setAppInstanceIDAfterReset(std::nullopt);
    EXPECT_EQ(suiteXml().find("<key>reset_retry_count</key>"), std::string::npos);
    EXPECT_FALSE(APMAnalytics::needFirstOpenAfterReset());
    EXPECT_EQ(APMAnalytics::appInstanceIDAfterReset(), std::nullopt);
}

TEST_F(AnalyticsStateTest, StartOptionConsentIsAppliedOnceAtTheEngineStart) {
    APMAnalytics::setConsentSettings1PStart(APMConsentSettings{{"analytics_storage", "granted"}});
    ASSERT_TRUE(startEngine(kAppID));
    EXPECT_EQ(APMAnalytics::consentSettings1PStart(), std::nullopt);
    EXPECT_EQ(APMAnalytics::persistedConsentSource(), 40);
    EXPECT_EQ(APMAnalytics::consentSettings1P(),
              (APMConsentSettings{{"analytics_storage", "granted"}}));
}

TEST_F(AnalyticsStateTest, LoadTimestampIsKeptUntilSet) {
    TEST_APMSetCurrentTimeInterval(1000);
    const double loaded = APMAnalytics::loadTimestamp();
    TEST_APMSetCurrentTimeInterval(2000);
    EXPECT_EQ(APMAnalytics::loadTimestamp(), loaded);
    APMAnalytics::setLoadTimestamp(3000);
    EXPECT_EQ(APMAnalytics::loadTimestamp(), 3000);
    TEST_APMSetCurrentTimeInterval(std::nullopt);
}

}  // namespace
