// Other SDK components reach analytics through the connector: what they may log and set, what
// they may see, conditional user properties handed to their controller, and the relay of
// logged events to their listeners.
#include "sdk/analytics/REROdazadeveConnector.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <future>

#include "platform/dispatch/MainQueue.h"
#include "sdk/analytics/REROdazadeveConditionalUserProperties.h"
#include "sdk/core/REZUzavuredeContainer.h"
#include "tests/sdk/analytics/ConfiguredAnalyticsTest.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

using ::testing::UnorderedElementsAre;
using namespace std::chrono_literals;

class ConnectorTest : public sdktest::ConfiguredAnalyticsTest {
  protected:
    // Configures the SDK and takes a connector from the default app's container.
    std::shared_ptr<REROdazadeveConnector> start() {
        ZEDOre::configure();
        settle();
        return std::dynamic_pointer_cast<REROdazadeveConnector>(
            ZEDOre::defaultApp()->container().instanceForProtocol("REROdazadeveInterop"));
    }

    static std::optional<APMValue> parameter(const APMEvent& event, std::string_view name) {
        const auto it = event.parameters().find(name);
        return it == event.parameters().end() ? std::nullopt : std::optional(it->second);
    }

    static sdk::Value::Dictionary storedProperties() {
        settle();
        std::promise<sdk::Value::Dictionary> answer;
        REROdazadeve::userPropertiesIncludingInternal(
            true, platform::DispatchQueue::global(),
            [&](sdk::Value::Dictionary properties) { answer.set_value(std::move(properties)); });
        return answer.get_future().get();
    }
};

TEST_F(ConnectorTest, EventsOfBlockedOriginsNamesAndParametersAreDropped) {
    std::shared_ptr<REROdazadeveConnector> connector = start();
    ASSERT_TRUE(connector);
    struct Case {
        const char* origin;
        const char* name;
        sdk::Value::Dictionary parameters;
        bool stored;
    };
    const Case cases[] = {
        {"app", "from_app", {}, false},
        {"auto", "from_auto", {}, false},
        {"am", "from_am", {}, false},
        {"rcm", "_s", {}, false},
        {"rcm", "with_debug", {{"_dbg", 1}}, false},
        {"rcm", "with_realtime", {{"_r", 1}}, false},
        {"rcm", "from_rcm", {{"depth", 2}}, true},
        {"rcx", "_ae", {}, true},
        {"rcm", "_cmp", {{"source", "mail"}}, true},
    };
    for (const Case& c : cases) {
        connector->logEventWithOrigin(c.origin, c.name, c.parameters);
    }
    for (const Case& c : cases) {
        const std::optional<APMEvent> event = storedEvent(c.name);
        EXPECT_EQ(event.has_value(), c.stored) << c.origin << " " << c.name;
        if (event) {
            EXPECT_EQ(event->origin(), c.origin) << c.name;
        }
    }
    EXPECT_EQ(parameter(*storedEvent("_ae"), "_r"), APMValue(std::int64_t{1}));
    EXPECT_EQ(parameter(*storedEvent("_cmp"), "_cis"), APMValue("rcm_integration"));
    EXPECT_EQ(parameter(*storedEvent("from_rcm"), "_cis"), std::nullopt);
}

TEST_F(ConnectorTest, UserPropertiesAreFilteredBySettingAndByQuery) {
    std::shared_ptr<REROdazadeveConnector> connector = start();
    ASSERT_TRUE(connector);
    connector->setUserPropertyWithOrigin("rcm", "_ltv_USD", sdk::Value(std::int64_t{5}));
    connector->setUserPropertyWithOrigin("rcm", "_cc3", sdk::Value("x"));
    connector->setUserPropertyWithOrigin("rcm", "_ltv_usd", sdk::Value(std::int64_t{6}));
    connector->setUserPropertyWithOrigin("rdl", "_ln", sdk::Value("from_rdl"));
    connector->setUserPropertyWithOrigin("riam", "_ln", sdk::Value("from_riam"));
    connector->setUserPropertyWithOrigin("app", "by_app", sdk::Value("x"));
    connector->setUserPropertyWithOrigin("rcm", "favourite", sdk::Value("blue"));
    sdk::Value::Dictionary stored = storedProperties();
    EXPECT_FALSE(stored.contains("_ltv_USD"));
    EXPECT_FALSE(stored.contains("_cc3"));
    EXPECT_FALSE(stored.contains("by_app"));
    EXPECT_EQ(stored["_ltv_usd"], sdk::Value(std::int64_t{6}));
    EXPECT_EQ(stored["_ln"], sdk::Value("from_riam"));
    ASSERT_TRUE(stored.contains("_fot")) << "a fresh install's first open";

    std::promise<sdk::Value::Dictionary> answer;
    connector->getUserPropertiesWithCallback([&](sdk::Value::Dictionary properties) {
        EXPECT_TRUE(REROdazadeveConnector::connectorQueue()->isCurrent());
        answer.set_value(std::move(properties));
    });
    std::vector<std::string> names;
    for (const auto& [name, value] : answer.get_future().get()) {
        names.push_back(name);
    }
    EXPECT_THAT(names, UnorderedElementsAre("_fot", "favourite"));
}

TEST_F(ConnectorTest, MaxUserPropertiesAnswersOrGivesUpAfterTenSeconds) {
    std::shared_ptr<REROdazadeveConnector> connector = start();
    ASSERT_TRUE(connector);
    EXPECT_EQ(connector->maxUserProperties("rcm"), 25);
    // The facade refuses an empty origin and never answers.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(connector->maxUserProperties(""), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 9s);
    EXPECT_EQ(countOf(25009), 1);
}

// Records what it hears.
class RecordingListener : public REROdazadeveAnalyticsListener {
  public:
    void messageTriggered(const std::string& name,
                          const sdk::Value::Dictionary& parameters) override {
        EXPECT_TRUE(platform::isMainThread());
        std::lock_guard lock(mutex);
        heard.push_back(name);
        last[name] = parameters;
        count.fetch_add(1);
    }
    std::vector<std::string> names() {
        std::lock_guard lock(mutex);
        return heard;
    }
    std::mutex mutex;
    std::vector<std::string> heard;
    std::map<std::string, sdk::Value::Dictionary> last;
    std::atomic<int> count{0};
};

TEST_F(ConnectorTest, ListenersHearTheirOwnEventsAppEventsAndRcxTheScreenViewsOfOthers) {
    std::shared_ptr<REROdazadeveConnector> connector = start();
    ASSERT_TRUE(connector);
    auto rcx = std::make_shared<RecordingListener>();
    auto riam = std::make_shared<RecordingListener>();
    auto refused = std::make_shared<RecordingListener>();
    connector->registerAnalyticsListener(rcx, "rcx");
    connector->registerAnalyticsListener(riam, "riam");
    connector->registerAnalyticsListener(refused, "rcm");
    connector->registerAnalyticsListener(nullptr, "crash");
    settle();

    connector->logEventWithOrigin("rdl", "_vs", sdk::Value::Dictionary{{"depth", 2}});
    connector->logEventWithOrigin("rdl", "rdl_other", std::nullopt);
    connector->logEventWithOrigin("riam", "riam_event", std::nullopt);
    connector->logEventWithOrigin("riam", "_exp_set", std::nullopt);  // hidden from all
    REROdazadeve::logEventWithName("level_up", sdk::Value::Dictionary{{"score", 1.5}});
    settle();
    ASSERT_TRUE(platform::runMainQueueUntil(
        [&] { return rcx->count.load() >= 2 && riam->count.load() >= 2; }, 10s));
    platform::runMainQueueFor(100ms);
    EXPECT_THAT(rcx->names(), UnorderedElementsAre("_vs", "level_up"));
    EXPECT_THAT(riam->names(), UnorderedElementsAre("riam_event", "level_up"));
    EXPECT_TRUE(refused->names().empty());
    EXPECT_EQ(rcx->last["_vs"]["depth"], sdk::Value(std::int64_t{2}));
    EXPECT_EQ(rcx->last["_vs"]["_o"], sdk::Value("rdl"));
    EXPECT_EQ(riam->last["level_up"]["score"], sdk::Value(1.5));

    // The last one gone, the facade's listener goes too: its token is no longer known.
    const std::optional<APMAnalytics::ListenerToken> probe =
        REROdazadeve::addLogEventListener([](const APMEvent&) {});
    ASSERT_TRUE(probe);
    connector->unregisterAnalyticsListenerWithOrigin("rcx");
    connector->unregisterAnalyticsListenerWithOrigin("riam");
    settle();
    // The connector's listener was added just before the probe.
    REROdazadeve::removeLogEventListener(*probe - 1);
    settle();
    EXPECT_EQ(countOf(25015), 1);
    REROdazadeve::logEventWithName("after_unregistering", std::nullopt);
    settle();
    platform::runMainQueueFor(100ms);
    EXPECT_EQ(rcx->count.load(), 2);
}

// Records the calls the connector makes.
class RecordingController : public REROdazadeveConditionalUserPropertyController {
  public:
    void setConditionalUserProperty(const REROdazadeveConditionalUserProperty& property,
                                    const std::string& name) override {
        set.emplace_back(property, name);
    }
    void clearConditionalUserPropertyWithClearEvent(const std::optional<APMEvent>& event,
                                                    const std::string& name) override {
        cleared.emplace_back(event, name);
    }
    std::vector<REROdazadeveConditionalUserProperty> conditionalUserPropertiesWithNamePrefix(
        const std::optional<std::string>& prefix,
        const std::optional<std::string>& origin) override {
        queried = {prefix.value_or(""), origin.value_or("")};
        REROdazadeveConditionalUserProperty withText;
        withText.name = "cp_text";
        withText.value = APMValue("on");
        REROdazadeveConditionalUserProperty withNumber;
        withNumber.name = "cp_number";
        withNumber.value = APMValue(std::int64_t{1});
        return {withText, withNumber};
    }
    std::vector<std::pair<REROdazadeveConditionalUserProperty, std::string>> set;
    std::vector<std::pair<std::optional<APMEvent>, std::string>> cleared;
    std::pair<std::string, std::string> queried;
};

TEST_F(ConnectorTest, ConditionalUserPropertiesGoToTheirControllerFieldByField) {
    std::shared_ptr<REROdazadeveConnector> connector = start();
    ASSERT_TRUE(connector);
    EXPECT_TRUE(connector->conditionalUserProperties("rcm", "cp").empty()) << "none stored yet";

    auto controller = std::make_shared<RecordingController>();
    REROdazadeveConditionalUserPropertyController::setSharedInstance(controller);
    connector->setConditionalUserProperty({});
    connector->setConditionalUserProperty(sdk::Value::Dictionary{
        {"name", "cp_level"},
        {"origin", "rcm"},
        {"value", "gold"},
        {"triggerEventName", "level_up"},
        {"triggerTimeout", 60},
        {"timeToLive", "not a number"},
        {"creationTimestamp", 1234.5},
        {"expiredEvent",
         sdk::Value::Dictionary{{"origin", "rcm"},
                                {"name", "cp_expired"},
                                {"timestamp", 99.0},
                                {"parameters", sdk::Value::Dictionary{{"why", "ttl"}}}}},
        {"noSuchField", 1}});
    ASSERT_EQ(controller->set.size(), 1u);
    const auto& [property, name] = controller->set[0];
    EXPECT_EQ(name, "cp_level");
    EXPECT_EQ(property.origin, "rcm");
    EXPECT_EQ(property.value, APMValue("gold"));
    EXPECT_EQ(property.triggerEventName, "level_up");
    EXPECT_EQ(property.triggerTimeout, 60.0);
    EXPECT_EQ(property.timeToLive, 0.0);
    EXPECT_EQ(property.creationTimestamp, 1234.5);
    ASSERT_TRUE(property.expiredEvent);
    EXPECT_EQ(property.expiredEvent->name(), "cp_expired");
    EXPECT_EQ(property.expiredEvent->timestamp(), 99.0);
    EXPECT_EQ(parameter(*property.expiredEvent, "why"), APMValue("ttl"));

    connector->clearConditionalUserProperty("cp_level", "rcm", "cp_cleared",
                                            sdk::Value::Dictionary{{"a", 1}, {"b", 2}});
    ASSERT_EQ(controller->cleared.size(), 1u);
    EXPECT_EQ(controller->cleared[0].second, "cp_level");
    ASSERT_TRUE(controller->cleared[0].first);
    EXPECT_EQ(controller->cleared[0].first->name(), "cp_cleared");
    EXPECT_EQ(parameter(*controller->cleared[0].first, "a"), APMValue(std::int64_t{1}));
    EXPECT_EQ(parameter(*controller->cleared[0].first, "b"), std::nullopt);

    const std::vector<sdk::Value::Dictionary> listed =
        connector->conditionalUserProperties("rcm", "cp");
    EXPECT_EQ(controller->queried, (std::pair<std::string, std::string>{"cp", "rcm"}));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].at("name"), sdk::Value("cp_text"));
    EXPECT_EQ(listed[0].at("value"), sdk::Value("on"));
    REROdazadeveConditionalUserPropertyController::setSharedInstance(nullptr);
}

TEST_F(ConnectorTest, ConditionalUserPropertiesReachTheEnginesController) {
    std::shared_ptr<REROdazadeveConnector> connector = start();
    ASSERT_TRUE(connector);
    // Without a trigger event the property is active at once and sets its user property.
    connector->setConditionalUserProperty(sdk::Value::Dictionary{{"name", "cp_level"},
                                                                 {"origin", "rcm"},
                                                                 {"value", "gold"},
                                                                 {"triggerTimeout", 60},
                                                                 {"timeToLive", 3600}});
    connector->setConditionalUserProperty(sdk::Value::Dictionary{{"name", "cp_later"},
                                                                 {"origin", "rcm"},
                                                                 {"value", "silver"},
                                                                 {"triggerEventName", "level_up"},
                                                                 {"triggerTimeout", 60},
                                                                 {"timeToLive", 3600}});
    EXPECT_THAT(
        connector->conditionalUserProperties("rcm", "cp_"),
        UnorderedElementsAre(sdk::Value::Dictionary{{"name", "cp_level"}, {"value", "gold"}},
                             sdk::Value::Dictionary{{"name", "cp_later"}, {"value", "silver"}}));
    EXPECT_TRUE(connector->conditionalUserProperties("rcx", "cp_").empty());
    const sdk::Value::Dictionary properties = storedProperties();
    EXPECT_EQ(properties.count("cp_level"), 1u);
    EXPECT_EQ(properties.count("cp_later"), 0u) << "waits for its trigger event";

    connector->clearConditionalUserProperty("cp_level", "rcm", "cp_cleared", {});
    EXPECT_THAT(
        connector->conditionalUserProperties("rcm", "cp_"),
        UnorderedElementsAre(sdk::Value::Dictionary{{"name", "cp_later"}, {"value", "silver"}}));
    EXPECT_EQ(storedProperties().count("cp_level"), 0u);
}

TEST_F(ConnectorTest, ConditionalUserPropertiesBeforeTheEngineExistsSayItWasNotCreated) {
    // Registered, not configured: the engine's controller finds no engine and says why.
    sdktest::LoggedLines logged;
    const std::shared_ptr<REROdazadeveConditionalUserPropertyController> controller =
        REROdazadeveConditionalUserPropertyController::sharedInstance();
    EXPECT_TRUE(controller->conditionalUserPropertiesWithNamePrefix("cp_", "rcm").empty());
    const std::vector<std::string> lines = logged.take();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("I-ACS023147") != std::string::npos;
    })) << ::testing::PrintToString(lines);
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
}

}  // namespace
