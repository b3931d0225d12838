// The engine's creation, enable rules, one-time start and reset.
#include <filesystem>

#include "sdk/measurement/audiences/APMBackwardCompatibilityUtil.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"

namespace {

using sdktest::EngineTest;

class LifecycleTest : public EngineTest {};

// An older audience component registered in the process, recording what it is told.
class OlderAudienceComponent : public APMBackwardCompatibilityUtil::SwitchableClass,
                               public APMBackwardCompatibilityUtil::SwitchableInstance {
  public:
    std::string className() const override { return "VIZIverirozidi"; }
    std::shared_ptr<APMBackwardCompatibilityUtil::SwitchableInstance> sharedInstance()
        const override {
        return self.lock();
    }
    void setIsEnabled(bool enabled) override { calls.push_back(enabled); }
    std::weak_ptr<OlderAudienceComponent> self;
    std::vector<bool> calls;
};

TEST_F(LifecycleTest, FirstEnableCreatesTheDatabaseWithItsTablesAndLogsReady) {
    std::shared_ptr<APMMeasurement> engine = startEngine(kAppID);
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(engine->isEnabled());
    EXPECT_TRUE(engine->didInitializeComponents());
    EXPECT_TRUE(engine->wasEnabledDuringInitialization());
    EXPECT_TRUE(monitor_.saw(23016));
    EXPECT_TRUE(monitor_.saw(23012));
    ASSERT_TRUE(std::filesystem::exists(databasePath()));
    const std::string tables = sqlite(".tables");
    for (const char* table : {"app_metadata", "audience_filter_values", "conditional_properties",
                              "event_filters", "events", "property_filters", "queue", "raw_events",
                              "raw_events_metadata", "subscriptions", "user_attributes"}) {
        EXPECT_NE(tables.find(table), std::string::npos) << table << " in " << tables;
    }
    // The store runs with the write-ahead log.
    EXPECT_EQ(sqlite("PRAGMA journal_mode;"), "wal\n");
}

TEST_F(LifecycleTest, TheStartSwitchesOffAnOlderAudienceComponent) {
    auto older = std::make_shared<OlderAudienceComponent>();
    older->self = older;
    ASSERT_TRUE(VDUClassRegistry::registerClass(older));
    std::shared_ptr<APMMeasurement> engine = startEngine(kAppID);
    ASSERT_NE(engine, nullptr);
    APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine, [] {});
    EXPECT_EQ(older->calls, std::vector<bool>{false});
    EXPECT_TRUE(monitor_.saw(23210));
    VDUClassRegistry::TEST_unregisterClass("VIZIverirozidi");
}

TEST_F(LifecycleTest, ASecondInitializationIsIgnoredWhateverItsAppID) {
    std::shared_ptr<APMMeasurement> first = startEngine(kAppID);
    ASSERT_NE(first, nullptr);
    APMMeasurement::initializeSharedInstanceWithAppID("1:222:macos:bb", false, true, {});
    EXPECT_EQ(APMMeasurement::sharedInstance(), first);
    EXPECT_EQ(first->appID(), kAppID);
    EXPECT_TRUE(first->isEnabled());
}

TEST_F(LifecycleTest, AnEmptyAppIDMakesNoEngine) {
    APMMeasurement::initializeSharedInstanceWithAppID("", true, false, {});
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
    EXPECT_EQ(APMMeasurement::initWithAppID("", true, false, {}, nullptr), nullptr);
    EXPECT_TRUE(monitor_.saw(23170));
}

TEST_F(LifecycleTest, PersistedDisabledStateBeatsTheAppSetting) {
    APMPersistedConfig::sharedInstance()->setMeasurementEnabledState(2);
    std::shared_ptr<APMMeasurement> engine = startEngine(kAppID, true);
    ASSERT_NE(engine, nullptr);
    EXPECT_FALSE(engine->isEnabled());
    EXPECT_FALSE(engine->didInitializeComponents());
    EXPECT_TRUE(monitor_.saw(23013));
    // Disabled before the first enable: nothing was opened.
    EXPECT_FALSE(std::filesystem::exists(databasePath()));
}

TEST_F(LifecycleTest, PersistedEnabledStateBeatsAnAppSettingOfNo) {
    APMPersistedConfig::sharedInstance()->setMeasurementEnabledState(1);
    std::shared_ptr<APMMeasurement> engine = startEngine(kAppID, false);
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(engine->isEnabled());
}

TEST_F(LifecycleTest, DeactivationBeatsPersistedStateAndLaterEnables) {
    APMPersistedConfig::sharedInstance()->setMeasurementEnabledState(1);
    std::shared_ptr<APMMeasurement> engine = startEngine(kAppID, true, true);
    ASSERT_NE(engine, nullptr);
    EXPECT_FALSE(engine->isEnabled());
    engine->setEnabled(true);
    drain(*engine);
    EXPECT_FALSE(engine->isEnabled());
    EXPECT_TRUE(monitor_.saw(23206));
    EXPECT_FALSE(std::filesystem::exists(databasePath()));
    // Deactivated: the deferred-collection record is not written.
    EXPECT_EQ(APMAnalytics::deferredAnalyticsCollection(), std::nullopt);
}

TEST_F(LifecycleTest, DisablingKeepsTheComponentsAndEnablingAgainDoesNotRestartThem) {
    std::shared_ptr<APMMeasurement> engine = startEngine(kAppID);
    ASSERT_NE(engine, nullptr);
    // The first enable's record of itself is taken by the start's first-open report.
    EXPECT_EQ(APMAnalytics::deferredAnalyticsCollection(), std::nullopt);
    engine->setEnabled(false);
    engine->setEnabled(true);
    drain(*engine);
    EXPECT_TRUE(engine->isEnabled());
    EXPECT_EQ(countOf(23016), 1);
    EXPECT_EQ(countOf(23013), 1);
}

TEST_F(LifecycleTest, ResetStoresTheNewAppInstanceIDAndEmptiesTheStore) {
    std::shared_ptr<APMMeasurement> engine = startEngine(kAppID);
    ASSERT_NE(engine, nullptr);
    logEvent("scan_started");
    const std::string id = APMIdentity::randomAppInstanceID();
    ASSERT_TRUE(engine->resetAnalyticsDataWithAppInstanceID(id));
    EXPECT_TRUE(monitor_.saw(23171));
    EXPECT_TRUE(monitor_.saw(23168));
    EXPECT_EQ(APMPersistedConfig::sharedInstance()->appInstanceID(), id);
    // Emptied, then the first open after the reset.
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e"}));
    // The engine goes on storing events.
    logEvent("scan_completed");
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e", "scan_completed"}));
}

TEST_F(LifecycleTest, ResetWithAnEmptyAppInstanceIDIsRefused) {
    std::shared_ptr<APMMeasurement> engine = startEngine(kAppID);
    ASSERT_NE(engine, nullptr);
    EXPECT_FALSE(engine->resetAnalyticsDataWithAppInstanceID(""));
    EXPECT_TRUE(monitor_.saw(23167));
    EXPECT_FALSE(monitor_.saw(23171));
}

TEST_F(LifecycleTest, AFailedStartDisablesCollectionBeforeTheEventsQueuedBehindIt) {
    // A folder that is not empty where the database file should be: opening it fails, and so
    // does deleting it to start afresh.
    std::filesystem::create_directories(databasePath() / "in-the-way");
    APMMeasurement::initializeSharedInstanceWithAppID(kAppID, true, false, {});
    engine_ = APMMeasurement::sharedInstance();
    ASSERT_NE(engine_, nullptr);
    logEvent("scan_started");
    drain(*engine_);
    EXPECT_TRUE(monitor_.saw(23011));
    EXPECT_TRUE(monitor_.saw(23049));
    EXPECT_FALSE(engine_->isEnabled());
    EXPECT_FALSE(engine_->didInitializeComponents());
    // The next enable tries the start again, and succeeds once the file can be made.
    std::filesystem::remove_all(databasePath());
    engine_->setEnabled(true);
    drain(*engine_);
    EXPECT_TRUE(engine_->didInitializeComponents());
    logEvent("scan_started");
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e", "scan_started"}));
}

TEST_F(LifecycleTest, NetworkLevelsMapToMonitorLevels) {
    const std::pair<std::int64_t, std::int64_t> cases[] = {{3, 1}, {4, 4}, {5, 3}, {6, 6},
                                                           {7, 7}, {2, 3}, {8, 3}};
    for (const auto& [network, expected] : cases) {
        EXPECT_EQ(APMMeasurement::monitorLevelFromNetworkLevel(network), expected) << network;
    }
}

}  // namespace
