// The typed settings: remote values, defaults, ranges and the cache, read the same under every
// locale.
#include <clocale>
#include <functional>
#include <locale>

#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/measurement/storage/APMRemoteConfigNumber.h"
#include "tests/sdk/measurement/storage/APMRemoteConfigTestPeer.h"
#include "tests/sdk/measurement/storage/RemoteConfigTestSupport.h"

namespace {

using sdktest::kAppID;
using sdktest::makeConfig;

using Reader = std::function<double(APMRemoteConfig&)>;

struct SettingCase {
    const char* key;
    const char* remote;
    Reader read;
    double expected;
};

// One row per rule: milliseconds to seconds, out of range (either side) means the default,
// never the bound, booleans are exactly 0 and 1, counts read through the interval reader.
const SettingCase kSettingCases[] = {
    {"measurement.upload.interval", "60000",
     [](APMRemoteConfig& c) { return c.uploadingInterval(); }, 60},
    {"measurement.upload.interval", "10000",
     [](APMRemoteConfig& c) { return c.uploadingInterval(); }, 3600},
    {"measurement.upload.interval", "60000.9",
     [](APMRemoteConfig& c) { return c.uploadingInterval(); }, 60},
    {"measurement.upload.retry_count", "30",
     [](APMRemoteConfig& c) { return double(c.uploadingRetryCount()); }, 6},
    {"measurement.upload.retry_count", "24",
     [](APMRemoteConfig& c) { return double(c.uploadingRetryCount()); }, 24},
    {"measurement.upload.retry_count", "+7",
     [](APMRemoteConfig& c) { return double(c.uploadingRetryCount()); }, 7},
    {"measurement.skan.initial_cv_fetch_delay_sec", "60",
     [](APMRemoteConfig& c) { return c.SKANInitialCVFetchDelay(); }, 120},
    {"measurement.quality.checksum", "1",
     [](APMRemoteConfig& c) { return double(c.checksumEnabled()); }, 1},
    {"measurement.quality.checksum", "2",
     [](APMRemoteConfig& c) { return double(c.checksumEnabled()); }, 0},
    {"measurement.quality.checksum", "true",
     [](APMRemoteConfig& c) { return double(c.checksumEnabled()); }, 0},
    {"measurement.lifecycle.app_in_background_parameter", "0",
     [](APMRemoteConfig& c) { return double(c.appInBackgroundParameterEnabled()); }, 0},
    {"measurement.upload.max_bundles_created_per_iteration", "500000",
     [](APMRemoteConfig& c) { return double(c.maxBundlesCreatedPerIteration()); }, 500},
    {"measurement.account.time_zone_offset_minutes", "-120",
     [](APMRemoteConfig& c) { return double(c.analyticsAccountTimeZoneOffsetMinutes()); }, -120},
    {"measurement.account.time_zone_offset_minutes", "-1000",
     [](APMRemoteConfig& c) { return double(c.analyticsAccountTimeZoneOffsetMinutes()); }, 0},
    {"measurement.upload.max_batch_size", "10485760",
     [](APMRemoteConfig& c) { return double(c.uploadMaxSizeLimitBytes()); }, 10485760},
    {"measurement.upload.max_public_event_params", "101",
     [](APMRemoteConfig& c) { return double(c.maxPublicEventParams()); }, 100},
    // Texts that are not plain decimal numbers give the default.
    {"measurement.audience.max_count", "1e2",
     [](APMRemoteConfig& c) { return double(c.maxAudienceCount()); }, 100},
    {"measurement.audience.max_count", " 50",
     [](APMRemoteConfig& c) { return double(c.maxAudienceCount()); }, 100},
    {"measurement.audience.max_count", "50,5",
     [](APMRemoteConfig& c) { return double(c.maxAudienceCount()); }, 100},
    {"measurement.audience.max_count", "99999999999999999999999",
     [](APMRemoteConfig& c) { return double(c.maxAudienceCount()); }, 100},
    {"measurement.audience.max_count", "250.7",
     [](APMRemoteConfig& c) { return double(c.maxAudienceCount()); }, 250},
};

class APMRemoteConfigSettingsTest : public sdktest::RemoteConfigTest {
  protected:
    void expectSettingCases() {
        for (const SettingCase& c : kSettingCases) {
            auto remote = configWithSettings({{c.key, c.remote}});
            EXPECT_EQ(c.read(*remote), c.expected) << c.key << " = " << c.remote;
            // The first read is cached as a number and answered from the cache afterwards.
            const auto cached = APMRemoteConfigTestPeer::cachedValues(*remote);
            ASSERT_TRUE(cached.count(c.key)) << c.key;
            EXPECT_TRUE(cached.at(c.key).isNumber()) << c.key << " = " << c.remote;
            EXPECT_EQ(c.read(*remote), c.expected) << c.key << " = " << c.remote;
        }
    }
};

TEST_F(APMRemoteConfigSettingsTest, RemoteValuesDefaultsAndRanges) {
    expectSettingCases();
}

TEST_F(APMRemoteConfigSettingsTest, LocaleWithCommaDecimalsChangesNothing) {
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    const std::locale saved = std::locale::global(std::locale(std::locale(), new CommaDecimal));
    const std::string savedC = std::setlocale(LC_ALL, nullptr);
    // Where the German locale is installed the C library reads "," as the decimal point too.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    expectSettingCases();
    // Numbers handed to programs are written the same way.
    auto remote = configWithSettings({{"measurement.upload.interval", "15500"}});
    EXPECT_EQ(remote->uploadingInterval(), 15.5);
    EXPECT_EQ(APMRemoteConfigNumberString(sdk::Value(1.5)), "1.5");
    std::setlocale(LC_ALL, savedC.c_str());
    std::locale::global(saved);
}

TEST_F(APMRemoteConfigSettingsTest, AbsentKeyGivesItsDefaultAndCachesIt) {
    auto remote = configWithSettings({{"measurement.upload.interval", "60000"}});
    EXPECT_FALSE(
        APMRemoteConfigTestPeer::cachedValues(*remote).count("measurement.upload.retry_count"));
    EXPECT_EQ(remote->uploadingRetryCount(), 6);
    EXPECT_EQ(APMRemoteConfigTestPeer::cachedValues(*remote).at("measurement.upload.retry_count"),
              sdk::Value(6));

    // An out-of-range value is remembered as the default until the next parse.
    auto other = configWithSettings({{"measurement.upload.retry_count", "30"}});
    EXPECT_EQ(other->uploadingRetryCount(), 6);
    EXPECT_EQ(APMRemoteConfigTestPeer::cachedValues(*other).at("measurement.upload.retry_count"),
              sdk::Value(6));
    ASSERT_TRUE(other->updateMeasurementConfig(
        makeConfig(kAppID, {{"measurement.upload.retry_count", "12"}}).get()));
    EXPECT_EQ(other->uploadingRetryCount(), 12);
}

TEST_F(APMRemoteConfigSettingsTest, PSMStartCountIsTenInDebugMode) {
    auto remote = configWithSettings({{"measurement.psm_start_count", "2"}});
    APMMonitor::shared().setDebugModeEnabled(true);
    EXPECT_EQ(remote->maxPSMStartCount(), 10);
    APMMonitor::shared().setDebugModeEnabled(false);
    EXPECT_EQ(remote->maxPSMStartCount(), 2);
}

TEST_F(APMRemoteConfigSettingsTest, InternalValueLengthIsAtLeast256) {
    EXPECT_EQ(configWithSettings({{"measurement.upload.max_event_parameter_value_length", "300"}})
                  ->maxInternalEventParameterValueLength(),
              300);
    EXPECT_EQ(configWithSettings({{"measurement.upload.max_event_parameter_value_length", "100"}})
                  ->maxInternalEventParameterValueLength(),
              256);
}

TEST_F(APMRemoteConfigSettingsTest, EmptyKeysAndValuesAreRefused) {
    auto remote = configWithSettings({{"", "5"}, {"measurement.audience.max_count", ""}});
    EXPECT_TRUE(monitor_.saw(29019));
    EXPECT_TRUE(APMRemoteConfigTestPeer::cachedValues(*remote).empty());
    EXPECT_EQ(remote->intValueFromCacheWithKey("", 5, std::nullopt, std::nullopt), 0);
    EXPECT_TRUE(monitor_.saw(29020));
    EXPECT_EQ(remote->numberFromString(sdk::Value(5)), std::nullopt);
    EXPECT_TRUE(monitor_.saw(29018));
}

TEST(APMRemoteConfigNumberTest, ReadsPlainDecimalTextsOnly) {
    EXPECT_EQ(APMRemoteConfigNumberFromText("42"), sdk::Value(42));
    EXPECT_EQ(APMRemoteConfigNumberFromText("-7"), sdk::Value(-7));
    EXPECT_EQ(APMRemoteConfigNumberFromText("+7"), sdk::Value(7));
    EXPECT_EQ(APMRemoteConfigNumberFromText("2.5"), sdk::Value(2.5));
    EXPECT_EQ(APMRemoteConfigNumberFromText("9223372036854775808"),
              sdk::Value(9223372036854775808.0));
    for (const char* text : {"", "-", ".5", "5.", "1e3", "0x10", " 1", "1 ", "1,5", "nan", "inf"}) {
        EXPECT_EQ(APMRemoteConfigNumberFromText(text), std::nullopt) << text;
    }
    EXPECT_EQ(APMRemoteConfigInt32(sdk::Value(1e12)), 2147483647);
    EXPECT_EQ(APMRemoteConfigInt32(sdk::Value(-2.9)), -2);
}

TEST(APMRemoteConfigDefaultsTest, DefaultInstanceGivesEveryDefault) {
    struct Default {
        const char* name;
        Reader read;
        double expected;
    };
    const Default kDefaults[] = {
        {"uploadingBackoffInterval",
         [](APMRemoteConfig& c) { return double(c.uploadingBackoffInterval()); }, 43200},
        {"maxAudienceCount", [](APMRemoteConfig& c) { return double(c.maxAudienceCount()); }, 100},
        {"maxFiltersPerAudience",
         [](APMRemoteConfig& c) { return double(c.maxFiltersPerAudience()); }, 10},
        {"maxFilterResultCount",
         [](APMRemoteConfig& c) { return double(c.maxFilterResultCount()); }, 200},
        {"maxParametersPerFilter",
         [](APMRemoteConfig& c) { return double(c.maxParametersPerFilter()); }, 25},
        {"databaseDeleteStaleBundlesInterval",
         [](APMRemoteConfig& c) { return double(c.databaseDeleteStaleBundlesInterval()); }, 86400},
        {"maxQueueTime", [](APMRemoteConfig& c) { return double(c.maxQueueTime()); }, 2419200},
        {"adIDCacheTime", [](APMRemoteConfig& c) { return double(c.adIDCacheTime()); }, 1},
        {"gateIDFAOnATTMASEnabled",
         [](APMRemoteConfig& c) { return double(c.gateIDFAOnATTMASEnabled()); }, 0},
        {"monitoringSamplePeriod",
         [](APMRemoteConfig& c) { return double(c.monitoringSamplePeriod()); }, 86400},
        {"isNetworkBackgroundSessionEnabled",
         [](APMRemoteConfig& c) { return double(c.isNetworkBackgroundSessionEnabled()); }, 0},
        {"networkTimeout", [](APMRemoteConfig& c) { return double(c.networkTimeout()); }, 60},
        {"sessionDefaultTimeoutInterval",
         [](APMRemoteConfig& c) { return double(c.sessionDefaultTimeoutInterval()); }, 1800},
        {"sessionEventUserEngagementInterval",
         [](APMRemoteConfig& c) { return double(c.sessionEventUserEngagementInterval()); }, 3600},
        {"efficientEngagementReportingEnabled",
         [](APMRemoteConfig& c) { return double(c.efficientEngagementReportingEnabled()); }, 0},
        {"redundantEngagementRemovalEnabled",
         [](APMRemoteConfig& c) { return double(c.redundantEngagementRemovalEnabled()); }, 0},
        {"maxConversionsPerDay",
         [](APMRemoteConfig& c) { return double(c.maxConversionsPerDay()); }, 10000},
        {"maxEventsPerDay", [](APMRemoteConfig& c) { return double(c.maxEventsPerDay()); }, 100000},
        {"maxPublicEventsPerDay",
         [](APMRemoteConfig& c) { return double(c.maxPublicEventsPerDay()); }, 50000},
        {"maxErrorEventsPerDay",
         [](APMRemoteConfig& c) { return double(c.maxErrorEventsPerDay()); }, 1000},
        {"maxTrackedCurrencies",
         [](APMRemoteConfig& c) { return double(c.maxTrackedCurrencies()); }, 4},
        {"maxPublicUserProperties",
         [](APMRemoteConfig& c) { return double(c.maxPublicUserProperties()); }, 100},
        {"maxEventNameCardinality",
         [](APMRemoteConfig& c) { return double(c.maxEventNameCardinality()); }, 2000},
        {"maxPublicEventParams",
         [](APMRemoteConfig& c) { return double(c.maxPublicEventParams()); }, 100},
        {"maxEventsStored", [](APMRemoteConfig& c) { return double(c.maxEventsStored()); }, 100000},
        {"uploadingInterval", [](APMRemoteConfig& c) { return double(c.uploadingInterval()); },
         3600},
        {"uploadingInitialDelayInterval",
         [](APMRemoteConfig& c) { return double(c.uploadingInitialDelayInterval()); }, 15},
        {"uploadMaxBundlesLimit",
         [](APMRemoteConfig& c) { return double(c.uploadMaxBundlesLimit()); }, 100},
        {"uploadMaxEventsPerBundle",
         [](APMRemoteConfig& c) { return double(c.uploadMaxEventsPerBundle()); }, 1000},
        {"uploadMaxSizeLimitBytes",
         [](APMRemoteConfig& c) { return double(c.uploadMaxSizeLimitBytes()); }, 65536},
        {"uploadingRetryCount", [](APMRemoteConfig& c) { return double(c.uploadingRetryCount()); },
         6},
        {"uploadingRetryInterval",
         [](APMRemoteConfig& c) { return double(c.uploadingRetryInterval()); }, 1800},
        {"maxBundlesCreatedPerIteration",
         [](APMRemoteConfig& c) { return double(c.maxBundlesCreatedPerIteration()); }, 100},
        {"maxRealtimeEventCountPerDay",
         [](APMRemoteConfig& c) { return double(c.maxRealtimeEventCountPerDay()); }, 10},
        {"uploadingDebugModeInterval",
         [](APMRemoteConfig& c) { return double(c.uploadingDebugModeInterval()); }, 1},
        {"uploadingRealTimeInterval",
         [](APMRemoteConfig& c) { return double(c.uploadingRealTimeInterval()); }, 10},
        {"blocklistInternal", [](APMRemoteConfig& c) { return double(c.blocklistInternal()); }, 0},
        {"blocklistPublic", [](APMRemoteConfig& c) { return double(c.blocklistPublic()); }, 0},
        {"isEventSamplingEnabled",
         [](APMRemoteConfig& c) { return double(c.isEventSamplingEnabled()); }, 0},
        {"analyticsAccountTimeZoneOffsetMinutes",
         [](APMRemoteConfig& c) { return double(c.analyticsAccountTimeZoneOffsetMinutes()); }, 0},
        {"checksumEnabled", [](APMRemoteConfig& c) { return double(c.checksumEnabled()); }, 0},
        {"appInBackgroundParameterEnabled",
         [](APMRemoteConfig& c) { return double(c.appInBackgroundParameterEnabled()); }, 1},
        {"maxItemScopedCustomParameters",
         [](APMRemoteConfig& c) { return double(c.maxItemScopedCustomParameters()); }, 27},
        {"maxPublicEventParameterValueLength",
         [](APMRemoteConfig& c) { return double(c.maxPublicEventParameterValueLength()); }, 500},
        {"maxRealtimeDCUEventCountPerDay",
         [](APMRemoteConfig& c) { return double(c.maxRealtimeDCUEventCountPerDay()); }, 1},
        {"maxPSMStartCount", [](APMRemoteConfig& c) { return double(c.maxPSMStartCount()); }, 3},
        {"maxPSMRetryCount", [](APMRemoteConfig& c) { return double(c.maxPSMRetryCount()); }, 5},
        {"PSMRetryInterval", [](APMRemoteConfig& c) { return double(c.PSMRetryInterval()); }, 300},
        {"hashPrefixBitLengthEmail",
         [](APMRemoteConfig& c) { return double(c.hashPrefixBitLengthEmail()); }, 14},
        {"hashPrefixBitLengthPhone",
         [](APMRemoteConfig& c) { return double(c.hashPrefixBitLengthPhone()); }, 11},
        {"maxSignInDelayInDays",
         [](APMRemoteConfig& c) { return double(c.maxSignInDelayInDays()); }, 60},
        {"adsOnDeviceConversionFeatureEnabled",
         [](APMRemoteConfig& c) { return double(c.adsOnDeviceConversionFeatureEnabled()); }, 0},
        {"isDeferredDeepLinkEnabled",
         [](APMRemoteConfig& c) { return double(c.isDeferredDeepLinkEnabled()); }, 1},
        {"maxDeferredDeepLinkRetryCount",
         [](APMRemoteConfig& c) { return double(c.maxDeferredDeepLinkRetryCount()); }, 5},
        {"attributionCacheTTLInterval",
         [](APMRemoteConfig& c) { return double(c.attributionCacheTTLInterval()); }, 604800},
        {"remoteConfigCacheTimeInterval",
         [](APMRemoteConfig& c) { return double(c.remoteConfigCacheTimeInterval()); }, 3600},
        {"sessionStitchingTokenFeatureEnabled",
         [](APMRemoteConfig& c) { return double(c.sessionStitchingTokenFeatureEnabled()); }, 0},
        {"SKANUpdateConversionValueEnabled",
         [](APMRemoteConfig& c) { return double(c.SKANUpdateConversionValueEnabled()); }, 0},
        {"SKANInitialCVFetchDelay",
         [](APMRemoteConfig& c) { return double(c.SKANInitialCVFetchDelay()); }, 120},
        {"SKANCVFetchRetryInterval",
         [](APMRemoteConfig& c) { return double(c.SKANCVFetchRetryInterval()); }, 120},
        {"SKANCVFetchRetryLimit",
         [](APMRemoteConfig& c) { return double(c.SKANCVFetchRetryLimit()); }, 4},
        {"SKANFirstWindowCVFetchDelay",
         [](APMRemoteConfig& c) { return double(c.SKANFirstWindowCVFetchDelay()); }, 20},
        {"SKANFirstWindowCVFetchRetryInterval",
         [](APMRemoteConfig& c) { return double(c.SKANFirstWindowCVFetchRetryInterval()); }, 120},
        {"SKANFirstWindowCVFetchRetryLimit",
         [](APMRemoteConfig& c) { return double(c.SKANFirstWindowCVFetchRetryLimit()); }, 4},
        {"SKANFirstWindowUploadInterval",
         [](APMRemoteConfig& c) { return double(c.SKANFirstWindowUploadInterval()); }, 1800},
    };
    auto remote = APMRemoteConfig::defaultInstance();
    ASSERT_TRUE(remote->isDefaultInstance());
    EXPECT_EQ(std::size(kDefaults), 65u);
    for (const Default& d : kDefaults) {
        EXPECT_EQ(d.read(*remote), d.expected) << d.name;
    }
    EXPECT_TRUE(remote->customerTypeEnabled());
    EXPECT_TRUE(remote->STGWUploadEnabled() == false);
    EXPECT_EQ(remote->maxInternalEventParameterValueLength(), 500);
    EXPECT_EQ(APMRemoteConfig::current(), remote);
}

}  // namespace
