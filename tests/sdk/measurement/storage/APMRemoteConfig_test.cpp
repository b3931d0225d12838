// Storing, loading and parsing the remote configuration, and its expiry.
#include <cstdlib>
#include <thread>

#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/storage/APMRemoteConfigTestPeer.h"
#include "tests/sdk/measurement/storage/RemoteConfigTestSupport.h"

namespace {

using sdk::Value;
using sdktest::addEventConfig;
using sdktest::appendElement;
using sdktest::kAppID;
using sdktest::makeConfig;

// The configuration stored in `database` as protoc's text: the blob is written out by the
// sqlite3 shell and decoded by protoc, neither of which shares code with the store.
std::string storedConfigAsText(const std::string& database, const std::filesystem::path& dir) {
    const std::filesystem::path blob = dir / "blob.bin";
    const std::filesystem::path text = dir / "blob.txt";
    sdktest::sqliteCli(database, "select writefile('" + blob.string() +
                                     "', remote_config_data) from "
                                     "app_metadata");
    const std::string command = std::string("'") + CB_PROTOC + "' -I '" + CB_MESSAGES_PROTO_DIR +
                                "' --decode=apmpb.MeasurementConfig configuration.proto < '" +
                                blob.string() + "' > '" + text.string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return sdktest::readFile(text);
}

std::shared_ptr<APMPBConsentDefaultEntry> consentEntry(std::uint32_t type, std::uint32_t status) {
    auto entry = std::make_shared<APMPBConsentDefaultEntry>();
    APMPBSetInt32(entry.get(), apmpb::ConsentDefaultEntry::kType, type);
    APMPBSetInt32(entry.get(), apmpb::ConsentDefaultEntry::kStatus, status);
    return entry;
}

class APMRemoteConfigTest : public sdktest::RemoteConfigTest {
  protected:
    std::string storedHex() { return cli("select hex(remote_config_data) from app_metadata"); }
};

TEST_F(APMRemoteConfigTest, MatchingConfigurationIsStoredWithItsTime) {
    TEST_APMSetCurrentTimeInterval(1700000000.5);
    auto remote = makeRemoteConfig();
    EXPECT_TRUE(monitor_.saw(29017));  // nothing stored yet
    auto config = makeConfig(kAppID, {{"measurement.upload.retry_count", "12"}});
    APMPBSetInt64(config.get(), apmpb::MeasurementConfig::kVersion, 7);
    ASSERT_TRUE(remote->updateMeasurementConfig(config.get()));

    EXPECT_EQ(storedConfigAsText(databasePath().string(), dir_.path()),
              "version: 7\n"
              "app_id: \"1:1:ios:ab\"\n"
              "settings {\n"
              "  name: \"measurement.upload.retry_count\"\n"
              "  value: \"12\"\n"
              "}\n");
    EXPECT_EQ(cli("select remote_config_timestamp from app_metadata"), "1700000000.5\n");
    EXPECT_EQ(remote->version(), 7);
    EXPECT_EQ(remote->uploadingRetryCount(), 12);

    // The next one renews the time; a confirmation writes only the time.
    TEST_APMSetCurrentTimeInterval(1700000100.0);
    ASSERT_TRUE(remote->updateMeasurementConfig(config.get()));
    EXPECT_EQ(remote->lastRemoteConfigUpdateTimestamp(), 1700000100.0);
    sdk::Error error;
    ASSERT_TRUE(database_->updateRemoteConfigSuccessfulTimestamp(1700000200.0, &error));
    EXPECT_EQ(remote->lastRemoteConfigUpdateTimestamp(), 1700000200.0);

    // A new instance over the same file loads and parses what was stored.
    auto reloaded = makeRemoteConfig();
    EXPECT_EQ(reloaded->version(), 7);
    EXPECT_EQ(reloaded->uploadingRetryCount(), 12);
}

TEST_F(APMRemoteConfigTest, ConfigurationForAnotherAppChangesNothing) {
    auto remote = configWithSettings({{"measurement.upload.retry_count", "12"}});
    const std::string before = storedHex();
    ASSERT_FALSE(before.empty());
    monitor_.clear();

    EXPECT_FALSE(remote->updateMeasurementConfig(
        makeConfig("1:2:ios:cd", {{"measurement.upload.retry_count", "3"}}).get()));
    EXPECT_TRUE(monitor_.saw(29004));
    EXPECT_EQ(storedHex(), before);
    EXPECT_EQ(APMRemoteConfigTestPeer::cachedValues(*remote).at("measurement.upload.retry_count"),
              Value("12"));
    EXPECT_EQ(remote->uploadingRetryCount(), 12);
    // Parsing another app's configuration directly is ignored as well.
    remote->parseRemoteConfigFromMeasurementConfig(
        makeConfig("1:2:ios:cd", {{"measurement.upload.max_bundles", "5"}}).get());
    EXPECT_EQ(remote->uploadMaxBundlesLimit(), 100);
}

TEST_F(APMRemoteConfigTest, RefusalsAndDatabaseFailures) {
    auto remote = makeRemoteConfig();
    monitor_.clear();
    EXPECT_FALSE(remote->updateMeasurementConfig(nullptr));
    EXPECT_TRUE(monitor_.saw(29003));

    auto defaults = APMRemoteConfig::defaultInstance();
    EXPECT_FALSE(defaults->updateMeasurementConfig(makeConfig(kAppID).get()));
    EXPECT_TRUE(monitor_.saw(29002));
    EXPECT_EQ(defaults->measurementConfigFromDatabase(), nullptr);
    EXPECT_TRUE(monitor_.saw(29015));

    EXPECT_EQ(APMRemoteConfig::initWithAppID("", database_, config_, nullptr), nullptr);
    EXPECT_TRUE(monitor_.saw(29000));
    EXPECT_EQ(APMRemoteConfig::initWithAppID(kAppID, nullptr, config_, nullptr), nullptr);
    EXPECT_TRUE(monitor_.saw(29001));

    // The database refuses a configuration without an app ID or without any bytes.
    sdk::Error error;
    EXPECT_FALSE(database_->updateRemoteConfig(makeConfig("").get(), &error));
    EXPECT_EQ(sdktest::codeAndMessage(error),
              "1 Missing Vovidu app ID in measurement configuration");
    APMPBMeasurementConfig empty;
    EXPECT_FALSE(database_->updateRemoteConfig(&empty, &error));
    EXPECT_EQ(sdktest::codeAndMessage(error), "1 Invalid measurement config data");

    // A store that fails is reported (29005) and the configuration is not applied.
    database_->sqliteStore()->closeAndDeleteDatabase();
    monitor_.clear();
    EXPECT_FALSE(remote->updateMeasurementConfig(
        makeConfig(kAppID, {{"measurement.upload.retry_count", "12"}}).get()));
    EXPECT_TRUE(monitor_.saw(29005));
    EXPECT_EQ(remote->uploadingRetryCount(), 6);
}

TEST_F(APMRemoteConfigTest, CorruptOrMissingStoredConfiguration) {
    auto remote = makeRemoteConfig();
    monitor_.clear();
    EXPECT_EQ(remote->measurementConfigFromDatabase(), nullptr);
    EXPECT_TRUE(monitor_.saw(29017));
    EXPECT_FALSE(monitor_.saw(29016));

    cli("update app_metadata set remote_config_data = x'0aff'");
    sdk::Error error;
    EXPECT_EQ(database_->queryMeasurementConfigWithError(&error), nullptr);
    EXPECT_EQ(sdktest::codeAndMessage(error), "2 Remote config data is corrupted");
    monitor_.clear();
    EXPECT_EQ(remote->measurementConfigFromDatabase(), nullptr);
    EXPECT_TRUE(monitor_.saw(29016));
    // An instance made over the corrupt file starts with defaults.
    EXPECT_EQ(makeRemoteConfig()->version(), -1);
}

TEST_F(APMRemoteConfigTest, MainThreadCallsAreWarnedAbout) {
    auto remote = makeRemoteConfig();
    monitor_.clear();
    std::thread([&] { remote->measurementConfigFromDatabase(); }).join();
    EXPECT_FALSE(monitor_.saw(30001));
    remote->measurementConfigFromDatabase();
    EXPECT_TRUE(monitor_.saw(30001));
}

TEST_F(APMRemoteConfigTest, EventConfigurationsByInternalName) {
    auto config = makeConfig(kAppID, {{"measurement.upload.blacklist_public", "1"}});
    addEventConfig(*config, "ad_impression", false, 1);
    addEventConfig(*config, "level_up", false);
    addEventConfig(*config, "_internal", false);
    addEventConfig(*config, "_blocked", true);
    addEventConfig(*config, "rate_70000", false, 70000);
    addEventConfig(*config, "rate_2", false, 2);
    addEventConfig(*config, "rate_65535", false, 65535);
    addEventConfig(*config, "", true);
    auto remote = makeRemoteConfig();
    ASSERT_TRUE(remote->updateMeasurementConfig(config.get()));
    EXPECT_TRUE(monitor_.saw(29013));

    EXPECT_NE(remote->eventConfigWithName("_ai"), nullptr);
    EXPECT_EQ(remote->eventConfigWithName("ad_impression"), nullptr);
    EXPECT_EQ(remote->samplingRateForEvent("_ai"), 1);
    EXPECT_TRUE(remote->eventHasSamplingRate("_ai"));
    EXPECT_FALSE(remote->eventHasSamplingRate("level_up"));
    EXPECT_EQ(remote->samplingRateForEvent("rate_70000"), 1);
    EXPECT_EQ(remote->samplingRateForEvent("rate_2"), 2);
    EXPECT_EQ(remote->samplingRateForEvent("rate_65535"), 65535);
    EXPECT_EQ(remote->samplingRateForEvent("unknown"), 1);

    // A NO flag defers to the general block lists: public ones are blocked here, internal not.
    EXPECT_TRUE(remote->isEventBlocklisted("level_up"));
    EXPECT_TRUE(remote->isEventBlocklisted("never_configured"));
    EXPECT_FALSE(remote->isEventBlocklisted("_internal"));
    EXPECT_TRUE(remote->isEventBlocklisted("_blocked"));
    EXPECT_EQ(remote->eventConfigWithName(""), nullptr);
    EXPECT_TRUE(monitor_.saw(29006));
}

TEST_F(APMRemoteConfigTest, ConsentDataControlsAndPSMNumbers) {
    auto config = makeConfig(kAppID);
    APMPBConsentConfig consent;
    appendElement(consent, apmpb::ConsentConfig::kDefaults, consentEntry(1, 1),
                  &APMPBConsentDefaultEntry::makeShared);
    appendElement(consent, apmpb::ConsentConfig::kDefaults, consentEntry(5, 2),
                  &APMPBConsentDefaultEntry::makeShared);
    appendElement(consent, apmpb::ConsentConfig::kDefaults, consentEntry(2, 3),
                  &APMPBConsentDefaultEntry::makeShared);
    appendElement(consent, apmpb::ConsentConfig::kEnforcedDefaults, consentEntry(3, 2),
                  &APMPBConsentDefaultEntry::makeShared);
    auto delegation = std::make_shared<APMPBConsentDelegationEntry>();
    APMPBSetInt32(delegation.get(), apmpb::ConsentDelegationEntry::kType, 4);
    APMPBSetInt32(delegation.get(), apmpb::ConsentDelegationEntry::kDelegateType, 9);
    appendElement(consent, apmpb::ConsentConfig::kDelegations, delegation,
                  &APMPBConsentDelegationEntry::makeShared);
    auto service = std::make_shared<APMPBCorePlatformServiceEntry>();
    APMPBSetString(service.get(), apmpb::CorePlatformServiceEntry::kName, "svc");
    appendElement(consent, apmpb::ConsentConfig::kCorePlatformServices, service,
                  &APMPBCorePlatformServiceEntry::makeShared);
    APMPBSetBool(&consent, apmpb::ConsentConfig::kIsDmaRegion, false);
    APMPBSetMessage(config.get(), apmpb::MeasurementConfig::kConsentConfig, &consent);
    auto control = std::make_shared<APMPBDataControl>();
    APMPBSetString(control.get(), apmpb::DataControl::kName, "redact_ip");
    appendElement(*config, apmpb::MeasurementConfig::kDataControls, control,
                  &APMPBDataControl::makeShared);
    APMPBPsmSetting psm;
    APMPBSetInt32(&psm, apmpb::PsmSetting::kPsmPrefixEmail, 50);
    APMPBSetMessage(config.get(), apmpb::MeasurementConfig::kPsmSetting, &psm);

    auto remote = makeRemoteConfig();
    EXPECT_TRUE(remote->isDMARegion());
    ASSERT_TRUE(remote->updateMeasurementConfig(config.get()));
    using Map = std::map<std::string, std::string>;
    EXPECT_EQ(remote->consentDefaults(),
              (Map{{"ad_storage", "granted"}, {"", "denied"}, {"analytics_storage", ""}}));
    EXPECT_EQ(remote->regionalDefaults(), (Map{{"ad_user_data", "denied"}}));
    EXPECT_EQ(remote->consentDelegations(), (Map{{"ad_personalization", ""}}));
    EXPECT_EQ(remote->corePlatformServices(), (std::set<std::string>{"svc"}));
    EXPECT_FALSE(remote->isDMARegion());
    EXPECT_EQ(remote->dataControls(), (std::vector<std::string>{"redact_ip"}));
    // Taken as they are: 50 is beyond the setting's range of 6 to 20.
    EXPECT_EQ(remote->hashPrefixBitLengthEmail(), 50);
    EXPECT_EQ(remote->hashPrefixBitLengthPhone(), 11);

    // Without consent the maps empty and the region flag stays.
    ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig(kAppID).get()));
    EXPECT_TRUE(remote->consentDefaults().empty());
    EXPECT_TRUE(remote->regionalDefaults().empty());
    EXPECT_TRUE(remote->corePlatformServices().empty());
    EXPECT_TRUE(remote->dataControls().empty());
    EXPECT_FALSE(remote->isDMARegion());
    EXPECT_EQ(remote->hashPrefixBitLengthEmail(), 14);

    remote->reset();
    EXPECT_TRUE(remote->isDMARegion());
    EXPECT_EQ(remote->remoteConfigProto(), nullptr);
    EXPECT_EQ(remote->version(), -1);
}

TEST_F(APMRemoteConfigTest, ExpiresExactlyAtTheCacheTime) {
    TEST_APMSetCurrentTimeInterval(1000000.0);
    auto remote = configWithSettings({{"measurement.config.cache_time", "120000"}});
    const struct {
        double now;
        bool expired;
    } cases[] = {{1000000.0 + 119, false},
                 {1000000.0 + 120, true},
                 {1000000.0 - 120, true},
                 {1000000.0 - 119, false}};
    for (const auto& c : cases) {
        TEST_APMSetCurrentTimeInterval(c.now);
        EXPECT_EQ(remote->isExpired(), c.expired) << c.now - 1000000.0;
    }
    monitor_.clear();
    EXPECT_FALSE(APMRemoteConfig::defaultInstance()->isExpired());
    EXPECT_TRUE(monitor_.saw(29007));
    EXPECT_EQ(APMRemoteConfig::defaultInstance()->lastRemoteConfigUpdateTimestamp(), 0);
    EXPECT_TRUE(monitor_.saw(29008));
}

}  // namespace
