#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sdk/measurement/storage/APMConsentNames.h"
#include "tests/sdk/measurement/engine/EngineTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

using Util = APMConsentSettingsUtil;

class APMConsentSettingsUtilTest : public ::testing::Test {
  protected:
    void TearDown() override {
        Util::clearAllSettings();
        Util::setVersion(1);
    }
};

TEST_F(APMConsentSettingsUtilTest, SignalsDiagnosticsAndResolutionFollowTheWriters) {
    struct Case {
        const char* name;
        std::function<void()> set;
        const char* signals;
        const char* diagnostics;
        bool adUserDataDenied;
        std::optional<std::int64_t> adPersonalization;
    };
    const std::vector<Case> cases = {
        {"nothing set", [] {}, "G1--", "19999", false, std::nullopt},
        {"first party denies ad storage",
         [] {
             Util::updateSettings({{"ad_storage", "denied"}}, 30);
         },
         "G10-", "15999", false, std::nullopt},
        {"statuses in any case, set without a source",
         [] {
             Util::setConsentSettings(
                 APMConsentSettings{{"ad_storage", "DENIED"}, {"analytics_storage", "Granted"}});
         },
         "G101", "10099", false, std::nullopt},
        {"unknown status shows unset",
         [] {
             Util::updateSettings({{"ad_storage", "maybe"}}, 10);
         },
         "G1--", "15999", false, std::nullopt},
        {"regional policy without regional defaults",
         [] {
             Util::updateSettings({{"ad_user_data", "eu_consent_policy"}}, 30);
         },
         "G1--", "19989", true, std::nullopt},
        {"regional policy with a regional grant",
         [] {
             Util::setRegionalDefaults(APMConsentSettings{{"ad_user_data", "granted"}});
             Util::updateSettings({{"ad_user_data", "EU_CONSENT_POLICY"}}, 30);
         },
         "G1--", "19989", false, std::nullopt},
        {"ad user data delegated to ad storage",
         [] {
             Util::setDelegatedSettings(APMConsentSettings{{"ad_user_data", "ad_storage"}});
             Util::updateSettings({{"ad_storage", "denied"}}, 10);
         },
         "G10-", "15929", true, std::nullopt},
        {"a delegation to a type without a value falls back to the default",
         [] {
             Util::setDelegatedSettings(APMConsentSettings{{"ad_user_data", "ad_storage"}});
             Util::setDefaultSettings(APMConsentSettings{{"ad_user_data", "denied"}});
         },
         "G1--", "19929", true, std::nullopt},
        {"only a default for ad personalization",
         [] {
             Util::setDefaultSettings(APMConsentSettings{{"ad_personalization", "granted"}});
         },
         "G1--", "19991", false, 1},
        {"storage defaults show no digit and no signal",
         [] {
             Util::setDefaultSettings(APMConsentSettings{{"ad_storage", "denied"}});
         },
         "G1--", "19999", false, std::nullopt},
        {"ad personalization denied by the consent platform",
         [] {
             Util::updateSettings({{"ad_personalization", "denied"}}, 5);
         },
         "G1--", "19997", false, 0},
        {"ad personalization under the regional policy",
         [] {
             Util::setRegionalDefaults(APMConsentSettings{{"ad_personalization", "granted"}});
             Util::updateSettings({{"ad_personalization", "eu_consent_policy"}}, 30);
         },
         "G1--", "19998", false, 1},
        {"a new source renews the digits of every set type",
         [] {
             Util::updateSettings({{"analytics_storage", "granted"}}, 30);
             Util::setConsentSource(40);
         },
         "G1-1", "19499", false, std::nullopt},
        {"Info.plist source",
         [] {
             Util::updateSettings({{"analytics_storage", "denied"}}, 20);
         },
         "G1-0", "19399", false, std::nullopt},
        {"no current settings returns to source 100",
         [] {
             Util::updateSettings({{"ad_storage", "granted"}}, 30);
             Util::setConsentSettings(std::nullopt);
         },
         "G1--", "19999", false, std::nullopt},
        {"unset ad personalization",
         [] {
             Util::updateSettings({{"ad_personalization", "granted"}, {"ad_storage", "granted"}},
                                  30);
             Util::unsetAdPersonalization();
         },
         "G11-", "15999", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Util::clearAllSettings();
        c.set();
        EXPECT_EQ(Util::consentSignals(), c.signals);
        EXPECT_EQ(Util::consentDiagnostics(), c.diagnostics);
        EXPECT_EQ(Util::isAdUserDataDenied(), c.adUserDataDenied);
        EXPECT_EQ(Util::adPersonalization(), c.adPersonalization);
    }
}

TEST_F(APMConsentSettingsUtilTest, StorageDenialAndAdUserDataChange) {
    EXPECT_FALSE(Util::isAdStorageDenied());
    EXPECT_FALSE(Util::isAnalyticsStorageDenied());
    Util::updateSettings({{"ad_storage", "Denied"}, {"analytics_storage", "granted"}}, 30);
    EXPECT_TRUE(Util::isAdStorageDenied());
    EXPECT_FALSE(Util::isAnalyticsStorageDenied());
    EXPECT_EQ(Util::consentSource(), 30);

    const bool before = Util::isAdUserDataDenied();
    Util::updateSettings({{"ad_user_data", "denied"}});
    EXPECT_TRUE(Util::didAdUserDataConsentChange(before));
    EXPECT_FALSE(Util::didAdUserDataConsentChange(true));
    // Merged into what was there, without touching the source.
    EXPECT_EQ(Util::consentSettings(), (APMConsentSettings{{"ad_storage", "Denied"},
                                                           {"ad_user_data", "denied"},
                                                           {"analytics_storage", "granted"}}));
    EXPECT_EQ(Util::consentSource(), 30);
}

TEST_F(APMConsentSettingsUtilTest, VersionAndClearAllSettings) {
    EXPECT_EQ(Util::version(), 1);
    Util::setVersion(3);
    EXPECT_EQ(Util::version(), 1);
    Util::setVersion(2);
    Util::setVersion(0);
    EXPECT_EQ(Util::version(), 2);

    Util::updateSettings({{"ad_storage", "denied"}, {"ad_user_data", "granted"}}, 5);
    Util::setDefaultSettings(APMConsentSettings{{"ad_personalization", "granted"}});
    Util::setDelegatedSettings(APMConsentSettings{{"ad_user_data", "ad_storage"}});
    Util::setRegionalDefaults(APMConsentSettings{{"ad_user_data", "granted"}});
    EXPECT_EQ(Util::consentDiagnostics(), "17971");

    Util::clearAllSettings();
    EXPECT_EQ(Util::consentSignals(), "G1--");
    EXPECT_EQ(Util::consentDiagnostics(), "19999");
    EXPECT_EQ(Util::consentSource(), 100);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
    EXPECT_EQ(Util::defaultSettings(), std::nullopt);
    EXPECT_EQ(Util::delegatedSettings(), std::nullopt);
    EXPECT_EQ(Util::regionalDefaults(), std::nullopt);
    EXPECT_EQ(Util::version(), 2);
}

TEST_F(APMConsentSettingsUtilTest, DescriptionNamesEachSetType) {
    EXPECT_EQ(Util::description(), "ad_storage is granted. analytics_storage is granted.");
    Util::setRegionalDefaults(APMConsentSettings{{"ad_user_data", "granted"}});
    Util::updateSettings({{"analytics_storage", "denied"},
                          {"ad_user_data", "eu_consent_policy"},
                          {"ad_personalization", "eu_consent_policy"}},
                         30);
    EXPECT_EQ(Util::description(),
              "ad_storage is granted. analytics_storage is denied. ad_user_data is granted "
              "(eu_consent_policy). ad_personalization is denied (eu_consent_policy).");
}

TEST_F(APMConsentSettingsUtilTest, SourcePriorityMatrix) {
    // Row: the current source; column: the source offered, in the order of `sources`. 'Y'
    // means the offered settings may replace the current ones.
    const std::vector<std::int64_t> sources = {5, 10, 20, 30, 40, 100};
    const std::vector<std::pair<std::int64_t, std::string>> matrix = {
        {5, "YYNNNN"},  {10, "YYNNNN"}, {20, "YYYNNN"},
        {30, "YYYYNN"}, {40, "YYYYYN"}, {100, "YYYYYY"},
    };
    for (const auto& [current, row] : matrix) {
        Util::setConsentSource(current);
        for (std::size_t i = 0; i < sources.size(); ++i) {
            EXPECT_EQ(Util::isConsentSourceHigherPriority(sources[i]), row[i] == 'Y')
                << "current " << current << ", offered " << sources[i];
        }
    }
    Util::setConsentSource(5);
    EXPECT_TRUE(Util::isConsentSourceEqualPriority(10));
    EXPECT_TRUE(Util::isConsentSourceEqualPriority(5));
    EXPECT_FALSE(Util::isConsentSourceEqualPriority(20));
}

TEST_F(APMConsentSettingsUtilTest, SettingsFromDictionaryKeepOnlyConsentTypes) {
    EXPECT_EQ(Util::consentSettingsFromDictionary(
                  {{"ad_storage", "granted"}, {"ad_user_data", "denied"}, {"other", "x"}}),
              (APMConsentSettings{{"ad_storage", "granted"}, {"ad_user_data", "denied"}}));
    EXPECT_EQ(APMConsentTypeFromString("ad_personalization"), 4);
    EXPECT_EQ(APMConsentTypeFromString("Ad_Storage"), 0);
    EXPECT_EQ(APMConsentStatusFromString("DENIED"), 2);
    EXPECT_EQ(APMConsentStatusFromString("eu_consent_policy"), 0);
}

TEST_F(APMConsentSettingsUtilTest, CallingFromTheQueueItselfIsRefused) {
    bool refused = false;
    Util::serialQueue()->sync([&] {
        try {
            Util::consentSignals();
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    EXPECT_TRUE(refused);
}

TEST(APMConsentPlistDefaults, InfoPlistValuesThatReadAsBooleans) {
    struct Case {
        const char* entries;
        APMConsentSettings expected;
    };
    const std::string prefix = "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_";
    const std::vector<Case> cases = {
        {"AD_STORAGE</key><true/>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE</key><false/>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA</key><integer>1</integer>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS</key><string>YES</string>",
         {{"ad_storage", "granted"},
          {"analytics_storage", "denied"},
          {"ad_user_data", "granted"},
          {"ad_personalization", "granted"}}},
        {"AD_STORAGE</key><integer>0</integer>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE</key><string>no</string>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA</key>"
         "<string>EU_Consent_Policy</string>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS</key><true/>",
         {{"ad_storage", "denied"},
          {"analytics_storage", "denied"},
          {"ad_user_data", "EU_Consent_Policy"}}},
        {"AD_STORAGE</key><string>eu_consent_policy</string>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE</key><array><true/></array>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA</key><real>0.0</real>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS</key>"
         "<string>eu_consent_policy</string>",
         {{"ad_user_data", "denied"}, {"ad_personalization", "eu_consent_policy"}}},
        {"AD_STORAGE</key><date>2020-01-01T00:00:00Z</date>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE</key><string> -007</string>"
         "<key>VOVIDU_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA</key><dict/>",
         {{"analytics_storage", "granted"}}},
    };
    cb::testsupport::TempDir dir("cb-consent-plist");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        sdktest::FixtureMainBundle bundle(dir / std::to_string(i), prefix + cases[i].entries);
        EXPECT_EQ(Util::consentSettingsFromPlist(), cases[i].expected);
    }
    // Outside a bundle there are no defaults.
    EXPECT_TRUE(Util::consentSettingsFromPlist().empty());
}

TEST(APMConsentPlistDefaults, StringBooleansReadAsFoundationReadsThem) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"YES", true},  {"yes", true},    {"true", true},   {"T", true},   {"1", true},
        {"-1", true},   {"+9", true},     {" \t007", true}, {"no", false}, {"NO", false},
        {"0", false},   {"00", false},    {"", false},      {"x", false},  {"- 1", false},
        {"+-1", false}, {"false", false}, {"\n1", false},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(APMStringBoolValue(text), expected) << '"' << text << '"';
    }
}

// Eight threads share the state: four writers replace or merge whole sets in which all four
// types agree, four readers check every copy they get is one of those sets, never a mixture.
TEST_F(APMConsentSettingsUtilTest, ConcurrentWritersAndReadersSeeWholeSets) {
    const auto all = [](const char* status) {
        APMConsentSettings settings;
        for (std::int64_t type = 1; type <= 4; ++type) {
            settings.emplace(APMConsentTypeString(type), status);
        }
        return settings;
    };
    const APMConsentSettings granted = all("granted");
    const APMConsentSettings denied = all("denied");
    std::atomic<int> mixed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                const APMConsentSettings& set = (i + t) % 2 == 0 ? granted : denied;
                if (t % 2 == 0) {
                    Util::setConsentSettings(set);
                } else {
                    Util::updateSettings(set, 30);
                }
                // A read after this thread's own write sees a whole set.
                const std::optional<APMConsentSettings> after = Util::consentSettings();
                mixed += !after || (*after != granted && *after != denied);
            }
        });
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                const std::optional<APMConsentSettings> copy = Util::consentSettings();
                mixed += copy && *copy != granted && *copy != denied;
                const std::string signals = Util::consentSignals();
                mixed += signals != "G1--" && signals != "G100" && signals != "G111";
                Util::isAdUserDataDenied();
                Util::consentDiagnostics();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mixed.load(), 0);
    Util::setConsentSettings(denied);
    EXPECT_EQ(Util::consentSettings(), denied);
    EXPECT_EQ(Util::consentSignals(), "G100");
}

}  // namespace

namespace {

// A snapshot taken right after a write of the same thread holds it, however the queue is
// behind; and it answers what the readers answer.
TEST_F(APMConsentSettingsUtilTest, ASnapshotHoldsEveryWriteIssuedBeforeIt) {
    for (int i = 0; i < 500; ++i) {
        const bool denied = i % 2 == 0;
        Util::updateSettings({{"analytics_storage", denied ? "denied" : "granted"},
                              {"ad_user_data", denied ? "granted" : "denied"}},
                             30);
        const std::shared_ptr<const APMConsentSnapshot> snapshot = Util::snapshot();
        ASSERT_EQ(snapshot->consentSignals, denied ? "G1-0" : "G1-1") << i;
        ASSERT_EQ(snapshot->adUserDataDenied, !denied) << i;
    }
    Util::setDiagnosticSource(0, "ad_storage");
    const std::shared_ptr<const APMConsentSnapshot> snapshot = Util::snapshot();
    EXPECT_EQ(snapshot->consentSignals, Util::consentSignals());
    EXPECT_EQ(snapshot->consentDiagnostics, Util::consentDiagnostics());
    EXPECT_EQ(snapshot->adUserDataDenied, Util::isAdUserDataDenied());
    // Taking it changes nothing a reader sees.
    EXPECT_EQ(Util::snapshot()->consentDiagnostics, Util::consentDiagnostics());
}

}  // namespace
