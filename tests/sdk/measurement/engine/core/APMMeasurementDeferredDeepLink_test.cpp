// The deferred deep link: the gates of the request, the request the service receives, what each
// kind of answer does, the hand-over to the application's delegate, and the tagging preview
// header of an upload.
#include <atomic>

#include "platform/app/Application.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/process/ProcessArguments.h"
#include "sdk/measurement/attribution/APMCampaignURL.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/utilities/DOZAruZizorudeZadazudu.h"
#include "tests/sdk/measurement/attribution/SearchAdTestSupport.h"
#include "tests/sdk/measurement/engine/APMDefaultIdentitySupportTestPeer.h"
#include "tests/sdk/measurement/engine/EngineTestSupport.h"
#include "tests/sdk/measurement/engine/core/CampaignTestSupport.h"
#include "tests/sdk/measurement/engine/core/UploadTestSupport.h"

namespace {

using sdktest::PlistScalar;

constexpr const char* kDeviceID = "6D92078A-8246-4BA4-AE5B-76104861E7DC";
constexpr const char* kDeepLinkPath = "/adlink/conversion/app/deeplink";
constexpr const char* kAppSwitches =
    "<key>VOVIDU_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED</key><true/>"
    "<key>VOVIDU_ANALYTICS_STGW_UPLOAD_ENABLED</key><integer>1</integer>";

// An application delegate that implements none of the optional calls, as this app's own.
class PlainDelegate : public platform::ApplicationDelegate {};

// Takes every continued activity, recording its URL and whether it came on the main thread.
class AcceptingInterceptor : public platform::ApplicationDelegate {
  public:
    bool implements(OptionalCall call) const override {
        return call == OptionalCall::kContinueUserActivity;
    }
    bool applicationContinueUserActivity(platform::Application&,
                                         const platform::UserActivity& activity,
                                         const platform::RestorationHandler&) override {
        std::lock_guard lock(mutex);
        urls.push_back(activity.webpageURL.value_or(""));
        onMainThread = platform::isMainThread();
        return true;
    }
    std::mutex mutex;
    std::vector<std::string> urls;  // guarded by mutex
    bool onMainThread = false;      // guarded by mutex
};

class DeferredDeepLinkTest : public sdktest::UploadTest {
  protected:
    std::vector<cb::testsupport::ReceivedRequest> deepLinkRequests() {
        std::vector<cb::testsupport::ReceivedRequest> found;
        for (const auto& request : server_.requests()) {
            if (request.path == kDeepLinkPath) {
                found.push_back(request);
            }
        }
        return found;
    }

    // Answers deep-link requests with `status` and `body`, everything else with 204.
    void answerDeepLinkWith(int status, std::string body) {
        respondWith([status, body](const httplib::Request& request, httplib::Response& response) {
            if (request.path == kDeepLinkPath) {
                response.status = status;
                if (!body.empty()) {
                    response.set_content(body, "application/json");
                }
            } else {
                response.status = 204;
            }
        });
    }

    // Requests the deferred deep link and waits until its answer was handled.
    void request() {
        const std::size_t before = server_.requests().size();
        onWorker([&] { engine_->requestDeferredDeepLink(); });
        waitForAnswers(before + 1);
        drain(*engine_);
    }

    // Starts the engine with identifiers read afresh at every use, once the support's device
    // ID has reached the identity.
    void startWithIdentity() {
        startConnected();
        storeConfig(kFreshIdentifiers);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (engine_->identity()->resettableDeviceID() != kDeviceID &&
               std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(engine_->identity()->resettableDeviceID(), kDeviceID);
    }

    static inline const std::vector<std::pair<std::string, std::string>> kFreshIdentifiers = {
        {"measurement.ad_id_cache_time", "0"}};

    bool allowed() {
        bool allowed = false;
        onWorker([&] { allowed = engine_->shouldAllowRequestDeferredDeepLink(); });
        return allowed;
    }

    sdktest::FixtureMainBundle appBundle_{home() / "app", kAppSwitches};
    sdktest::ScopedIdentitySupport support_{
        std::make_shared<sdktest::TrackingSupport>(kDeviceID, 3)};
};

TEST_F(DeferredDeepLinkTest, GatesRefuseInOrder) {
    startWithIdentity();
    const auto reset = [&] {
        storeConfig(kFreshIdentifiers);
        platform::Bundle::TEST_setMainBundle(appBundle_.path());
        persisted().setDeferredDeepLinkRetrievalComplete(std::nullopt);
        persisted().setDeferredDeepLinkRetryCount(0);
        APMConsentSettingsUtil::clearAllSettings();
        APMDefaultIdentitySupportTestPeer::setPlatformSupport(
            APMDefaultIdentitySupport::sharedInstance(),
            std::make_shared<sdktest::TrackingSupport>(kDeviceID, 3));
    };
    struct Case {
        const char* what;
        std::function<void()> setUp;
        bool allowed;
        std::int64_t code;  // 0: none of the gate codes
    };
    const std::vector<Case> cases = {
        {"allowed", [] {}, true, 23197},
        {"configuration off",
         [&] {
             storeConfig({{"measurement.ddl.enabled", "0"}, kFreshIdentifiers[0]});
         },
         false, 23193},
        {"no Info.plist switch", [&] { platform::Bundle::TEST_setMainBundle(bundle_.path()); },
         false, 0},
        {"already retrieved",
         [&] { persisted().setDeferredDeepLinkRetrievalComplete(sdk::Value(std::int64_t{0})); },
         false, 23194},
        {"retry limit", [&] { persisted().setDeferredDeepLinkRetryCount(5); }, false, 23195},
        {"ad storage denied",
         [] {
             APMConsentSettingsUtil::setConsentSettings(
                 APMConsentSettings{{"ad_storage", "denied"}});
         },
         false, 23252},
        // An identity that cannot tell counts as limited.
        {"limited ad tracking",
         [] {
             APMDefaultIdentitySupportTestPeer::setPlatformSupport(
                 APMDefaultIdentitySupport::sharedInstance(), nullptr);
         },
         false, 23196},
    };
    constexpr std::int64_t kGateCodes[] = {23193, 23194, 23195, 23196, 23197, 23252};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        c.setUp();
        monitor_.clear();
        EXPECT_EQ(allowed(), c.allowed);
        for (const std::int64_t code : kGateCodes) {
            EXPECT_EQ(monitor_.saw(code), code == c.code) << code;
        }
    }
    // The retry limit gave up for good.
    reset();
    persisted().setDeferredDeepLinkRetryCount(5);
    EXPECT_FALSE(allowed());
    EXPECT_EQ(
        sdktest::persistedValue(persisted(), "/vovidu/measurement/deep_link_retrieval_complete"),
        PlistScalar(std::int64_t{1}));
}

TEST_F(DeferredDeepLinkTest, RequestCarriesIdentityConsentAndTheTestSwitch) {
    startWithIdentity();
    answerDeepLinkWith(204, "");
    APMConsentSettingsUtil::setConsentSettings(
        APMConsentSettings{{"ad_storage", "granted"},
                           {"analytics_storage", "denied"},
                           {"ad_user_data", "denied"},
                           {"ad_personalization", "denied"}});
    persisted().setDeferredDeepLinkRetryCount(2);
    const std::string expected = std::string(kDeepLinkPath) +
                                 "?sdk_version=111500&rdid=" + kDeviceID +
                                 "&id_type=idfa&bundleid=com.example.fixture&retry=2";
    request();
    ASSERT_EQ(deepLinkRequests().size(), 1u);
    EXPECT_EQ(deepLinkRequests()[0].method, "GET");
    EXPECT_EQ(deepLinkRequests()[0].target, expected + "&gcs=G110&dma=1&dma_cps=-&npa=1");

    platform::TEST_setProcessArguments(
        std::vector<std::string>{"cellarbright", "-DebugDeferredDeepLink"});
    APMConsentSettingsUtil::setConsentSettings(
        APMConsentSettings{{"ad_storage", "granted"},
                           {"analytics_storage", "granted"},
                           {"ad_user_data", "granted"},
                           {"ad_personalization", "granted"}});
    request();
    platform::TEST_setProcessArguments(std::nullopt);
    ASSERT_EQ(deepLinkRequests().size(), 2u);
    EXPECT_EQ(deepLinkRequests()[1].target, expected + "&ddl_test=1&gcs=G111&dma=1&npa=0");
}

TEST_F(DeferredDeepLinkTest, ExpiredConfigurationAtStartWaitsForTheNextFetch) {
    answerDeepLinkWith(204, "");
    startConnected();
    EXPECT_TRUE(engine_->shouldRequestDeferredDeepLinkAfterConfigFetch());
    EXPECT_TRUE(deepLinkRequests().empty());

    onWorker([&] { engine_->fetchRemoteConfig(); });
    waitUntil(
        [&] { return deepLinkRequests().size() == 1 && !engine_->isNetworkRequestPending(); });
    EXPECT_FALSE(engine_->shouldRequestDeferredDeepLinkAfterConfigFetch());
    EXPECT_EQ(server_.requests()[0].path.rfind("/config/app/", 0), 0u);
}

TEST_F(DeferredDeepLinkTest, FailuresAndEmptyOrBadRepliesAreCounted) {
    startConnected();
    answerDeepLinkWith(500, "");
    request();
    EXPECT_TRUE(monitor_.saw(23199));
    EXPECT_EQ(sdktest::persistedValue(persisted(), "/vovidu/measurement/deep_link_retry_count"),
              PlistScalar(std::int64_t{1}));
    EXPECT_EQ(persisted().deferredDeepLinkRetrievalComplete(), std::nullopt);

    answerDeepLinkWith(200, "");
    request();
    EXPECT_TRUE(monitor_.saw(23201));
    EXPECT_EQ(
        sdktest::persistedValue(persisted(), "/vovidu/measurement/deep_link_retrieval_complete"),
        PlistScalar(std::int64_t{0}));

    answerDeepLinkWith(200, "{\"deeplink\": ");
    request();
    EXPECT_TRUE(monitor_.saw(23202));
    EXPECT_TRUE(rawEventNames().empty());
}

TEST_F(DeferredDeepLinkTest, TheDelegateTakesTheLinkAndTheCampaignFollows) {
    platform::Application::shared().setDelegate(std::make_shared<PlainDelegate>());
    DOZAruZizorudeZadazudu::proxyOriginalDelegate();
    startConnected();
    answerDeepLinkWith(200, R"({"deeplink": "https://shop.example.com/item?utm_source=ddl",
                                "vclid": "click-1", "timestamp": 17})");

    // The app's own delegate takes no deep links.
    request();
    EXPECT_TRUE(monitor_.saw(23200));
    waitUntil([&] { return monitor_.saw(23204); });
    drain(*engine_);
    EXPECT_TRUE(rawEventNames().empty());

    auto interceptor = std::make_shared<AcceptingInterceptor>();
    ASSERT_TRUE(DOZAruZizorudeZadazudu::registerAppDelegateInterceptor(interceptor));
    request();
    waitUntil([&] {  // on the worker queue
        sdk::Error error;
        const auto stored = engine_->database()->allRawEventsWithError(&error);
        return stored && !stored->empty();
    });
    {
        std::lock_guard lock(interceptor->mutex);
        EXPECT_EQ(interceptor->urls,
                  (std::vector<std::string>{"https://shop.example.com/item?utm_source=ddl"}));
        EXPECT_TRUE(interceptor->onMainThread);
    }
    const std::vector<APMRawEventData> events = rawEvents();
    ASSERT_EQ(events.size(), 1u);
    const APMEvent& event = events[0].rawEvent();
    EXPECT_EQ(event.name(), "_cmp");
    const APMParameters& parameters = event.parameters();
    EXPECT_EQ(parameters.at("_cis"), APMValue("ddp"));
    EXPECT_EQ(parameters.at("vclid"), APMValue("click-1"));
    EXPECT_EQ(parameters.at("source"), APMValue("ddl"));
    // The reply had no "vbraid": nothing stands in for it.
    EXPECT_EQ(parameters.count("vbraid"), 0u);
}

TEST(DeferredDeepLinkReply, OnlyAnObjectWithAValidLinkCounts) {
    const auto reply = [](const std::string& text) {
        return APMMeasurement::deepLinkInfoFromResponseData(sdk::Bytes(text.begin(), text.end()));
    };
    EXPECT_TRUE(reply(R"({"deeplink": "app://open/x"})"));
    EXPECT_FALSE(reply(R"({"deeplink": "not a link"})"));
    EXPECT_FALSE(reply(R"({"deeplink": 3})"));
    EXPECT_FALSE(reply(R"(["app://open/x"])"));
    EXPECT_FALSE(reply(std::string(70 * 1024, ' ') + "{}"));
}

TEST_F(DeferredDeepLinkTest, UploadToTheTaggingServerCarriesThePreviewHeader) {
    startConnected();
    onWorker([&] {
        APMPBMeasurementConfig config;
        APMPBSetString(&config, apmpb::MeasurementConfig::kAppId, kAppID);
        APMPBStgwSetting setting;
        APMPBSetString(&setting, apmpb::StgwSetting::kUploadUrl, server_.address("/stgw"));
        APMPBSetInt32(&setting, apmpb::StgwSetting::kRolloutPercentage, 0);
        APMPBSetMessage(&config, apmpb::MeasurementConfig::kStgwSetting, &setting);
        ASSERT_TRUE(engine_->remoteConfigInstance()->updateMeasurementConfig(&config));
    });
    APMMeasurement::handleSTGWDebugModeWithURL("app://x?stgw_debug_enable=1&stgw_preview_key=k");
    onWorker([&] { EXPECT_TRUE(engine_->remoteConfigInstance()->STGWUploadEnabled()); });
    queue({bundle()});
    const std::size_t before = server_.requests().size();
    onWorker([&] { engine_->uploadData(); });
    waitForAnswers(before + 1);
    const cb::testsupport::ReceivedRequest upload = server_.requests().back();
    EXPECT_EQ(upload.path, "/stgw");
    EXPECT_EQ(headerOf(upload, "X-Tgw-Server-Preview"), "k");
}

}  // namespace
