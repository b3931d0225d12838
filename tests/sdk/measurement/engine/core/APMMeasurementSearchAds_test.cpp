// The engine's search-ads reporter: made at start, its campaign event written to "raw_events",
// its stored answer honoured by a later run, and the engine's enable switch.
#include <chrono>
#include <thread>

#include "sdk/measurement/attribution/APMSearchAdReporter.h"
#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "tests/sdk/measurement/attribution/SearchAdTestSupport.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"
#include "tests/support/LoopbackServer.h"

namespace {

using sdktest::PlistScalar;

constexpr double kNow = 1'800'000'000.0;

class MeasurementSearchAdsTest : public sdktest::EngineTest {
  protected:
    // The campaign event comes in through the facade, whose queued work flows once it is
    // started; here the engine is made directly, so its queue is let go by hand.
    MeasurementSearchAdsTest() { APMAnalytics::unsuspendOperationQueue(); }

    std::shared_ptr<APMSearchAdReporter> reporter() {
        std::shared_ptr<APMSearchAdReporter> reporter;
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(
            *engine_, [&] { reporter = engine_->searchAdReporter(); });
        return reporter;
    }

    // The stored "_cmp" events, waiting (up to 15 s) until the first one is there.
    std::vector<APMRawEventData> campaignEvents() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        std::vector<APMRawEventData> found;
        while (found.empty() && std::chrono::steady_clock::now() < deadline) {
            for (const APMRawEventData& data : rawEvents()) {
                if (data.rawEvent().name() == "_cmp") {
                    found.push_back(data);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return found;
    }

    std::filesystem::path persistedConfigFile() const {
        return measurementFolder() / "com.vovidu.vud.measurement.plist";
    }

    cb::testsupport::LoopbackServer server_{
        [](const httplib::Request&, httplib::Response& response) {
            response.set_content(R"({"attribution": true, "campaignId": 42, "keywordId": "k"})",
                                 "application/json");
        }};
    // After server_, whose address it takes.
    sdktest::ScopedClockAndOrigin clockAndOrigin_{kNow, server_.address()};
};

TEST_F(MeasurementSearchAdsTest, AnAttributedInstallWritesOneCampaignEvent) {
    const std::shared_ptr<APMPersistedConfig> config = APMPersistedConfig::sharedInstance();
    config->setFirstOpenTimestampMilliseconds(5000);
    sdktest::RegisteredAttribution attribution(config);
    ASSERT_NE(startEngine(kAppID), nullptr);

    const std::vector<APMRawEventData> events = campaignEvents();
    ASSERT_EQ(events.size(), 1u);
    const APMParameters& parameters = events[0].rawEvent().parameters();
    const std::vector<std::pair<std::string, APMValue>> expected = {
        {"_o", APMValue("auto")},       {"source", APMValue("Apple")},
        {"medium", APMValue("search")}, {"campaign", APMValue("42")},
        {"term", APMValue("k")},        {"click_timestamp", APMValue(std::int64_t{4999})}};
    for (const auto& [name, value] : expected) {
        const auto found = parameters.find(name);
        ASSERT_NE(found, parameters.end()) << name;
        EXPECT_EQ(found->second, value) << name;
    }
    EXPECT_EQ(events[0].rawEvent().origin(), "auto");
    EXPECT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(sdktest::persistedValue(*config, APMPersistedConfig::kSearchAdCampaign),
              PlistScalar(true));
    EXPECT_EQ(sdktest::persistedValue(*config, APMPersistedConfig::kSearchAdRetries),
              PlistScalar(std::int64_t{1}));
    std::shared_ptr<APMSearchAdReporter> searchAds = reporter();
    ASSERT_NE(searchAds, nullptr);
    EXPECT_EQ(searchAds->searchAdReporterAlarm(), nullptr);
}

TEST_F(MeasurementSearchAdsTest, WithoutTheAttributionClassNothingIsAsked) {
    ASSERT_NE(startEngine(kAppID), nullptr);
    EXPECT_EQ(countOf(32014), 1);
    std::shared_ptr<APMSearchAdReporter> searchAds = reporter();
    ASSERT_NE(searchAds, nullptr);
    EXPECT_TRUE(searchAds->isSearchAdReporterEnabled());
    ASSERT_NE(searchAds->searchAdReporterAlarm(), nullptr);
    EXPECT_EQ(searchAds->searchAdReporterAlarm()->scheduledTimestamp(), std::nullopt);
    EXPECT_EQ(APMPersistedConfig::sharedInstance()->searchAdRetryCount(), 0);
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(MeasurementSearchAdsTest, AnAnswerStoredByAnEarlierRunMakesNoReporter) {
    sdktest::writePlistWithBool(persistedConfigFile(), APMPersistedConfig::kSearchAdCampaign,
                                false);
    sdktest::RegisteredAttribution attribution(APMPersistedConfig::sharedInstance());
    ASSERT_NE(startEngine(kAppID), nullptr);
    EXPECT_EQ(countOf(32002), 1);
    EXPECT_EQ(reporter(), nullptr);
    EXPECT_TRUE(attribution->retryCountsSeen().empty());
}

TEST_F(MeasurementSearchAdsTest, TheEngineSwitchStopsAndRestartsTheSchedule) {
    const std::shared_ptr<APMPersistedConfig> config = APMPersistedConfig::sharedInstance();
    config->setLastSearchAdLookUpTimestamp(kNow);
    sdktest::RegisteredAttribution attribution(config);
    ASSERT_NE(startEngine(kAppID), nullptr);
    std::shared_ptr<APMSearchAdReporter> searchAds = reporter();
    ASSERT_NE(searchAds, nullptr);
    const auto due = [&] { return searchAds->searchAdReporterAlarm()->scheduledTimestamp(); };
    ASSERT_EQ(due(), sdk::Date::fromTimeIntervalSince1970(kNow + 86400));

    engine_->setEnabled(false);
    drain(*engine_);
    EXPECT_FALSE(searchAds->isSearchAdReporterEnabled());
    EXPECT_EQ(due(), std::nullopt);

    engine_->setEnabled(true);
    drain(*engine_);
    EXPECT_TRUE(searchAds->isSearchAdReporterEnabled());
    EXPECT_EQ(due(), sdk::Date::fromTimeIntervalSince1970(kNow + 86400));
    EXPECT_TRUE(attribution->retryCountsSeen().empty());
}

}  // namespace
