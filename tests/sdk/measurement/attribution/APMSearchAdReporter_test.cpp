// The search-ads reporter on a worker queue of its own, against a loopback attribution service
// and a fake attribution class; its persisted values are read back from the plist file.
#include <algorithm>
#include <chrono>
#include <future>
#include <optional>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/attribution/APMSearchAdReporter.h"
#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/attribution/APMSearchAdReporterTestPeer.h"
#include "tests/sdk/measurement/attribution/SearchAdTestSupport.h"
#include "tests/sdk/measurement/storage/APMRemoteConfigTestPeer.h"
#include "tests/support/LoopbackServer.h"

namespace {

using sdktest::persistedValue;
using sdktest::PlistScalar;

constexpr double kNow = 1'800'000'000.0;
constexpr double kDay = 86400.0;
constexpr std::string_view kCampaignKey = APMPersistedConfig::kSearchAdCampaign;
constexpr std::string_view kRetriesKey = APMPersistedConfig::kSearchAdRetries;
constexpr std::string_view kLastLookUpKey = APMPersistedConfig::kSearchAdLastAttempt;

struct LoggedEvent {
    std::string origin;
    std::string name;
    sdk::Value::Dictionary parameters;
};

class SearchAdReporterTest : public ::testing::Test {
  protected:
    // A persisted config of its own (suite named after the test and a counter).
    static std::shared_ptr<APMPersistedConfig> newConfig() {
        static int count = 0;
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        return APMPersistedConfig::initWithSuiteName("search-ads-" + test + "-" +
                                                     std::to_string(++count));
    }

    // The reporter over config_, enabled, its events recorded and its replies observed.
    std::shared_ptr<APMSearchAdReporter> makeReporter() {
        std::shared_ptr<APMSearchAdReporter> reporter =
            APMSearchAdReporter::initWithWorkerQueue(queue_, config_);
        if (!reporter) {
            return nullptr;
        }
        reporter->setInternalEventLogger(
            [this](std::string_view origin, std::string_view name, sdk::Value::Dictionary p) {
                std::lock_guard lock(mutex_);
                events_.push_back({std::string(origin), std::string(name), std::move(p)});
            });
        APMSearchAdReporterTestPeer::setReplyObserver(
            *reporter, [this] { replyOnWorkerQueue_.set_value(queue_->isCurrent()); });
        onWorker([&] { reporter->setSearchAdReporterEnabled(true); });
        return reporter;
    }

    void onWorker(const std::function<void()>& block) { queue_->sync(block); }

    // Waits for the service's reply to reach the worker queue and be handled there; whether it
    // arrived on the worker queue.
    bool waitForReply() {
        std::future<bool> arrived = replyOnWorkerQueue_.get_future();
        if (arrived.wait_for(std::chrono::seconds(15)) != std::future_status::ready) {
            ADD_FAILURE() << "no reply reached the worker queue";
            return false;
        }
        onWorker([] {});
        replyOnWorkerQueue_ = std::promise<bool>();
        return arrived.get();
    }

    void setReply(int status, std::string body) {
        std::lock_guard lock(mutex_);
        replyStatus_ = status;
        replyBody_ = std::move(body);
    }

    std::vector<LoggedEvent> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

    // Seconds from now (engine clock) until the alarm is due; no value while it is idle or gone.
    static std::optional<double> secondsUntilDue(const APMSearchAdReporter& reporter) {
        const std::shared_ptr<APMAlarm> alarm = reporter.searchAdReporterAlarm();
        const std::optional<sdk::Date> due = alarm ? alarm->scheduledTimestamp() : std::nullopt;
        if (!due) {
            return std::nullopt;
        }
        return due->timeIntervalSince1970() - APMCurrentTimeInterval();
    }

    std::int64_t countOf(std::int64_t code) const {
        const std::vector<std::int64_t> codes = monitor_.codes();
        return std::count(codes.begin(), codes.end(), code);
    }

    sdktest::MonitorRecorder monitor_;
    platform::QueueRef queue_ = platform::DispatchQueue::createSerial("com.vovidu.diru.worker");
    std::shared_ptr<APMPersistedConfig> config_ = newConfig();
    std::promise<bool> replyOnWorkerQueue_;
    std::mutex mutex_;
    std::vector<LoggedEvent> events_;  // guarded by mutex_
    int replyStatus_ = 200;            // guarded by mutex_
    std::string replyBody_ = "{}";     // guarded by mutex_
    cb::testsupport::LoopbackServer server_{
        [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            response.status = replyStatus_;
            response.set_content(replyBody_, "application/json");
        }};
    // After server_, whose address it takes.
    sdktest::ScopedClockAndOrigin clockAndOrigin_{kNow, server_.address()};
};

TEST_F(SearchAdReporterTest, StartDependsOnTheClassAndTheStoredValues) {
    struct Case {
        const char* name;
        bool provider;
        std::optional<std::int64_t> retries;
        std::optional<bool> answer;
        double lastLookUpAgo;
        bool makesReporter;
        std::int64_t code;  // expected monitor code, 0 for none
        std::optional<double> dueIn;
        bool firesAtOnce;
    };
    const Case cases[] = {
        {"no provider", false, {}, {}, 100, true, 32014, {}, false},
        {"ten lookups made", true, 10, {}, 100, false, 0, {}, false},
        {"answer stored", true, {}, false, 100, false, 32002, {}, false},
        {"provider", true, {}, {}, 100, true, 32006, kDay - 100, false},
        {"last lookup 30 h ago", true, 3, {}, 30 * 3600, true, 32006, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config_ = newConfig();
        monitor_.clear();
        std::optional<sdktest::RegisteredAttribution> attribution;
        if (c.provider) {
            attribution.emplace(config_);
        }
        if (c.retries) {
            config_->setSearchAdRetryCount(*c.retries);
        }
        if (c.answer) {
            config_->setSearchAdCampaignValue(sdk::Value(*c.answer));
        }
        config_->setLastSearchAdLookUpTimestamp(kNow - c.lastLookUpAgo);
        std::shared_ptr<APMSearchAdReporter> reporter = makeReporter();
        ASSERT_EQ(reporter != nullptr, c.makesReporter);
        if (c.code == 32002 || !reporter) {
            EXPECT_EQ(countOf(32002), c.code == 32002 ? 1 : 0);
            continue;
        }
        onWorker([&] { reporter->start(); });
        if (c.firesAtOnce) {
            EXPECT_TRUE(waitForReply());
            EXPECT_EQ((*attribution)->retryCountsSeen(), std::vector<std::int64_t>{4});
            // Planned at start and again for the next day after the lookup; the empty reply
            // then finds that plan in place.
            EXPECT_EQ(countOf(c.code), 2);
            EXPECT_EQ(countOf(32005), 1);
            continue;
        }
        EXPECT_EQ(countOf(c.code), 1);
        const std::optional<double> due = secondsUntilDue(*reporter);
        ASSERT_EQ(due.has_value(), c.dueIn.has_value());
        if (due) {
            EXPECT_DOUBLE_EQ(*due, *c.dueIn);
        }
        EXPECT_EQ(persistedValue(*config_, kRetriesKey), std::nullopt);
    }
}

TEST_F(SearchAdReporterTest, OneRunCountsTheLookupPostsTheTokenAndPlansTheNextDay) {
    sdktest::RegisteredAttribution attribution(config_);
    std::shared_ptr<APMSearchAdReporter> reporter = makeReporter();
    ASSERT_NE(reporter, nullptr);
    onWorker([&] { reporter->start(); });  // never looked up: due at once
    EXPECT_TRUE(waitForReply());

    EXPECT_EQ(attribution->retryCountsSeen(), std::vector<std::int64_t>{1});
    EXPECT_EQ(persistedValue(*config_, kRetriesKey), PlistScalar(std::int64_t{1}));
    EXPECT_EQ(persistedValue(*config_, kLastLookUpKey), PlistScalar(kNow));
    const std::vector<cb::testsupport::ReceivedRequest> requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/api/v1/");
    EXPECT_EQ(requests[0].body, "token-1");
    EXPECT_EQ(requests[0].headers.find("cache-control")->second, "no-cache");
    EXPECT_EQ(requests[0].headers.find("Content-Type")->second, "text/plain");
    const std::optional<double> due = secondsUntilDue(*reporter);
    ASSERT_TRUE(due);
    EXPECT_DOUBLE_EQ(*due, kDay);
    EXPECT_EQ(persistedValue(*config_, kCampaignKey), std::nullopt);
}

TEST_F(SearchAdReporterTest, AFailingProviderStillCountsTheLookup) {
    sdktest::RegisteredAttribution attribution(config_);
    attribution->setFails(true);
    std::shared_ptr<APMSearchAdReporter> reporter = makeReporter();
    ASSERT_NE(reporter, nullptr);
    onWorker([&] { reporter->maybeLogIAdCampaignEvent(); });
    EXPECT_TRUE(monitor_.saw(32018));
    EXPECT_EQ(attribution->retryCountsSeen(), std::vector<std::int64_t>{1});
    EXPECT_EQ(persistedValue(*config_, kRetriesKey), PlistScalar(std::int64_t{1}));
    EXPECT_TRUE(server_.requests().empty());
    ASSERT_TRUE(secondsUntilDue(*reporter));
}

TEST_F(SearchAdReporterTest, RepliesDecideBetweenRetryAndAnAnswer) {
    struct Case {
        const char* name;
        const char* body;  // nullptr: the service's port is closed
        std::int64_t firstOpenMs;
        std::int64_t code;                            // expected monitor code, 0 for none
        std::optional<bool> stored;                   // the answer stored, if any
        std::optional<sdk::Value::Dictionary> event;  // the "_cmp" parameters, if logged
    };
    const sdk::Value::Dictionary full{{"source", "Apple"},
                                      {"medium", "search"},
                                      {"campaign", "42"},
                                      {"term", "k"},
                                      {"click_timestamp", 4999}};
    const sdk::Value::Dictionary noCampaign{
        {"source", "Apple"}, {"medium", "search"}, {"term", "k"}, {"click_timestamp", 4999}};
    const sdk::Value::Dictionary noClick{
        {"source", "Apple"}, {"medium", "search"}, {"campaign", "1.5"}};
    const Case cases[] = {
        {"closed port", nullptr, 5000, 32015, {}, {}},
        {"not JSON", "<html>busy</html>", 5000, 32017, {}, {}},
        {"not an object", "[1, 2]", 5000, 32017, {}, {}},
        {"empty object", "{}", 5000, 0, {}, {}},
        {"test data",
         R"({"attribution": true, "adId": "1234567890", "campaignId": 1234567890})",
         5000,
         32016,
         {},
         {}},
        {"not attributed", R"({"attribution": false, "campaignId": "42"})", 5000, 0, false, {}},
        {"attribution not a boolean",
         R"({"attribution": "true", "campaignId": "42"})",
         5000,
         0,
         false,
         {}},
        {"attributed", R"({"attribution": true, "campaignId": 42, "keywordId": "k"})", 5000, 0,
         true, full},
        {"no campaign", R"({"attribution": true, "keywordId": "k", "campaignId": null})", 5000, 0,
         true, noCampaign},
        {"first open of 1 ms", R"({"attribution": true, "campaignId": 1.5})", 1, 32009, true,
         noClick},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config_ = newConfig();
        config_->setFirstOpenTimestampMilliseconds(c.firstOpenMs);
        monitor_.clear();
        {
            std::lock_guard lock(mutex_);
            events_.clear();
        }
        std::optional<cb::testsupport::LoopbackServer> closed;
        if (!c.body) {
            closed.emplace([](const httplib::Request&, httplib::Response&) {});
            const std::string address = closed->address();
            closed.reset();
            APMRemoteConfigTestPeer::setServiceOrigin(address);
        } else {
            APMRemoteConfigTestPeer::setServiceOrigin(server_.address());
            setReply(200, c.body);
        }
        std::shared_ptr<APMSearchAdReporter> reporter = makeReporter();
        ASSERT_NE(reporter, nullptr);
        onWorker([&] { reporter->requestAttributionPayloadWithToken("token-1"); });
        EXPECT_TRUE(waitForReply());

        for (const std::int64_t code : {32009, 32015, 32016, 32017}) {
            EXPECT_EQ(countOf(code), code == c.code ? 1 : 0) << code;
        }
        const bool answered = c.stored.has_value();
        EXPECT_EQ(persistedValue(*config_, kCampaignKey),
                  answered ? std::optional<PlistScalar>(*c.stored) : std::nullopt);
        // An answer ends the schedule for good; anything else plans the next try.
        EXPECT_EQ(reporter->searchAdReporterAlarm() == nullptr, answered);
        EXPECT_EQ(countOf(32006), answered ? 0 : 1);
        const std::vector<LoggedEvent> logged = events();
        ASSERT_EQ(logged.size(), c.event ? 1u : 0u);
        if (c.event) {
            EXPECT_EQ(logged[0].origin, "auto");
            EXPECT_EQ(logged[0].name, "_cmp");
            EXPECT_EQ(sdk::Value(logged[0].parameters), sdk::Value(*c.event));
        }
    }
}

TEST_F(SearchAdReporterTest, TheTenthLookupIsTheLast) {
    sdktest::RegisteredAttribution attribution(config_);
    attribution->setFails(true);
    config_->setSearchAdRetryCount(9);
    std::shared_ptr<APMSearchAdReporter> reporter = makeReporter();
    ASSERT_NE(reporter, nullptr);
    onWorker([&] { reporter->maybeLogIAdCampaignEvent(); });
    EXPECT_EQ(persistedValue(*config_, kRetriesKey), PlistScalar(std::int64_t{10}));
    EXPECT_EQ(countOf(32007), 1);
    EXPECT_EQ(reporter->searchAdReporterAlarm(), nullptr);
    onWorker([&] { reporter->scheduleSearchAdReport(); });
    EXPECT_EQ(countOf(32013), 1);
    // Nothing is made again for this installation.
    EXPECT_EQ(APMSearchAdReporter::initWithWorkerQueue(queue_, config_), nullptr);
}

TEST_F(SearchAdReporterTest, AnAnswerIsStoredAndLoggedOnlyOnce) {
    std::shared_ptr<APMSearchAdReporter> reporter = makeReporter();
    ASSERT_NE(reporter, nullptr);
    onWorker([&] {
        reporter->logCampaignEventWithSearchAdCampaign(true, "42", std::nullopt);
        reporter->logCampaignEventWithSearchAdCampaign(false, "43", "t");
    });
    EXPECT_EQ(countOf(32008), 1);
    EXPECT_EQ(events().size(), 1u);
    EXPECT_EQ(persistedValue(*config_, kCampaignKey), PlistScalar(true));
    // Scheduling now finds the answer and ends the schedule.
    onWorker([&] { reporter->scheduleSearchAdReport(); });
    EXPECT_EQ(countOf(32004), 1);
    EXPECT_EQ(reporter->searchAdReporterAlarm(), nullptr);
    // A later reporter of the same installation is never made.
    EXPECT_EQ(APMSearchAdReporter::initWithWorkerQueue(queue_, config_), nullptr);
    EXPECT_EQ(countOf(32002), 1);
}

TEST_F(SearchAdReporterTest, DisablingCancelsThePendingRunAndEnablingPlansItAgain) {
    sdktest::RegisteredAttribution attribution(config_);
    config_->setLastSearchAdLookUpTimestamp(kNow);
    std::shared_ptr<APMSearchAdReporter> reporter = makeReporter();
    ASSERT_NE(reporter, nullptr);
    onWorker([&] { reporter->start(); });
    ASSERT_TRUE(secondsUntilDue(*reporter));
    onWorker([&] { reporter->setSearchAdReporterEnabled(false); });
    EXPECT_FALSE(reporter->isSearchAdReporterEnabled());
    EXPECT_EQ(secondsUntilDue(*reporter), std::nullopt);
    ASSERT_NE(reporter->searchAdReporterAlarm(), nullptr);
    // A run asked for while disabled stays cancelled.
    onWorker([&] { reporter->scheduleSearchAdReport(); });
    EXPECT_EQ(secondsUntilDue(*reporter), std::nullopt);
    onWorker([&] { reporter->setSearchAdReporterEnabled(true); });
    const std::optional<double> due = secondsUntilDue(*reporter);
    ASSERT_TRUE(due);
    EXPECT_DOUBLE_EQ(*due, kDay);
    EXPECT_EQ(countOf(32006), 2);
    EXPECT_TRUE(attribution->retryCountsSeen().empty());
}

TEST_F(SearchAdReporterTest, EnablingBeforeStartPlansNothing) {
    sdktest::RegisteredAttribution attribution(config_);
    std::shared_ptr<APMSearchAdReporter> reporter = makeReporter();
    ASSERT_NE(reporter, nullptr);
    onWorker([&] {
        reporter->setSearchAdReporterEnabled(false);
        reporter->setSearchAdReporterEnabled(true);
    });
    EXPECT_EQ(secondsUntilDue(*reporter), std::nullopt);
    EXPECT_EQ(countOf(32006), 0);
}

TEST_F(SearchAdReporterTest, MissingQueueOrConfigMakesNoReporter) {
    EXPECT_EQ(APMSearchAdReporter::initWithWorkerQueue(nullptr, config_), nullptr);
    EXPECT_EQ(APMSearchAdReporter::initWithWorkerQueue(queue_, nullptr), nullptr);
    EXPECT_EQ(countOf(32000), 1);
    EXPECT_EQ(countOf(32001), 1);
}

}  // namespace
