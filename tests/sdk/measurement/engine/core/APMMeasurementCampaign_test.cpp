// Campaign links: the campaign event of an opened link, its persisted click data and
// "_vbraid", the entries that reach it (facade, user activities, the launch options), and the
// server-side tagging preview switch with the upload header it gives.
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/attribution/APMCampaignURL.h"
#include "sdk/measurement/engine/APMDeepLink.h"
#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/utilities/VDUNotificationCenter.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/CampaignTestSupport.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"

namespace {

using sdktest::EngineTest;

constexpr const char* kDeviceID = "6D92078A-8246-4BA4-AE5B-76104861E7DC";

class CampaignTest : public EngineTest {
  protected:
    static std::shared_ptr<APMPersistedConfig> persisted() {
        return APMPersistedConfig::sharedInstance();
    }

    void openURL(const std::string& url, double eventTime,
                 const sdk::Value::Dictionary& extras = {},
                 std::optional<std::int64_t> click = std::nullopt) {
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(
            *engine_, [&] { engine_->handleOpenURLOnWorkerQueue(url, click, eventTime, extras); });
    }

    // The decoded AdCampaignInfo kept for the bundles, as protoc reads it from the plist.
    std::string campaignInfo() {
        const std::optional<std::string> bytes =
            sdktest::persistedData(*persisted(), "/vovidu/measurement/ad_campaign_info_buffer");
        return bytes ? protocDecode(*bytes, "apmpb.AdCampaignInfo") : "(none)";
    }

    static std::optional<APMValue> parameter(const APMEvent& event, const std::string& name) {
        const auto found = event.parameters().find(name);
        return found == event.parameters().end() ? std::nullopt : std::optional(found->second);
    }

    // An authorised device with an advertising ID: click identifiers are kept.
    sdktest::ScopedIdentitySupport support_{
        std::make_shared<sdktest::TrackingSupport>(kDeviceID, 3)};
};

// One link after another, each against the events and click data stored before it.
TEST_F(CampaignTest, LinksBecomeCampaignEventsWithTheirClickData) {
    ASSERT_TRUE(startEngine(kAppID));
    // The facade's log-event listeners hear of every campaign event.
    std::mutex mutex;
    std::vector<std::string> heard;
    APMAnalytics::unsuspendOperationQueue();
    ASSERT_TRUE(APMAnalytics::addLogEventListener([&](const APMEvent& event) {
        std::lock_guard lock(mutex);
        heard.push_back(event.name());
    }));
    persisted()->setFirstOpenTimestampMilliseconds(1'000'000);

    struct Case {
        std::string query;
        sdk::Value::Dictionary extras;
        std::string name;  // empty: no event
        std::vector<std::pair<std::string, APMValue>> present;
        std::vector<std::string> absent;
        std::int64_t code;  // a monitor code the case logs; 0 for none asked
    };
    const std::vector<Case> cases = {
        {"utm_source=a&foo=1&cad_x=2",
         {},
         "_cmp",
         {{"source", APMValue("a")}, {"cad_x", APMValue("2")}},
         {"foo", "utm_source"},
         0},
        {"foo=1", {}, "", {}, {}, 23001},
        {"", {}, "", {}, {}, 23000},
        {"utm_source=1&utm_source=2", {}, "_cmp", {{"source", APMValue("1")}}, {}, 0},
        {"utm_medium=m&cis=x&utm_term=",
         {},
         "_cmp",
         {{"medium", APMValue("m")}, {"_cis", APMValue("x")}},
         {"term"},
         0},
        {"vclid=c&xclid=x",
         {},
         "_cmp",
         {{"vclid", APMValue("c")}, {"xclid", APMValue("x")}},
         {},
         0},
        {"utm_id=7",
         {{"_cc", sdk::Value(std::int64_t{1})}},
         "_cmpx",
         {{"campaign_id", APMValue("7")}},
         {},
         0},
        {"utm_id=8", {{"_cc", sdk::Value(1.0)}}, "_cmpx", {}, {}, 0},
        {"utm_id=9",
         {{"_cc", sdk::Value(std::int64_t{2})}, {"note", sdk::Value::Array{}}},
         "_cmp",
         {{"_cc", APMValue(std::int64_t{2})}},
         {"note"},
         0},
        // String extras are link parameters under the link's own.
        {"utm_source=link",
         {{"utm_source", sdk::Value("extra")}, {"utm_medium", sdk::Value("e")}},
         "_cmp",
         {{"source", APMValue("link")}, {"medium", APMValue("e")}},
         {},
         0},
    };
    std::size_t logged = rawEvents().size();
    std::size_t expectedHeard = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        monitor_.clear();
        openURL("https://shop.example.com/landing?" + c.query, 2000.0, c.extras);
        const std::vector<APMRawEventData> events = rawEvents();
        if (c.name.empty()) {
            EXPECT_EQ(events.size(), logged);
        } else {
            ASSERT_EQ(events.size(), logged + 1);
            const APMEvent& event = events.back().rawEvent();
            EXPECT_EQ(event.name(), c.name);
            EXPECT_EQ(event.origin(), "auto");
            EXPECT_EQ(event.timestamp(), 2000.0);
            for (const auto& [name, value] : c.present) {
                EXPECT_EQ(parameter(event, name), value) << name;
            }
            for (const std::string& name : c.absent) {
                EXPECT_EQ(parameter(event, name), std::nullopt) << name;
            }
            ++expectedHeard;
        }
        if (c.code != 0) {
            EXPECT_TRUE(monitor_.saw(c.code));
        }
        logged = events.size();
        if (c.query == "utm_source=a&foo=1&cad_x=2") {
            const std::string info = campaignInfo();
            EXPECT_NE(info.find("click_timestamp_millis: 2000000"), std::string::npos) << info;
            EXPECT_NE(info.find("deep_link_cad_params {\n  key: \"cad_x\"\n  value: \"2\"\n}"),
                      std::string::npos)
                << info;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::lock_guard lock(mutex);
        if (heard.size() >= expectedHeard) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "_cmp") +
                  std::count(heard.begin(), heard.end(), "_cmpx"),
              static_cast<std::ptrdiff_t>(expectedHeard));
}

TEST_F(CampaignTest, BraidClickSetsTheUserPropertyAndTheLaterFirstOpenTime) {
    ASSERT_TRUE(startEngine(kAppID));
    persisted()->setFirstOpenTimestampMilliseconds(5'000'500);
    openURL("https://shop.example.com/?vbraid=b&cad_source=s", 4000.0, {}, 1234);

    const std::vector<APMRawEventData> events = rawEvents();
    ASSERT_FALSE(events.empty());
    const APMEvent& event = events.back().rawEvent();
    EXPECT_EQ(event.name(), "_cmp");
    EXPECT_EQ(event.timestamp(), 5000.5);
    EXPECT_EQ(parameter(event, "click_timestamp"), APMValue(std::int64_t{1234}));
    EXPECT_EQ(sqlite("SELECT value, origin, set_timestamp FROM user_attributes WHERE name = "
                     "'_vbraid';"),
              "b|auto|5000.5\n");
    const std::string info = campaignInfo();
    EXPECT_NE(info.find("vbraid: \"b\""), std::string::npos) << info;
    EXPECT_NE(info.find("cad_source: \"s\""), std::string::npos) << info;
    EXPECT_NE(info.find("click_timestamp_millis: 5000500"), std::string::npos) << info;
    EXPECT_EQ(info.find("vclid"), std::string::npos) << info;
}

// The click data is copied into every later raw event's metadata: its entries are capped as an
// event's parameters are, and what is left out is logged.
TEST_F(CampaignTest, CampaignEntriesAreCappedAsEventParameters) {
    ASSERT_TRUE(startEngine(kAppID));
    auto entries = [](const std::string& info) {
        std::vector<std::string> keys;
        for (std::size_t at = info.find("key: \""); at != std::string::npos;
             at = info.find("key: \"", at + 1)) {
            keys.push_back(info.substr(at + 6, info.find('"', at + 6) - at - 6));
        }
        return keys;
    };
    auto leftOut = [](const sdktest::MonitorRecorder& recorder) {
        const auto codes = recorder.codes();
        return std::count(codes.begin(), codes.end(), 23245);
    };
    {
        // 20,000 entries: the first 100 in name order are kept.
        sdktest::MonitorRecorder recorder;
        std::string url = "https://shop.example.com/?utm_source=a";
        for (int i = 0; i < 20000; ++i) {
            url += "&cad_" + std::to_string(100000 + i) + "=v";
        }
        openURL(url, 3000.0);
        const std::vector<std::string> keys = entries(campaignInfo());
        ASSERT_EQ(keys.size(), 100u);
        EXPECT_EQ(keys.front(), "cad_100000");
        EXPECT_EQ(keys.back(), "cad_100099");
        EXPECT_EQ(leftOut(recorder), 1);
    }
    {
        // A name longer than 40 code points and a value longer than 500 are left out, and a
        // cad_source left out is not kept on its own either.
        sdktest::MonitorRecorder recorder;
        openURL("https://shop.example.com/?cad_kept=v&cad_" + std::string(37, 'n') +
                    "=v&cad_value=" + std::string(501, 'x') +
                    "&cad_source=" + std::string(501, 's'),
                3000.0);
        const std::string info = campaignInfo();
        EXPECT_EQ(entries(info), std::vector<std::string>{"cad_kept"}) << info;
        EXPECT_EQ(info.find("cad_source"), std::string::npos) << info;
        EXPECT_EQ(leftOut(recorder), 1);
    }
    {
        // Within the limits nothing is logged.
        sdktest::MonitorRecorder recorder;
        openURL(
            "https://shop.example.com/?cad_" + std::string(36, 'n') + "=" + std::string(500, 'x'),
            3000.0);
        EXPECT_EQ(entries(campaignInfo()).size(), 1u);
        EXPECT_EQ(leftOut(recorder), 0);
    }
}

TEST_F(CampaignTest, WithoutTrackingAuthorisationClickIdentifiersAreDropped) {
    sdktest::ScopedIdentitySupport denied(
        std::make_shared<sdktest::TrackingSupport>(std::nullopt, 2));
    ASSERT_TRUE(startEngine(kAppID));
    openURL("https://shop.example.com/?vclid=c&srsltid=s&utm_source=a", 3000.0);

    const std::vector<APMRawEventData> events = rawEvents();
    ASSERT_FALSE(events.empty());
    const APMEvent& event = events.back().rawEvent();
    EXPECT_EQ(event.name(), "_cmp");
    EXPECT_EQ(parameter(event, "source"), APMValue("a"));
    EXPECT_EQ(parameter(event, "vclid"), std::nullopt);
    EXPECT_EQ(parameter(event, "srsltid"), std::nullopt);
    EXPECT_EQ(campaignInfo(), "(none)");
}

TEST_F(CampaignTest, OpenedURLsAndActivitiesReachTheEngineOffTheWorkerQueueOnly) {
    ASSERT_TRUE(startEngine(kAppID));
    APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
        engine_->handleNonFirstOpenEventURL("https://a.example/?utm_source=w", 10.0);
    });
    drain(*engine_);
    EXPECT_TRUE(monitor_.saw(23163));
    EXPECT_TRUE(rawEventNames().empty());

    // Activities: none, another kind, a web-browsing one.
    monitor_.clear();
    EXPECT_EQ(APMMeasurement::deepLinkFromUserActivity(std::nullopt), std::nullopt);
    EXPECT_TRUE(monitor_.saw(23003));
    EXPECT_EQ(APMMeasurement::deepLinkFromUserActivity(
                  platform::UserActivity{"com.example.document", "https://a.example/?x=1"}),
              std::nullopt);
    EXPECT_TRUE(monitor_.saw(23006));
    EXPECT_EQ(APMMeasurement::deepLinkFromUserActivity(platform::UserActivity{
                  std::string(kAPMBrowsingWebActivityType), "https://a.example/?x=1"}),
              "https://a.example/?x=1");

    // Through the facade, from its serial queue.
    APMAnalytics::unsuspendOperationQueue();
    APMAnalytics::handleOpenURL("https://a.example/?utm_source=opened");
    APMAnalytics::handleUserActivity(platform::UserActivity{
        std::string(kAPMBrowsingWebActivityType), "https://a.example/?utm_source=browsed"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::vector<APMRawEventData> events;
    while (events.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        events = rawEvents();
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(parameter(events[0].rawEvent(), "source"), APMValue("opened"));
    EXPECT_EQ(parameter(events[1].rawEvent(), "source"), APMValue("browsed"));
}

TEST_F(CampaignTest, LaunchOptionsStoreTheActivitysLinkAndApplyTheURLsTaggingSwitch) {
    APMMeasurement::subscribeForAppDidFinishLaunchingNotifications();
    const platform::UserActivity activity{std::string(kAPMBrowsingWebActivityType),
                                          "https://a.example/?utm_source=launch"};
    sdk::Value::Dictionary userInfo{
        {std::string(kAPMLaunchOptionsUserActivityDictionaryKey),
         sdk::Value::Dictionary{
             {std::string(kAPMLaunchOptionsUserActivityKey), APMValueFromUserActivity(activity)}}},
        {std::string(kAPMLaunchOptionsURLKey),
         sdk::Value("app://open?stgw_debug_enable=1&stgw_preview_key=launchkey")},
    };
    VDUNotificationCenter::defaultCenter().postNotificationName(
        std::string(APMAppDidFinishLaunchingNotificationName()), nullptr, std::move(userInfo));

    // In the standard suite's file, where a later launch finds it.
    const std::filesystem::path suite = APMUserDefaults::sharedUserDefaults().store()->path();
    EXPECT_EQ(sdktest::plistString(suite, kAPMDeepLinkKey), "https://a.example/?utm_source=launch");
    EXPECT_TRUE(APMUserDefaults::sharedUserDefaults().objectForKey(kAPMDeepLinkTimestampKey));
    EXPECT_EQ(APMMeasurement::STGWPreviewHeaders(),
              (std::map<std::string, std::string>{{"X-Tgw-Server-Preview", "launchkey"}}));

    // Only a URL: it is the link kept.
    APMClearStoredDeepLink(APMUserDefaults::sharedUserDefaults());
    VDUNotificationCenter::defaultCenter().postNotificationName(
        std::string(APMAppDidFinishLaunchingNotificationName()), nullptr,
        {{std::string(kAPMLaunchOptionsURLKey), sdk::Value("https://b.example/?utm_id=1")}});
    EXPECT_EQ(sdktest::plistString(suite, kAPMDeepLinkKey), "https://b.example/?utm_id=1");
}

TEST(STGWDebugMode, PreviewSwitchFollowsTheLinksQuery) {
    struct Case {
        std::string url;
        bool debugOn;
        std::optional<std::map<std::string, std::string>> headers;
    };
    const std::vector<Case> cases = {
        {"app://x?stgw_debug_enable=1&stgw_preview_key=k", true,
         std::map<std::string, std::string>{{"X-Tgw-Server-Preview", "k"}}},
        // Anything else leaves the switch as it is.
        {"app://x?stgw_debug_enable=2&stgw_preview_key=z", true,
         std::map<std::string, std::string>{{"X-Tgw-Server-Preview", "k"}}},
        {"app://x?stgw_debug_enable=1", true, std::nullopt},
        {"app://x?stgw_debug_enable=0&stgw_preview_key=k", false, std::nullopt},
        // A key that would break the header it goes into is not taken.
        {"app://x?stgw_debug_enable=1&stgw_preview_key=abc%0D%0AX-Injected:%20evil", true,
         std::nullopt},
        {"app://x?stgw_debug_enable=1&stgw_preview_key=abc%0Adef", true, std::nullopt},
        {"app://x?stgw_debug_enable=1&stgw_preview_key=abc%00def", true, std::nullopt},
        {"app://x?stgw_debug_enable=1&stgw_preview_key=a%20b", true, std::nullopt},
        {"app://x?stgw_debug_enable=1&stgw_preview_key=" + std::string(257, 'k'), true,
         std::nullopt},
        {"app://x?stgw_debug_enable=1&stgw_preview_key=" + std::string(256, 'k'), true,
         std::map<std::string, std::string>{{"X-Tgw-Server-Preview", std::string(256, 'k')}}},
    };
    for (const Case& c : cases) {
        APMMeasurement::handleSTGWDebugModeWithURL(c.url);
        EXPECT_EQ(APMMeasurement::monitor().isDebugModeEnabled(), c.debugOn) << c.url;
        EXPECT_EQ(APMMeasurement::STGWPreviewHeaders(), c.headers) << c.url;
    }
}

}  // namespace
