#include "sdk/measurement/engine/APMMonitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <memory>

#include "platform/process/ProcessArguments.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "sdk/utilities/VDULogger.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/APMMonitorTestPeer.h"
#include "tests/sdk/measurement/engine/EngineTestSupport.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kPrefix = "com.vovidu.razudizo.analytics  - <DivEdadevadeze>";

class APMMonitorTest : public ::testing::Test {
  protected:
    APMMonitor& monitor_ = APMMonitor::shared();
    sdktest::LoggedLines lines_;  // resets the shared logger to level 5
    sdktest::MonitorRecorder recorder_;
};

TEST_F(APMMonitorTest, LevelDecidesWhetherAMessagePrints) {
    struct Case {
        std::int64_t level;
        bool prints;  // at the shared logger's default level 5
    };
    const Case cases[] = {{0, true},  {1, true}, {2, false}, {3, true},  {4, true},
                          {5, false}, {6, true}, {7, false}, {8, false}, {9, false}};
    for (const Case& c : cases) {
        monitor_.logWithLevel(c.level, 1, "m");
        const auto printed = lines_.take();
        EXPECT_EQ(printed.size(), c.prints ? 1u : 0u) << "level " << c.level;
    }
    EXPECT_EQ(recorder_.messages().size(), std::size(cases)) << "the observer sees them all";
}

TEST_F(APMMonitorTest, DebugAndVerboseLevelsFollowTheSharedLoggerAndTheVerboseSwitch) {
    VDULoggerSetLevel(VDULoggerLevelDebug);
    monitor_.logWithLevel(7, 2, "debug");
    monitor_.logWithLevel(8, 3, "verbose");
    EXPECT_EQ(lines_.take().size(), 1u) << "verbose is off";
    monitor_.setVerboseLoggingEnabled(true);
    monitor_.logWithLevel(8, 3, "verbose");
    monitor_.setVerboseLoggingEnabled(false);
    EXPECT_EQ(lines_.take(), (std::vector<std::string>{
                                 std::string(kPrefix) + "[I-ACS024003] Verbose logging is on",
                                 std::string(kPrefix) + "[I-ACS000003] verbose"}));
    EXPECT_EQ(VDULoggerGetLevel(), VDULoggerLevelNotice) << "back to the notice level";
}

TEST_F(APMMonitorTest, TextJoinsTheContextsAfterTheMessage) {
    const sdk::Error error = apm_errorWithCode(3, "Transaction failed");
    monitor_.logWithLevel(1, 34019, "Failed to delete database. Error", error);
    monitor_.logWithLevel(4, 12047, "Failed to ensure table. Table, error", "queue", 42,
                          APMMonitorContext());
    monitor_.logWithLevel(0, 25018, "");
    monitor_.logWithLevel(0, 1234567, "100% done, %d left");
    EXPECT_EQ(lines_.take(),
              (std::vector<std::string>{
                  std::string(kPrefix) +
                      "[I-ACS034019] Failed to delete database. Error: Error "
                      "Domain=com.vovidu.vud.measurement.ErrorDomain Code=3 \"Transaction "
                      "failed\"",
                  std::string(kPrefix) +
                      "[I-ACS012047] Failed to ensure table. Table, error: queue, 42, <null>",
                  std::string(kPrefix) + "[I-ACS025018] (Message was empty)",
                  std::string(kPrefix) + "[I-ACS1234567] 100% done, %d left"}));
    const auto messages = recorder_.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[1].contexts.size(), 3u);
    EXPECT_EQ(messages[1].level, 4);
}

TEST_F(APMMonitorTest, DebugModeIsAFlag) {
    EXPECT_FALSE(monitor_.isDebugModeEnabled());
    monitor_.setDebugModeEnabled(true);
    EXPECT_TRUE(monitor_.isDebugModeEnabled());
    monitor_.setDebugModeEnabled(false);
    EXPECT_FALSE(monitor_.isDebugModeEnabled());
    EXPECT_EQ(&APMMonitor::shared(), &monitor_);
    EXPECT_EQ(monitor_.libraryVersion(), 111500);
}

TEST(APMMonitorLevels, TableOfNamesAndKinds) {
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(2), "ERROR");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(5), "WARNING");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(6), "NOTICE");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(7), "DEBUG");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(8), "");
    std::string monitorable;
    for (std::int64_t level = 0; level <= 9; ++level) {
        monitorable += APMMonitor::isMonitorableLevel(level) ? '1' : '0';
    }
    EXPECT_EQ(monitorable, "0110110001");
}

}  // namespace

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kHealthKey = "/vovidu/measurement/health_monitor";
constexpr std::string_view kMigrationKey = "/vovidu/measurement/monitor_migration_state";
constexpr double kDay = 86400;

// A monitor of library version 111500 over user defaults in a private folder, with a recorder
// of its messages, a record of printed lines and a settable wall clock.
class LocalMonitorTest : public ::testing::Test {
  protected:
    LocalMonitorTest() { setNow(kStart); }
    ~LocalMonitorTest() override {
        monitor_.reset();
        TEST_APMSetCurrentTimeInterval(std::nullopt);
        platform::TEST_setProcessArguments(std::nullopt);
        VDULoggerSetLevel(VDULoggerLevelNotice);
    }

    static constexpr double kStart = 1.7e9;

    void setNow(double seconds) { TEST_APMSetCurrentTimeInterval(seconds); }

    APMMonitor& makeMonitor() {
        monitor_.reset();
        monitor_ = std::make_unique<APMMonitor>(6, APMASLLogger(), 111500, shared_, suite_);
        APMMonitorTestPeer::setMessageObserver(*monitor_, [this](const APMMonitorMessage& m) {
            std::lock_guard lock(mutex_);
            codes_.push_back(m.code);
        });
        APMMonitorTestPeer::waitForMonitorQueue(*monitor_);
        return *monitor_;
    }

    std::vector<std::int64_t> codes() {
        std::lock_guard lock(mutex_);
        return codes_;
    }

    // The codes of the lines printed so far (the constructor's switches print at level 7 and
    // 8, before any observer is set).
    std::vector<std::int64_t> printedCodes() {
        std::vector<std::int64_t> printed;
        for (const std::string& line : lines_.take()) {
            const std::size_t at = line.find("[I-ACS");
            if (at != std::string::npos) {
                printed.push_back(std::stoll(line.substr(at + 6, 6)));
            }
        }
        return printed;
    }

    cb::testsupport::TempDir folder_{"cb-monitor"};
    sdktest::ScopedEnv configHome_{"XDG_CONFIG_HOME", folder_.path().string()};
    sdktest::LoggedLines lines_;
    std::shared_ptr<APMUserDefaults> shared_ = std::make_shared<APMUserDefaults>(std::nullopt);
    std::shared_ptr<APMUserDefaults> suite_ =
        std::make_shared<APMUserDefaults>("com.vovidu.vud.measurement.monitor");
    std::unique_ptr<APMMonitor> monitor_;
    std::mutex mutex_;
    std::vector<std::int64_t> codes_;  // guarded by mutex_
};

TEST_F(LocalMonitorTest, ThousandMessagesAreDispatchedAsOneSampleAfterThePeriod) {
    APMMonitor& monitor = makeMonitor();
    for (int i = 0; i < 1000; ++i) {
        monitor.logWithLevel(i % 2 == 0 ? 2 : 5, 13001, "Event name is too long. Name", "x");
    }
    EXPECT_EQ(lines_.take(), std::vector<std::string>{}) << "levels 2 and 5 never print";
    APMMonitorTestPeer::waitForMonitorQueue(monitor);  // the sample began before the clock moves on
    setNow(kStart + kDay / 2);
    EXPECT_FALSE(monitor.monitoringDataForDispatch(kDay, 0)) << "the period has not passed";

    setNow(kStart + kDay + 1);
    const std::optional<std::string> data = monitor.monitoringDataForDispatch(kDay, 0);
    ASSERT_TRUE(data);
    const bool error = data->starts_with("1000:1E_111500:Event name is too long. Name:-");
    const bool warning = data->starts_with("1000:1W_111500:Event name is too long. Name:-");
    EXPECT_TRUE(error || warning) << *data;

    EXPECT_FALSE(suite_->objectForKey(kHealthKey)) << "dispatching clears the saved sample";
    EXPECT_FALSE(monitor.monitoringDataForDispatch(kDay, kStart + kDay)) << "a period ago";
    EXPECT_EQ(monitor.monitoringDataForDispatch(kDay, kStart - 1), "0:")
        << "a whole period without messages";
}

TEST_F(LocalMonitorTest, ANewMonitorReloadsTheUnsentSampleFromDisk) {
    makeMonitor().logWithLevel(1, 12047, "Failed to ensure table. Table, error", "queue",
                               apm_errorWithCode(3, "failed", "create table,1"), 12345);
    // Gone with its cached values: the next one reads the suite's file.
    monitor_.reset();
    suite_.reset();
    suite_ = std::make_shared<APMUserDefaults>("com.vovidu.vud.measurement.monitor");
    APMMonitor& reloaded = makeMonitor();
    setNow(kStart + kDay + 1);
    EXPECT_EQ(reloaded.monitoringDataForDispatch(kDay, 0),
              "1:1E_111500:Failed to ensure table. Table, "
              "error:-,com.vovidu.vud.measurement.ErrorDomain,10000...99999,create table,1");
}

TEST_F(LocalMonitorTest, MigrationMovesTheSampleOutOfTheSharedDefaults) {
    const sdk::Value::Array sample{
        sdk::Value("-"), sdk::Value(4), sdk::Value("1W_111500:old"),
        sdk::Value(sdk::Date::fromTimeIntervalSince1970(kStart - 2 * kDay))};
    shared_->setObject(sdk::Value(sample), kHealthKey);
    makeMonitor();
    EXPECT_FALSE(shared_->objectForKey(kHealthKey));
    EXPECT_EQ(suite_->integerForKey(kMigrationKey), 2);
    EXPECT_EQ(monitor_->monitoringDataForDispatch(kDay, 0), "4:1W_111500:old:-");

    // Done once: a later sample in the shared defaults stays where it is.
    shared_->setObject(sdk::Value(sample), kHealthKey);
    makeMonitor();
    EXPECT_TRUE(shared_->objectForKey(kHealthKey));
}

TEST_F(LocalMonitorTest, AnInvalidStoredSampleReadsAsNone) {
    suite_->setInteger(2, kMigrationKey);
    suite_->setObject(sdk::Value(sdk::Value::Array{sdk::Value("-"), sdk::Value(0)}), kHealthKey);
    EXPECT_FALSE(makeMonitor().monitoringDataForDispatch(kDay, 0));
}

TEST_F(LocalMonitorTest, LaunchSwitchesSetDebugAndVerboseModes) {
    platform::TEST_setProcessArguments(std::vector<std::string>{
        "cellarbright", "-APMAnalyticsDebugEnabled", "-REROdazadeveVerboseLoggingEnabled"});
    APMMonitor& monitor = makeMonitor();
    EXPECT_TRUE(monitor.isDebugModeEnabled());
    EXPECT_TRUE(monitor.isVerboseLoggingEnabled());
    EXPECT_EQ(monitor.logLevel(), 8);
    EXPECT_EQ(VDULoggerGetLevel(), VDULoggerLevelDebug);
    EXPECT_TRUE(shared_->boolForKey("/vovidu/measurement/debug_mode"));
    EXPECT_EQ(printedCodes(), (std::vector<std::int64_t>{24000, 24003}));

    // The stored switch alone turns debug mode on next time; an "off" argument wins over it.
    platform::TEST_setProcessArguments(std::vector<std::string>{"cellarbright"});
    EXPECT_TRUE(makeMonitor().isDebugModeEnabled());
    platform::TEST_setProcessArguments(std::vector<std::string>{
        "cellarbright", "-noREROdazadeveDebugEnabled", "-APMAnalyticsVerboseLoggingDisabled"});
    lines_.take();
    APMMonitor& off = makeMonitor();
    EXPECT_FALSE(off.isDebugModeEnabled());
    EXPECT_FALSE(off.isVerboseLoggingEnabled());
    EXPECT_EQ(VDULoggerGetLevel(), VDULoggerLevelNotice);
    EXPECT_FALSE(shared_->objectForKey("/vovidu/measurement/debug_mode"));
    EXPECT_FALSE(shared_->objectForKey("/vovidu/measurement/verbose_logging"));
    EXPECT_EQ(lines_.take(), std::vector<std::string>{}) << "debug lines are off again";
}

TEST_F(LocalMonitorTest, AStoreInstallationIgnoresTheSwitches) {
    sdktest::FixtureMainBundle bundle(folder_.path());
    std::filesystem::create_directory(bundle.path() / "SC_Info");
    platform::TEST_setProcessArguments(std::vector<std::string>{
        "cellarbright", "-APMAnalyticsDebugEnabled", "-APMAnalyticsVerboseLoggingEnabled"});
    APMMonitor& monitor = makeMonitor();
    EXPECT_FALSE(monitor.isDebugModeEnabled());
    EXPECT_FALSE(monitor.isVerboseLoggingEnabled());
    monitor.setDebugModeEnabled(true);
    EXPECT_FALSE(monitor.isDebugModeEnabled());
    EXPECT_EQ(VDULoggerGetLevel(), VDULoggerLevelNotice);
}

TEST_F(LocalMonitorTest, TheCoreMayGovernTheSharedLogger) {
    struct Configuration : VDUClass {
        std::string className() const override { return "RZDConfiguration"; }
    };
    ASSERT_TRUE(VDUClassRegistry::registerClass(std::make_shared<Configuration>()));
    platform::TEST_setProcessArguments(
        std::vector<std::string>{"cellarbright", "-RZDDebugEnabled"});
    VDULoggerSetLevel(VDULoggerLevelWarning);
    APMMonitor& monitor = makeMonitor();
    VDUClassRegistry::TEST_unregisterClass("RZDConfiguration");
    EXPECT_TRUE(monitor.isDebugModeEnabled());
    EXPECT_EQ(VDULoggerGetLevel(), VDULoggerLevelWarning) << "left to the core";
    monitor.setSTGWDebugModeEnabled(false);
    EXPECT_EQ(VDULoggerGetLevel(), VDULoggerLevelWarning);
    EXPECT_FALSE(monitor.isDebugModeEnabled());
    EXPECT_EQ(codes(), (std::vector<std::int64_t>{24007}));
}

TEST_F(LocalMonitorTest, ClearingForgetsTheSampleAndTheDebugSwitch) {
    APMMonitor& monitor = makeMonitor();
    monitor.setDebugModeEnabled(true);
    monitor.logWithLevel(4, 1, "w");
    monitor.clearMonitoringData();
    EXPECT_FALSE(shared_->objectForKey("/vovidu/measurement/debug_mode"));
    EXPECT_FALSE(suite_->objectForKey(kHealthKey));
    setNow(kStart + 2 * kDay);
    EXPECT_FALSE(monitor.monitoringDataForDispatch(kDay, 0));
}

TEST(APMMonitorEncoding, ContextsEncodeAsKindsAndDecades) {
    struct Case {
        APMMonitorContext context;
        std::string encoded;
    };
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    const Case cases[] = {
        {42, "42"},
        {-99, "-99"},
        {100, "100...999"},
        {-100, "-999...-100"},
        {123, "100...999"},
        {-5000, "-9999...-1000"},
        {kMax, "1000000000000000000...9223372036854775807"},
        {kMin, "-9223372036854775808...-1000000000000000000"},
        {1e300, "1000000000000000000...9223372036854775807"},
        {12.9, "12"},
        {true, "1"},
        {"secret text", "-"},
        {APMMonitorContext(), ""},
        {sdk::Value(), ""},
        {sdk::Value(sdk::Bytes{1, 2}), "?"},
        {sdk::Value(sdk::Value::Array{}), "?"},
        {sdk::Error("NSPOSIXErrorDomain", 2, "gone"), "NSPOSIXErrorDomain"},
        {APMCaughtException{"com.razudizo.core", "why"}, "com.razudizo.core"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(APMMonitor::encodedStringWithContextObject(c.context), c.encoded)
            << c.context.description();
    }
    const std::vector<APMMonitorContext> contexts{"a", 7, APMMonitorContext()};
    EXPECT_EQ(APMMonitor::encodedStringWithContextArray(contexts, true), "-, 7, ");
    EXPECT_EQ(APMMonitor::encodedStringWithContextArray(contexts, false), "-,7,");
    EXPECT_EQ(APMMonitor::encodedStringWithContextArray({}, true), "");
    EXPECT_EQ(APMMonitor::stringWithLogMessage("Value", 1, contexts, true), "Value: -, 7, ");
    EXPECT_EQ(APMMonitor::monitoringDataKeyWithMessage("m", 9, 5), "1?_5:m");
}

}  // namespace

namespace {

TEST(APMMonitoringSampledData, ANewMessageReplacesTheSampleOnlyOnADrawOfZero) {
    APMMonitoringSampledData data;
    std::vector<std::int64_t> bounds;
    const auto draw = [&bounds](std::int64_t result) {
        return [&bounds, result](std::int64_t bound) {
            bounds.push_back(bound);
            return result;
        };
    };
    const sdk::Date start = sdk::Date::fromTimeIntervalSince1970(100);
    data.insertOrUpdate("1E_1:a", "-", start, draw(0));
    data.insertOrUpdate("1E_1:b", "", sdk::Date::fromTimeIntervalSince1970(200), draw(1));
    EXPECT_EQ(data.key(), "1E_1:a");
    data.insertOrUpdate("1W_1:c", "7", sdk::Date::fromTimeIntervalSince1970(300), draw(0));
    EXPECT_EQ(data.key(), "1W_1:c");
    EXPECT_EQ(data.encodedContext(), "7");
    EXPECT_EQ(data.population(), 3);
    EXPECT_EQ(data.startDate(), start) << "the sample keeps its start";
    EXPECT_EQ(bounds, (std::vector<std::int64_t>{2, 3})) << "1 / population";

    const APMMonitoringSampledData reread =
        APMMonitoringSampledData::fromStoredValue(data.storedValue());
    EXPECT_EQ(reread.storedValue(), data.storedValue());
}

}  // namespace
