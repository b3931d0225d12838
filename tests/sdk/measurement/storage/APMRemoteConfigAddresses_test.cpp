// The fetch and upload addresses and the server-side tagging upload.
#include "platform/bundle/Bundle.h"
#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"
#include "sdk/measurement/engine/APMLibraryVersion.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/engine/APMDefaultIdentitySupportTestPeer.h"
#include "tests/sdk/measurement/storage/APMRemoteConfigTestPeer.h"
#include "tests/sdk/measurement/storage/RemoteConfigTestSupport.h"

namespace {

using sdktest::kAppID;
using sdktest::makeConfig;

class FixedConsentStatus : public APMIdentitySupport {
  public:
    explicit FixedConsentStatus(std::int64_t status) : status_(status) {}
    bool hasAppDataConsentStatus() override { return true; }
    std::int64_t appDataConsentStatus() override { return status_; }

  private:
    std::int64_t status_;
};

// FNV-1a 64 of the ID modulo 100, written out here independently of the code under test.
std::int32_t rolloutBucket(const std::string& id) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : id) {
        hash = (hash ^ c) * 0x100000001b3ULL;
    }
    return static_cast<std::int32_t>(hash % 100);
}

struct Stgw {
    std::optional<std::string> uploadURL;
    std::optional<std::string> serverInfo;
    std::optional<std::string> attUploadURL;
    std::optional<std::int32_t> rollout;
};

std::unique_ptr<APMPBMeasurementConfig> configWithStgw(
    const std::optional<Stgw>& stgw, const std::string& subdomain = "",
    const std::vector<std::pair<std::string, std::string>>& settings = {}) {
    auto config = makeConfig(kAppID, settings);
    if (!subdomain.empty()) {
        APMPBSetString(config.get(), apmpb::MeasurementConfig::kUploadSubdomain, subdomain);
    }
    if (stgw) {
        APMPBStgwSetting setting;
        APMPBSetString(&setting, apmpb::StgwSetting::kUploadUrl, stgw->uploadURL);
        APMPBSetString(&setting, apmpb::StgwSetting::kServerInfo, stgw->serverInfo);
        APMPBSetString(&setting, apmpb::StgwSetting::kAttUploadUrl, stgw->attUploadURL);
        if (stgw->rollout) {
            APMPBSetInt32(&setting, apmpb::StgwSetting::kRolloutPercentage,
                          static_cast<std::uint32_t>(*stgw->rollout));
        }
        APMPBSetMessage(config.get(), apmpb::MeasurementConfig::kStgwSetting, &setting);
    }
    return config;
}

class APMRemoteConfigAddressesTest : public sdktest::RemoteConfigTest {
  protected:
    void TearDown() override {
        APMDefaultIdentitySupportTestPeer::setPlatformSupport(
            APMDefaultIdentitySupport::sharedInstance(), nullptr);
        APMRemoteConfigTestPeer::setServiceOrigin(std::nullopt);
        APMRemoteConfig::setSTGWPreviewHeaders(std::nullopt);
        platform::Bundle::TEST_setMainBundle(std::nullopt);
        RemoteConfigTest::TearDown();
    }

    void setConsentStatus(std::int64_t status) {
        APMDefaultIdentitySupportTestPeer::setPlatformSupport(
            APMDefaultIdentitySupport::sharedInstance(),
            std::make_shared<FixedConsentStatus>(status));
    }

    // A main bundle whose Info.plist holds `entry` (a plist key and value, XML) when given.
    void useMainBundle(const std::string& entry) {
        const std::filesystem::path app = dir_ / "Fixture.app";
        sdktest::writeFile(app / "Contents/Info.plist",
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<plist version=\"1.0\"><dict>"
                           "<key>CFBundleIdentifier</key><string>com.example.fixture</string>" +
                               entry + "</dict></plist>\n");
        platform::Bundle::TEST_setMainBundle(app);
    }

    std::string uploadURLFor(const std::string& subdomain) {
        auto remote = makeRemoteConfig();
        EXPECT_TRUE(remote->updateMeasurementConfig(configWithStgw(std::nullopt, subdomain).get()));
        return remote->uploadURL();
    }
};

TEST_F(APMRemoteConfigAddressesTest, FetchAddress) {
    auto remote = makeRemoteConfig();
    EXPECT_EQ(remote->remoteConfigURLWithPlatform("macos", APMLibraryVersion(), 0),
              "https://measurement.vovidu.invalid/config/app/1:1:ios:ab?platform=macos&"
              "runtime_version=0&vud_version=111500");

    auto odd = APMRemoteConfig::initWithAppID("1:1:ios:a b?#%", database_, config_, nullptr);
    EXPECT_EQ(odd->remoteConfigURLWithPlatform("mac os?", 5, -1),
              "https://measurement.vovidu.invalid/config/app/1:1:ios:a%20b%3F%23%25?"
              "platform=mac%20os?&runtime_version=-1&vud_version=5");

    EXPECT_EQ(APMRemoteConfig::defaultInstance()->remoteConfigURLWithPlatform("macos", 1, 0),
              std::nullopt);
    EXPECT_TRUE(monitor_.saw(29021));
    EXPECT_EQ(remote->remoteConfigURLWithPlatform("", 1, 0), std::nullopt);
    EXPECT_TRUE(monitor_.saw(29010));

    APMRemoteConfigTestPeer::setServiceOrigin("http://127.0.0.1:8080");
    EXPECT_EQ(remote->remoteConfigURLWithPlatform("macos", 1, 0),
              "http://127.0.0.1:8080/config/app/1:1:ios:ab?platform=macos&runtime_version=0&"
              "vud_version=1");
    EXPECT_EQ(remote->uploadURL(), "http://127.0.0.1:8080/a");
}

TEST_F(APMRemoteConfigAddressesTest, UploadAddressAndSubdomains) {
    const struct {
        const char* subdomain;
        const char* plain;
        const char* alternative;
    } cases[] = {
        {"", "https://measurement.vovidu.invalid/a", "https://measurement-alt.vovidu.invalid/a"},
        {"eu", "https://eu.measurement.vovidu.invalid/a",
         "https://eu.measurement-alt.vovidu.invalid/a"},
        {"eu-west.r2", "https://eu-west.r2.measurement.vovidu.invalid/a",
         "https://eu-west.r2.measurement-alt.vovidu.invalid/a"},
        // Anything that could move the upload elsewhere is ignored.
        {"a/b", "https://measurement.vovidu.invalid/a", "https://measurement-alt.vovidu.invalid/a"},
        {"evil.example#", "https://measurement.vovidu.invalid/a",
         "https://measurement-alt.vovidu.invalid/a"},
        {"user@evil", "https://measurement.vovidu.invalid/a",
         "https://measurement-alt.vovidu.invalid/a"},
        {"evil:1", "https://measurement.vovidu.invalid/a",
         "https://measurement-alt.vovidu.invalid/a"},
        {"a..b", "https://measurement.vovidu.invalid/a",
         "https://measurement-alt.vovidu.invalid/a"},
    };
    // Linux has no identity support: the status is -1 until one is installed.
    EXPECT_EQ(APMDefaultIdentitySupport::sharedInstance().appDataConsentStatus(), -1);
    for (const auto& c : cases) {
        EXPECT_EQ(uploadURLFor(c.subdomain), c.plain) << c.subdomain;
    }
    setConsentStatus(3);
    for (const auto& c : cases) {
        EXPECT_EQ(uploadURLFor(c.subdomain), c.alternative) << c.subdomain;
    }
    setConsentStatus(2);
    EXPECT_EQ(uploadURLFor("eu"), "https://eu.measurement.vovidu.invalid/a");
}

TEST_F(APMRemoteConfigAddressesTest, TaggingNeedsEveryCondition) {
    const std::string kOn = "<key>VOVIDU_ANALYTICS_STGW_UPLOAD_ENABLED</key><true/>";
    const Stgw full{"https://tag.example/upload", std::nullopt, std::nullopt, 0};
    APMRemoteConfig::setSTGWPreviewHeaders(std::map<std::string, std::string>{{"x", "y"}});
    auto remote = makeRemoteConfig();
    auto enabled = [&](const std::string& plistEntry, const std::optional<Stgw>& stgw,
                       const std::string& setting) {
        useMainBundle(plistEntry);
        std::vector<std::pair<std::string, std::string>> settings;
        if (!setting.empty()) {
            settings.emplace_back("measurement.stgw_upload_enabled", setting);
        }
        EXPECT_TRUE(remote->updateMeasurementConfig(configWithStgw(stgw, "", settings).get()));
        return remote->STGWUploadEnabled();
    };
    EXPECT_TRUE(enabled(kOn, full, ""));
    EXPECT_TRUE(
        enabled("<key>VOVIDU_ANALYTICS_STGW_UPLOAD_ENABLED</key><integer>1</integer>", full, "1"));
    EXPECT_FALSE(enabled(kOn, full, "0"));
    EXPECT_FALSE(enabled("", full, ""));
    EXPECT_FALSE(enabled("<key>VOVIDU_ANALYTICS_STGW_UPLOAD_ENABLED</key><false/>", full, ""));
    EXPECT_FALSE(
        enabled("<key>VOVIDU_ANALYTICS_STGW_UPLOAD_ENABLED</key><string>YES</string>", full, ""));
    EXPECT_FALSE(enabled(kOn, std::nullopt, ""));
    EXPECT_FALSE(enabled(kOn, Stgw{"", std::nullopt, std::nullopt, 100}, ""));

    // Without preview headers the rollout decides.
    APMRemoteConfig::setSTGWPreviewHeaders(std::nullopt);
    EXPECT_FALSE(enabled(kOn, full, ""));
    const std::string id = "2F6A5E2C0B1D4E7F8A9B0C1D2E3F4A5B";
    const std::int32_t bucket = rolloutBucket(id);
    config_->setAppInstanceID(id);
    EXPECT_FALSE(enabled(kOn, Stgw{"https://tag.example/upload", {}, {}, bucket}, ""));
    EXPECT_TRUE(enabled(kOn, Stgw{"https://tag.example/upload", {}, {}, bucket + 1}, ""));
    config_->setAppInstanceID(std::nullopt);
    EXPECT_FALSE(enabled(kOn, Stgw{"https://tag.example/upload", {}, {}, 99}, ""));
    EXPECT_TRUE(enabled(kOn, Stgw{"https://tag.example/upload", {}, {}, 100}, ""));
}

TEST_F(APMRemoteConfigAddressesTest, TaggingAddressAndHeader) {
    auto remote = makeRemoteConfig();
    auto with = [&](const std::optional<Stgw>& stgw) {
        EXPECT_TRUE(remote->updateMeasurementConfig(configWithStgw(stgw).get()));
    };
    with(std::nullopt);
    EXPECT_EQ(remote->STGWUploadURL(), std::nullopt);
    EXPECT_EQ(remote->STGWUploadHTTPHeaders(), std::nullopt);

    with(Stgw{"https://tag.example/u", "", "https://att.example/u", 10});
    EXPECT_EQ(remote->STGWUploadURL(), "https://tag.example/u");
    EXPECT_EQ(remote->STGWUploadHTTPHeaders(), std::nullopt);
    setConsentStatus(3);
    EXPECT_EQ(remote->STGWUploadURL(), "https://att.example/u");

    with(Stgw{"https://tag.example/u", "srv-1", "not a url", 10});
    EXPECT_EQ(remote->STGWUploadURL(), "https://tag.example/u");
    with(Stgw{"https://tag.example/u", "srv-1", "/relative/path", 10});
    EXPECT_EQ(remote->STGWUploadURL(), "https://tag.example/u");
    EXPECT_EQ(remote->STGWUploadHTTPHeaders(),
              (std::map<std::string, std::string>{{"x-stgw-server-info", "srv-1"}}));
}

}  // namespace
