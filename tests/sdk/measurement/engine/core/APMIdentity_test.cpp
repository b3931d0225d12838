// The identity: the app instance ID on disk and across processes, consent gating, the
// advertising identifier's hash and reset, the session stitching token, the app's own identity
// from the main bundle, and the shared identifiers front.
#include "sdk/measurement/engine/core/APMIdentity.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "platform/bundle/Bundle.h"
#include "platform/preferences/PlistCodec.h"
#include "platform/process/ProcessRunner.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"
#include "sdk/measurement/engine/APMDigest.h"
#include "sdk/measurement/engine/core/APMIdentifiers.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/APMDefaultIdentitySupportTestPeer.h"
#include "tests/sdk/measurement/engine/core/IdentityTestSupport.h"

namespace {

class APMIdentityTest : public sdktest::IdentityTest {};

namespace fs = std::filesystem;
using sdktest::denyStorage;
using sdktest::isUpperHex32;

// The data home the child opens the suite in (its own start-up isolates it elsewhere).
constexpr const char* kChildDataHomeVariable = "CB_IDENTITY_CHILD_DATA_HOME";
constexpr const char* kChildMarker = "APP_INSTANCE_ID=";

// Run by AppInstanceIDIsStoredOnDiskAndSharedWithASecondProcess in a child process: prints the
// app instance ID of an identity on the test suite in the data home named in the environment.
TEST(APMIdentityChild, PrintAppInstanceID) {
    const char* dataHome = std::getenv(kChildDataHomeVariable);
    if (dataHome == nullptr) {
        GTEST_SKIP() << "runs only as the child of another test";
    }
    sdktest::ScopedEnv home("XDG_DATA_HOME", dataHome);
    auto identity = APMIdentity::initWithPersistedConfig(
        APMPersistedConfig::initWithSuiteName("com.example.measurement"));
    ASSERT_TRUE(identity);
    std::printf("%s%s\n", kChildMarker, identity->appInstanceID().value_or("").c_str());
}

TEST_F(APMIdentityTest, AppInstanceIDIsStoredOnDiskAndSharedWithASecondProcess) {
    auto identity = makeIdentity();
    const std::optional<std::string> id = identity->appInstanceID();
    ASSERT_TRUE(id);
    EXPECT_TRUE(isUpperHex32(*id)) << *id;
    identity->updateIdentifiersAndWait();
    config_->userDefaults()->persistToDisk();  // what the scheduled write does a second later

    const std::optional<platform::PlistValue> onDisk =
        platform::decodePlist(sdktest::readFile(plist()));
    ASSERT_TRUE(onDisk);
    const auto* dictionary = onDisk->getIf<platform::PlistDictionary>();
    ASSERT_NE(dictionary, nullptr);
    const auto stored = dictionary->find("/vovidu/measurement/app_instance_id");
    ASSERT_NE(stored, dictionary->end());
    EXPECT_EQ(stored->second, platform::PlistValue(*id));

    sdktest::ScopedEnv child(kChildDataHomeVariable, (dir_ / "data").string());
    const platform::ProcessResult result = platform::ProcessRunner::shared().run(
        fs::read_symlink("/proc/self/exe").string(),
        {"--gtest_filter=APMIdentityChild.PrintAppInstanceID"});
    ASSERT_TRUE(result.launched) << result.launchError;
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find(kChildMarker + *id), std::string::npos) << result.output;
}

TEST_F(APMIdentityTest, DeniedAnalyticsStorageKeepsNoAppInstanceIDOrToken) {
    denyStorage(false, true);
    auto identity = makeIdentity();
    EXPECT_EQ(identity->appInstanceID(), std::nullopt);
    identity->updateIdentifiersAndWait();
    EXPECT_EQ(config_->appInstanceID(), std::nullopt);
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(1, false, false), std::nullopt);
}

TEST_F(APMIdentityTest, AdvertisingIdentifierIsHashedAndAResetRenewsTheAppInstance) {
    auto identity = makeIdentity();
    const std::string first = identity->appInstanceID().value();

    // The zero identifier is never hashed.
    installSupport(std::string(APMDefaultIdentitySupport::kZeroIdentifier));
    EXPECT_EQ(identity->hashedResettableDeviceID(), std::nullopt);
    EXPECT_TRUE(identity->limitedAdTracking());

    // The first real identifier is hashed without touching the app instance.
    installSupport("11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(identity->hashedResettableDeviceID(),
              apm_MD5String("11111111-2222-3333-4444-555555555555"));
    EXPECT_EQ(identity->appInstanceID(), first);
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());
    EXPECT_EQ(identity->appleConsentStatus(), 3);

    // A different one later: a new app instance and the reset flag.
    installSupport("99999999-2222-3333-4444-555555555555");
    EXPECT_EQ(identity->hashedResettableDeviceID(),
              apm_MD5String("99999999-2222-3333-4444-555555555555"));
    const std::optional<std::string> renewed = identity->appInstanceID();
    ASSERT_TRUE(renewed);
    EXPECT_NE(*renewed, first);
    EXPECT_TRUE(isUpperHex32(*renewed));
    EXPECT_TRUE(identity->shouldSetLastAdvertisingIDResetUserProperty());
}

TEST_F(APMIdentityTest, GateAndConsentKeepTheIdentifierUnread) {
    // With the gate on, a denied authorisation reads no identifier.
    auto gated = makeIdentity(/*gate=*/true);
    installSupport("11111111-2222-3333-4444-555555555555", 2);
    gated->updateIdentifiersAndWait();
    EXPECT_EQ(gated->resettableDeviceID(), std::nullopt);
    EXPECT_EQ(gated->appleConsentStatus(), 2);
    EXPECT_EQ(config_->hashedResettableDeviceID(), std::nullopt);

    // Denied ad storage: no hash is read back or stored.
    denyStorage(true, false);
    auto denied = makeIdentity();
    installSupport("11111111-2222-3333-4444-555555555555", 3);
    denied->updateIdentifiersAndWait();
    EXPECT_EQ(denied->hashedResettableDeviceID(), std::nullopt);
    EXPECT_EQ(config_->hashedResettableDeviceID(), std::nullopt);
}

TEST_F(APMIdentityTest, AppleConsentStatusFollowsTheAuthorisation) {
    struct Case {
        std::optional<std::int64_t> authorization;
        std::int64_t expected;
    };
    const Case cases[] = {{0, 4}, {1, 1}, {2, 2}, {3, 3}, {std::nullopt, 5}, {7, 5}};
    auto identity = makeIdentity();
    for (const Case& c : cases) {
        installSupport("11111111-2222-3333-4444-555555555555", c.authorization);
        EXPECT_EQ(identity->appleConsentStatus(), c.expected) << c.authorization.value_or(-1);
    }
    // No support at all: status 6 and no hash.
    APMDefaultIdentitySupportTestPeer::setPlatformSupport(
        APMDefaultIdentitySupport::sharedInstance(), nullptr);
    auto fresh = APMIdentity::initWithPersistedConfig(
        APMPersistedConfig::initWithSuiteName("com.example.other"),
        configWithSettings({{"measurement.ad_id_cache_time", "0"}}));
    EXPECT_EQ(fresh->appleConsentStatus(), 6);
    EXPECT_FALSE(fresh->hasLimitedAdTracking());
    EXPECT_EQ(fresh->hashedResettableDeviceID(), std::nullopt);
}

TEST_F(APMIdentityTest, SessionStitchingTokenSurvivesOnlyTheSessionAfterAnExpiredOne) {
    auto identity = makeIdentity();
    const auto first = identity->sessionStitchingTokenWithSessionNumber(5, true, false);
    ASSERT_TRUE(first);
    EXPECT_TRUE(isUpperHex32(*first));
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(5, true, false), first);
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(6, false, false), first);

    auto other = makeIdentity();
    const auto before = other->sessionStitchingTokenWithSessionNumber(5, true, false);
    const auto after = other->sessionStitchingTokenWithSessionNumber(7, false, false);
    ASSERT_TRUE(after);
    EXPECT_NE(after, before);

    other->resetSessionStitchingToken();
    EXPECT_NE(other->sessionStitchingTokenWithSessionNumber(7, false, true), after);
}

TEST_F(APMIdentityTest, AppIdentityComesFromTheMainBundle) {
    const fs::path bundle = dir_ / "Fixture.app";
    fs::create_directories(bundle / "Contents" / "Resources");
    platform::PlistDictionary info{{"CFBundleIdentifier", std::string("com.example.fixture")},
                                   {"CFBundleShortVersionString", std::string("2.10")},
                                   {"CFBundleVersion", std::string("2.10.3.9")},
                                   {"VOVIDU_ANALYTICS_IDFV_COLLECTION_ENABLED", false}};
    std::ofstream(bundle / "Contents" / "Info.plist") << platform::encodeXmlPlist(info);
    std::ofstream(bundle / "Contents" / "Resources" / "VoviduService-Info.plist")
        << platform::encodeXmlPlist(
               platform::PlistDictionary{{"VOVIDU_APP_ID", std::string("1:123:ios:abc")}});
    platform::Bundle::TEST_setMainBundle(bundle);

    sdktest::MonitorRecorder recorder;
    auto identity = makeIdentity();
    EXPECT_EQ(identity->appID(), "com.example.fixture");
    EXPECT_EQ(identity->appVersion(), "2.10");
    EXPECT_EQ(identity->appVersionMajor(), 2);
    EXPECT_EQ(identity->appVersionMinor(), 10);
    EXPECT_EQ(identity->appVersionRelease(), 3);
    EXPECT_EQ(identity->idfvCollectionEnabled(), false);
    EXPECT_TRUE(recorder.saw(20009));
    EXPECT_EQ(identity->appIDFromVUD(), "1:123:ios:abc");

    // The first set wins over the file and over later sets; an empty one is refused.
    identity->setAppIDFromVUD("");
    EXPECT_TRUE(recorder.saw(20005));
    identity->setAppIDFromVUD("1:1:ios:first");
    identity->setAppIDFromVUD("1:1:ios:second");
    EXPECT_EQ(identity->appIDFromVUD(), "1:1:ios:first");
}

TEST_F(APMIdentityTest, VersionFieldsKeepOnlyDigits) {
    sdktest::MonitorRecorder recorder;
    EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("2.10.3.9"),
              (std::vector<std::int64_t>{2, 10, 3, 9}));
    EXPECT_FALSE(recorder.saw(20002));
    EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("1.2b3"),
              (std::vector<std::int64_t>{1, 23}));
    EXPECT_TRUE(recorder.saw(20002));
    EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("..4."),
              (std::vector<std::int64_t>{4}));
}

TEST_F(APMIdentityTest, DiversionKeyAndEphemeralID) {
    auto identity = makeIdentity();
    const std::string key = identity->diversionKey();
    EXPECT_EQ(key.size(), 5U);
    EXPECT_EQ(config_->diversionKey(), key);
    EXPECT_EQ(makeIdentity()->diversionKey(), key);
    config_->setDiversionKey("TOOLONG");
    EXPECT_NE(identity->diversionKey(), "TOOLONG");
    EXPECT_EQ(config_->diversionKey()->size(), 5U);

    const std::string ephemeral = identity->ephemeralAppInstanceID();
    EXPECT_EQ(identity->ephemeralAppInstanceID(), ephemeral);
    identity->resetEphemeralAppInstanceID();
    EXPECT_NE(identity->ephemeralAppInstanceID(), ephemeral);
    EXPECT_NE(config_->appInstanceID(), ephemeral);
}

// The shared identity behind the front lives for the whole process, so this runs in the
// process's own isolated folder rather than a test's temporary one.
TEST(APMIdentifiersTest, IdentifiersFront) {
    sdktest::MonitorRecorder recorder;
    APMIdentifiers& identifiers = APMIdentifiers::sharedInstance();
    const std::int64_t first = std::stoll(identifiers.adEventID());
    EXPECT_EQ(std::stoll(identifiers.adEventID()), first + 1);
    EXPECT_EQ(APMIdentifiers::libraryVersion(), "111500");

    identifiers.setOrigin("");
    EXPECT_TRUE(recorder.saw(37004));
    EXPECT_EQ(identifiers.origin(), std::nullopt);
    identifiers.setOrigin("app");
    EXPECT_EQ(identifiers.origin(), "app");

    // Outside a bundle there is no service file, so no measurement app ID.
    EXPECT_EQ(identifiers.voviduAppID(), "");
    EXPECT_TRUE(recorder.saw(37001));
    EXPECT_EQ(identifiers.analyticsAppID(), "");
    EXPECT_TRUE(recorder.saw(37005));
    EXPECT_TRUE(isUpperHex32(identifiers.appInstanceID()));
    denyStorage(false, true);
    EXPECT_EQ(identifiers.appInstanceID(), "");
    EXPECT_TRUE(recorder.saw(37003));
    APMConsentSettingsUtil::clearAllSettings();
}

}  // namespace
