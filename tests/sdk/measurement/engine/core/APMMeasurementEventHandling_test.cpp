// The pipeline on the worker queue: collection switch, safelist, duplicate subscriptions and
// rollouts, the stored rollouts on "_ae", and default parameters of internal events.
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"

namespace {

using sdktest::EngineTest;

class EventHandlingTest : public EngineTest {
  protected:
    // The parameter `name` of the stored raw event at `index`; none when absent.
    std::optional<APMValue> parameterOf(std::size_t index, const std::string& name) {
        const std::vector<APMRawEventData> events = rawEvents();
        if (index >= events.size()) {
            return std::nullopt;
        }
        const APMParameters& params = events[index].rawEvent().parameters();
        const auto found = params.find(name);
        return found == params.end() ? std::nullopt : std::optional(found->second);
    }

    static APMRawParameters subscription(std::int64_t id) {
        return {{"subscription", APMValue(std::int64_t{1})},
                {"_did", APMValue(id)},
                {"product_id", APMValue("gold")}};
    }
};

TEST_F(EventHandlingTest, DisabledCollectionLogsAndWritesNothing) {
    ASSERT_TRUE(startEngine(kAppID));
    engine_->setEnabled(false);
    drain(*engine_);
    logEvent("scan_started");
    EXPECT_TRUE(monitor_.saw(23049));
    EXPECT_EQ(sqlite("SELECT count(*) FROM raw_events;"), "0\n");
}

TEST_F(EventHandlingTest, SafelistKeepsListedEventsMarkedAndDropsOthers) {
    ASSERT_TRUE(startEngine(kAppID, true, false, {"scan_started"}));
    logEvent("scan_started");
    logEvent("item_deleted");
    EXPECT_EQ(rawEventNames(), std::vector<std::string>{"scan_started"});
    EXPECT_EQ(parameterOf(0, "ma_safelisted"), APMValue(std::int64_t{1}));
    EXPECT_EQ(countOf(23174), 1);
}

TEST_F(EventHandlingTest, WithoutSafelistEventsCarryNoMark) {
    ASSERT_TRUE(startEngine(kAppID));
    logEvent("scan_started");
    EXPECT_EQ(rawEventNames(), std::vector<std::string>{"scan_started"});
    EXPECT_EQ(parameterOf(0, "ma_safelisted"), std::nullopt);
}

TEST_F(EventHandlingTest, DuplicateSubscriptionIsDroppedTheSecondTime) {
    ASSERT_TRUE(startEngine(kAppID));
    logEvent("_iap", subscription(42), false);
    logEvent("_iap", subscription(42), false);
    logEvent("_iap", subscription(43), false);
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_iap", "_iap"}));
    EXPECT_EQ(countOf(23182), 1);
    EXPECT_EQ(parameterOf(1, "_did"), APMValue(std::int64_t{43}));
}

TEST_F(EventHandlingTest, SubscriptionIsKeptWhenItsTableIsGone) {
    ASSERT_TRUE(startEngine(kAppID));
    sqlite("DROP TABLE subscriptions;");
    logEvent("_iap", subscription(42), false);
    // Neither storing the ID nor trimming the table works; the purchase is still written.
    EXPECT_TRUE(monitor_.saw(23181));
    EXPECT_TRUE(monitor_.saw(23183));
    EXPECT_EQ(rawEventNames(), std::vector<std::string>{"_iap"});
}

TEST_F(EventHandlingTest, RolloutsOfSessionStartsAreWrittenOnceAndGoOnAppExceptions) {
    ASSERT_TRUE(startEngine(kAppID));
    logEvent("_ssr", {{"_ffr", APMValue("x")}}, false);
    logEvent("_ssr", {{"_ffr", APMValue("x")}}, false);
    EXPECT_EQ(countOf(23191), 1);
    logEvent("_ae", {}, false);
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_ssr", "_ae"}));
    EXPECT_EQ(parameterOf(1, "_ffr"), APMValue("x"));
    // Another value is new again.
    logEvent("_ssr", {{"_ffr", APMValue("y")}}, false);
    EXPECT_EQ(rawEventNames().size(), 3u);
}

TEST_F(EventHandlingTest, SessionStartRolloutsWithNothingStoredAndNoValueIsDropped) {
    ASSERT_TRUE(startEngine(kAppID));
    logEvent("_ssr", {}, false);
    EXPECT_EQ(countOf(23191), 1);
    EXPECT_TRUE(rawEventNames().empty());
}

TEST_F(EventHandlingTest, InternalEventsGetDefaultParametersExceptCampaignOnesAndErrors) {
    ASSERT_TRUE(startEngine(kAppID));
    APMPersistedConfig::sharedInstance()->setDefaultEventParameters(
        sdk::Value::Dictionary{{"cad_source", sdk::Value("mail")}, {"plan", sdk::Value("gold")}});
    APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
        for (const char* name : {"_cmp", "_err", "_e"}) {
            std::optional<APMEvent> event =
                APMEvent::initWithOrigin("auto", false, name, APMCurrentTimeInterval(), 0, {},
                                         APMRemoteConfig::current()->parameterLimits());
            ASSERT_TRUE(event);
            engine_->handleInternalEventOnWorkerQueue(std::move(*event));
        }
    });
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_cmp", "_err", "_e"}));
    EXPECT_EQ(parameterOf(0, "plan"), APMValue("gold"));
    EXPECT_EQ(parameterOf(0, "cad_source"), std::nullopt);
    EXPECT_EQ(parameterOf(1, "plan"), std::nullopt);
    EXPECT_EQ(parameterOf(2, "cad_source"), APMValue("mail"));
}

}  // namespace
