// Bundling raw events into the upload queue: the runs a pass takes, the header fields, the
// engagement totals, customer types, block lists, consent transitions, the stitching token,
// sampling and the rollback of a failed pass. Queue rows are read back with sqlite3, gzip and
// protoc.
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"
#include "tests/sdk/measurement/storage/RecordTestSupport.h"

namespace {

namespace Bundle = apmpb::MeasurementBundle;

constexpr const char* kApp = "1:111:macos:aa";
// Yesterday 10:00:00 UTC: within the queue's time span, and a whole second.
const double kTen = std::floor(APMCurrentTimeInterval() / 86400) * 86400 - 86400 + 36000;

// Wire milliseconds of a time, as text.
std::string ms(double seconds) {
    return std::to_string(static_cast<std::int64_t>(seconds * 1000));
}

class BundlingTest : public sdktest::EngineTest {
  protected:
    void SetUp() override {
        engine_ = startEngine(kApp);
        ASSERT_NE(engine_, nullptr);
        ASSERT_TRUE(engine_->didInitializeComponents());
    }

    void onWorker(const std::function<void()>& block) {
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, block);
    }

    // The metadata the write path would store now, with `edit` applied.
    std::unique_ptr<APMPBMeasurementBundle> metadata(
        const std::function<void(APMPBMeasurementBundle&)>& edit = {}) {
        std::unique_ptr<APMPBMeasurementBundle> made;
        onWorker([&] { made = engine_->createRawEventMetadataWithUserAttributes({}); });
        if (edit) {
            edit(*made);
        }
        return made;
    }

    static APMEvent event(const std::string& name, double timestamp, APMRawParameters params = {}) {
        std::optional<APMEvent> made =
            APMEvent::initWithOrigin("app", false, name, timestamp, 0, params,
                                     APMRemoteConfig::current()->parameterLimits());
        EXPECT_TRUE(made.has_value()) << name;
        return *made;
    }

    // Stores the events as raw events of `meta`, in order, in one transaction.
    void writeRaw(const APMPBMeasurementBundle& meta, const std::vector<APMEvent>& events) {
        onWorker([&] {
            APMDatabase& db = *engine_->database();
            const sdk::Bytes encoded = meta.protoBuffer().value_or(sdk::Bytes{});
            const std::int64_t fingerprint = apm_64LSBMD5(encoded);
            ASSERT_TRUE(db.performTransaction([&] {
                sdk::Error error;
                bool ok = db.insertIfNotExistsRawEventMetadata(&meta, &error);
                for (const APMEvent& e : events) {
                    ok = ok && db.insertRawEvent(&e, fingerprint, false, &error);
                }
                return ok;
            }));
        });
    }

    void storeConfigWith(const std::vector<std::pair<std::string, std::string>>& settings,
                         const std::function<void(APMPBMeasurementConfig&)>& edit = {}) {
        std::unique_ptr<APMPBMeasurementConfig> config = sdktest::makeConfig(kApp, settings);
        if (edit) {
            edit(*config);
        }
        onWorker([&] {
            ASSERT_TRUE(engine_->remoteConfigInstance()->updateMeasurementConfig(config.get()));
        });
    }

    bool bundle() {
        bool progress = false;
        onWorker([&] { progress = engine_->bundleRawEvents(); });
        return progress;
    }

    // protoc's text of the queued bundle in `row` (1 for the first).
    std::string queued(int row) {
        const std::filesystem::path gz = home() / ("bundle" + std::to_string(row) + ".gz");
        const std::filesystem::path bin = home() / ("bundle" + std::to_string(row) + ".bin");
        sqlite("select writefile('" + gz.string() +
               "', data) from queue where rowid = " + std::to_string(row));
        sdktest::shellOutput("gzip -dc '" + gz.string() + "' > '" + bin.string() + "'");
        return sdktest::protocDecode(bin, "apmpb.MeasurementBundle");
    }

    static int count(const std::string& text, const std::string& what) {
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + what.size())) {
            ++n;
        }
        return n;
    }

    // The value of the first top-level "field: value" line of `text`.
    static std::string field(const std::string& text, const std::string& name) {
        const std::string key = "\n" + name + ": ";
        const std::size_t at = ("\n" + text).find(key);
        if (at == std::string::npos) {
            return "<absent>";
        }
        const std::size_t start = at + key.size() - 1;
        return text.substr(start, text.find('\n', start) - start);
    }
};

TEST_F(BundlingTest, RunsOfOneGroupAndHourAreCutAtTheCountLimitAndTheGroupGoesWithTheLastRow) {
    storeConfigWith({{"measurement.upload.max_batch_size", "10485760"}});
    std::vector<APMEvent> events;
    for (int i = 0; i < 2500; ++i) {
        events.push_back(event("ev", kTen + i * 0.5, {{"n", sdk::Value(std::int64_t{i})}}));
    }
    writeRaw(*metadata(), events);
    for (int expected : {1000, 1000, 500}) {
        ASSERT_TRUE(bundle());
        const int row = std::stoi(sqlite("select max(rowid) from queue"));
        const std::string text = queued(row);
        EXPECT_EQ(count(text, "\nevents {"), expected);
    }
    // Row order: the third bundle ends with the last event written.
    const std::string last = queued(3);
    EXPECT_NE(last.find("int_value: 2499"), std::string::npos);
    EXPECT_NE(last.find("int_value: 2000"), std::string::npos);
    EXPECT_EQ(sqlite("select count(*) from raw_events; select count(*) from raw_events_metadata"),
              "0\n0\n");
    EXPECT_FALSE(bundle()) << "nothing left";
}

TEST_F(BundlingTest, AnHourBoundaryAGroupChangeAndAnOversizedEventEachStartANewBundle) {
    storeConfigWith({{"measurement.upload.max_batch_size", "60"}});
    const auto a = metadata();
    const auto b = metadata([](APMPBMeasurementBundle& m) {
        APMPBSetString(&m, Bundle::kUserDefaultLanguage, "xx-other");
    });
    const std::string longText(90, 'x');
    writeRaw(*a, {event("a1", kTen + 3599), event("a2", kTen + 3600)});
    writeRaw(*b, {event("b1", kTen + 3600)});
    writeRaw(*a, {event("a3", kTen + 3600)});
    writeRaw(*a, {event("big", kTen + 3600, {{"t", sdk::Value(longText)}}),
                  event("big2", kTen + 3600, {{"t", sdk::Value(longText)}})});
    std::vector<std::string> names;
    while (bundle()) {
        const int row = std::stoi(sqlite("select max(rowid) from queue"));
        const std::string text = queued(row);
        ASSERT_EQ(count(text, "\nevents {"), 1) << text;
        const std::size_t at = text.find("\n  name: \"") + 1;
        names.push_back(text.substr(at + 9, text.find('"', at + 9) - at - 9));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a1", "a2", "b1", "a3", "big", "big2"}));
}

TEST_F(BundlingTest, HeaderFieldsFollowThePreviousBundleAndTheAppMetadataRow) {
    storeConfigWith({}, [](APMPBMeasurementConfig& c) {
        APMPBSetInt64(&c, apmpb::MeasurementConfig::kVersion, 42);
    });
    const double period = engine_->remoteConfigInstance()->monitoringSamplePeriod();
    engine_->persistedConfig()->setLastMonitorDataSampledTimestamp(APMCurrentTimeInterval() -
                                                                   2 * period - 10);
    const auto meta = metadata();
    writeRaw(*meta, {event("e", kTen + 1.25), event("e", kTen + 7.5)});
    // No sample, and the last one sent is older than the period: an empty sample is due.
    APMMeasurement::monitor().clearMonitoringData();
    ASSERT_TRUE(bundle());
    const std::string first = queued(1);
    EXPECT_EQ(field(first, "start_timestamp_millis"), ms(kTen + 1.25));
    EXPECT_EQ(field(first, "end_timestamp_millis"), ms(kTen + 7.5));
    EXPECT_EQ(field(first, "previous_bundle_end_timestamp_millis"), "<absent>");
    EXPECT_EQ(field(first, "bundle_index"), "2");
    EXPECT_EQ(field(first, "config_version"), "42");
    EXPECT_EQ(field(first, "monitoring_data"), "\"0:\"");
    EXPECT_NEAR(engine_->persistedConfig()->lastMonitorDataSampledTimestamp(),
                APMCurrentTimeInterval(), 60);
    const std::string delivery = field(first, "delivery_index");

    writeRaw(*meta, {event("e", kTen + 20), event("e", kTen + 21), event("e", kTen + 22)});
    ASSERT_TRUE(bundle());
    const std::string second = queued(2);
    EXPECT_EQ(field(second, "previous_bundle_end_timestamp_millis"), ms(kTen + 7.5));
    EXPECT_EQ(field(second, "previous_bundle_start_timestamp_millis"), ms(kTen + 1.25));
    EXPECT_EQ(field(second, "bundle_index"), "5");
    EXPECT_EQ(std::stoi(field(second, "delivery_index")), std::stoi(delivery) + 1);
    EXPECT_EQ(field(second, "monitoring_data"), "<absent>") << "sampled a moment ago";
    EXPECT_EQ(sqlite("select last_bundle_index, last_bundle_start_timestamp, "
                     "last_bundle_end_timestamp, last_delivery_index from app_metadata"),
              "5|" + std::to_string(static_cast<std::int64_t>(kTen) + 20) + ".0|" +
                  std::to_string(static_cast<std::int64_t>(kTen) + 22) + ".0|" +
                  field(second, "delivery_index") + "\n");
}

TEST_F(BundlingTest, EngagementTimeRaisesTheLifetimeTotalAndASessionStartResetsTheSessionOne) {
    sqlite(
        "insert into user_attributes (name, set_timestamp, value, origin) values "
        "('_lte', 1, 1000, 'auto'), ('_se', 1, 700, 'auto')");
    const auto meta = metadata();
    writeRaw(
        *meta,
        {event("_e", kTen, {{"_et", sdk::Value(std::int64_t{2000})}}),
         event("_e", kTen + 1, {{"_et", sdk::Value(std::int64_t{3000})}}),
         event("_e", kTen + 2,
               {{"_et", sdk::Value(std::int64_t{400})}, {"_fr", sdk::Value(std::int64_t{1})}})});
    ASSERT_TRUE(bundle());
    // Only the engagement totals: the engine's start has reported the first open ("_fot") too.
    EXPECT_EQ(sqlite("select name, value from user_attributes where name in ('_lte', '_se') "
                     "order by name"),
              "_lte|6000\n_se|5700\n");
    const std::string text = queued(1);
    EXPECT_NE(text.find("name: \"_lte\"\n  int_value: 6000"), std::string::npos) << text;

    writeRaw(*meta, {event("_s", kTen + 10),
                     event("_e", kTen + 11, {{"_et", sdk::Value(std::int64_t{250})}})});
    ASSERT_TRUE(bundle());
    EXPECT_EQ(sqlite("select name, value from user_attributes where name in ('_lte', '_se') "
                     "order by name"),
              "_lte|6250\n_se|250\n");
}

TEST_F(BundlingTest, ASecondPurchaseOfAFreshInstallIsReturning) {
    // Through the engine's write path, which makes the names' aggregates rows (counts 0).
    onWorker([&] {
        engine_->writeFilteredEventOnWorkerQueue(event("purchase", kTen));
        engine_->writeFilteredEventOnWorkerQueue(event("purchase", kTen + 1));
    });
    ASSERT_EQ(sqlite("select count(*) from raw_events"), "2\n");
    ASSERT_TRUE(bundle());
    const std::string text = queued(1);
    const std::size_t fresh = text.find("string_value: \"new\"");
    const std::size_t returning = text.find("string_value: \"returning\"");
    ASSERT_NE(fresh, std::string::npos) << text;
    ASSERT_NE(returning, std::string::npos) << text;
    EXPECT_LT(fresh, returning);
    EXPECT_EQ(sqlite("select lifetime_count from events where name = 'purchase'"), "2\n");
}

TEST_F(BundlingTest, EventsAreRecheckedAgainstTodaysConversionLimitAndReservedNames) {
    storeConfigWith({{"measurement.upload.max_conversions_per_day", "1"}},
                    [](APMPBMeasurementConfig& c) {
                        auto conversion = std::make_shared<APMPBEventConfig>();
                        APMPBSetString(conversion.get(), apmpb::EventConfig::kName, "buy");
                        APMPBSetBool(conversion.get(), apmpb::EventConfig::kCustomConversion, true);
                        sdktest::appendElement(c, apmpb::MeasurementConfig::kEventConfig,
                                               conversion, &APMPBEventConfig::makeShared);
                    });
    // Yesterday's counts at the limit do not count today.
    sqlite("update app_metadata set day = 1, daily_conversions_count = 1");
    const auto meta =
        metadata([](APMPBMeasurementBundle& m) { APMPBClearField(&m, Bundle::kAppId); });
    writeRaw(*meta, {event("buy", kTen), event("buy", kTen + 1), event("ad_impression", kTen + 2)});
    ASSERT_TRUE(bundle());
    const std::string text = queued(1);
    EXPECT_EQ(count(text, "name: \"_c\"\n    int_value: 1"), 1) << text;
    EXPECT_TRUE(monitor_.saw(23102));
    EXPECT_NE(text.find("\n  name: \"_ai\""), std::string::npos) << "reserved name mapped";
    EXPECT_EQ(text.find("ad_impression"), std::string::npos);
    // Without an app ID in the metadata: the identity's, else the bundle identifier.
    std::optional<std::string> identityAppID;
    onWorker([&] { identityAppID = engine_->identity()->appID(); });
    EXPECT_EQ(field(text, "app_id"),
              "\"" + identityAppID.value_or(platform::Bundle::mainBundleIdentifier()) + "\"");
    EXPECT_EQ(sqlite("select daily_conversions_count from app_metadata; "
                     "select is_realtime from queue"),
              "1\n1\n");
}

TEST_F(BundlingTest, ARunOfBlocklistedEventsIsDeletedWithoutABundle) {
    storeConfigWith({}, [](APMPBMeasurementConfig& c) {
        sdktest::addEventConfig(c, "gone", true);
        sdktest::addEventConfig(c, "gone2", true);
    });
    writeRaw(*metadata(), {event("gone", kTen), event("gone2", kTen + 1)});
    EXPECT_TRUE(bundle()) << "a deleted run is progress";
    EXPECT_TRUE(monitor_.saw(23099));
    EXPECT_TRUE(monitor_.saw(23100));
    EXPECT_EQ(sqlite("select count(*) from queue; select count(*) from raw_events"), "0\n0\n");
}

TEST_F(BundlingTest, AnalyticsConsentDeniedSnapshotsTheEventsTableAndGrantedRestoresIt) {
    const auto with = [&](const char* signals) {
        return metadata([signals](APMPBMeasurementBundle& m) {
            APMPBSetString(&m, Bundle::kConsentSignals, signals);
        });
    };
    writeRaw(*with("G111"), {event("a", kTen)});
    ASSERT_TRUE(bundle());
    EXPECT_EQ(sqlite("select count(*) from sqlite_master where name = 'events_snapshot'"), "0\n");
    writeRaw(*with("G110"), {event("b", kTen + 1)});
    ASSERT_TRUE(bundle());
    EXPECT_EQ(sqlite("select name from events_snapshot order by name"), "a\n");
    EXPECT_EQ(sqlite("select name from events order by name"), "a\nb\n");
    writeRaw(*with("G111"), {event("c", kTen + 2)});
    ASSERT_TRUE(bundle());
    EXPECT_EQ(sqlite("select name from events order by name"), "a\nc\n");
}

TEST_F(BundlingTest, TheStitchingTokenStaysOnlyWhileItsFeatureIsOn) {
    const auto meta = metadata([](APMPBMeasurementBundle& m) {
        APMPBSetString(&m, Bundle::kSessionStitchingToken, "token-1");
    });
    writeRaw(*meta, {event("e", kTen)});
    ASSERT_TRUE(bundle());
    EXPECT_EQ(field(queued(1), "session_stitching_token"), "<absent>");
    storeConfigWith({{"measurement.session_stitching_token_enabled", "1"}});
    writeRaw(*meta, {event("e", kTen + 1)});
    ASSERT_TRUE(bundle());
    EXPECT_EQ(field(queued(2), "session_stitching_token"), "\"token-1\"");
}

// Rows that can never be bundled must not stop the groups after them.
TEST_F(BundlingTest, AnUnreadableRunOrAGroupWithoutMetadataIsDeletedAndLaterGroupsFollow) {
    const auto a = metadata();
    const auto b = metadata([](APMPBMeasurementBundle& m) {
        APMPBSetString(&m, Bundle::kUserDefaultLanguage, "xx-other");
    });
    const auto c = metadata([](APMPBMeasurementBundle& m) {
        APMPBSetString(&m, Bundle::kUserDefaultLanguage, "xx-third");
    });
    writeRaw(*a, {event("unreadable", kTen)});
    writeRaw(*b, {event("orphan", kTen + 1), event("orphan", kTen + 2)});
    writeRaw(*c, {event("kept", kTen + 3)});
    sqlite("update raw_events set data = X'FFFFFFFF' where name = 'unreadable'");
    sqlite(
        "delete from raw_events_metadata where metadata_fingerprint = "
        "(select metadata_fingerprint from raw_events where name = 'orphan' limit 1)");
    EXPECT_TRUE(bundle());
    EXPECT_TRUE(monitor_.saw(23096));
    EXPECT_TRUE(bundle());
    EXPECT_TRUE(monitor_.saw(23098));
    EXPECT_EQ(sqlite("select name from raw_events"), "kept\n");
    EXPECT_EQ(sqlite("select count(*) from queue"), "0\n");
    EXPECT_TRUE(bundle());
    EXPECT_NE(queued(1).find("\n  name: \"kept\""), std::string::npos);
    EXPECT_EQ(sqlite("select count(*) from raw_events; select count(*) from raw_events_metadata"),
              "0\n0\n");
}

TEST_F(BundlingTest, AFailedInsertRollsThePassBack) {
    // A real-time event: the pass counts it in the daily counts of "app_metadata".
    APMEvent realtime = event("e", kTen);
    realtime.setRealtime(true);
    writeRaw(*metadata(), {realtime, event("f", kTen + 1)});
    const std::string dump =
        "select * from raw_events; select * from events; "
        "select * from app_metadata";
    const std::string before = sqlite(dump);
    sqlite("drop table queue");
    EXPECT_FALSE(bundle());
    EXPECT_TRUE(monitor_.saw(23115));
    EXPECT_EQ(sqlite(dump), before);
}

// Sampling ---------------------------------------------------------------------------------------

class SamplingTest : public BundlingTest {
  protected:
    void configureRate(std::int32_t rate) {
        storeConfigWith(
            {{"measurement.event_sampling_enabled", "1"},
             {"measurement.upload.max_batch_size", "10485760"}},
            [rate](APMPBMeasurementConfig& c) { sdktest::addEventConfig(c, "s", false, rate); });
    }
};

TEST_F(SamplingTest, ANeverSucceedingDrawKeepsOnlyTheFirstEventOfTheDayAsExempt) {
    configureRate(10);
    APMMeasurementTestPeer::setSamplingDraw(*engine_, false);
    writeRaw(*metadata(), {event("s", kTen), event("other", kTen + 1), event("s", kTen + 2),
                           event("s", kTen + 3)});
    ASSERT_TRUE(bundle());
    const std::string text = queued(1);
    EXPECT_EQ(count(text, "\nevents {"), 2) << text;
    EXPECT_EQ(count(text, "name: \"_sr\"\n    int_value: 10"), 1) << text;
    EXPECT_EQ(count(text, "name: \"_efs\"\n    int_value: 1"), 1) << text;
    EXPECT_EQ(sqlite("select last_sampling_rate, last_exempt_from_sampling, last_bundled_day "
                     "from events where name = 's'"),
              "10|1|" + std::to_string(static_cast<std::int64_t>(kTen) / 86400) + "\n");

    // The same day again: everything sampled out, the run goes without a bundle.
    writeRaw(*metadata(), {event("s", kTen + 60), event("s", kTen + 61)});
    EXPECT_TRUE(bundle());
    EXPECT_TRUE(monitor_.saw(23159));
    EXPECT_EQ(sqlite("select count(*) from queue; select count(*) from raw_events"), "1\n0\n");
}

TEST_F(SamplingTest, AnAlwaysSucceedingDrawKeepsEveryEventWithItsRateAndNoExemption) {
    configureRate(10);
    APMMeasurementTestPeer::setSamplingDraw(*engine_, true);
    writeRaw(*metadata(), {event("s", kTen), event("s", kTen + 1),
                           event("s", kTen + 2, {{"_sr", sdk::Value(std::int64_t{3})}})});
    ASSERT_TRUE(bundle());
    const std::string text = queued(1);
    EXPECT_EQ(count(text, "\nevents {"), 3);
    EXPECT_EQ(count(text, "name: \"_sr\"\n    int_value: 10"), 2) << text;
    EXPECT_EQ(count(text, "name: \"_sr\"\n    int_value: 3"), 1) << "its own rate stays";
    EXPECT_EQ(count(text, "_efs"), 0);
}

TEST_F(SamplingTest, ARateOfOneIsRefusedAndTheEventPassesUnsampled) {
    configureRate(1);
    APMMeasurementTestPeer::setSamplingDraw(*engine_, false);
    writeRaw(*metadata(), {event("s", kTen), event("s", kTen + 1)});
    ASSERT_TRUE(bundle());
    EXPECT_TRUE(monitor_.saw(23154));
    const std::string text = queued(1);
    EXPECT_EQ(count(text, "\nevents {"), 2);
    EXPECT_EQ(count(text, "_sr"), 0);
}

TEST_F(SamplingTest, ADroppedComplexEventLeavesItsIDUntilTheNextKeptEvent) {
    configureRate(10);
    APMMeasurementTestPeer::setSamplingDraw(*engine_, false);
    writeRaw(*metadata(),
             {event("s", kTen), event("s", kTen + 1, {{"_eid", sdk::Value(std::int64_t{7})}})});
    ASSERT_TRUE(bundle());
    EXPECT_EQ(sqlite("select last_sampled_complex_event_id from events where name = 's'"), "7\n");
    APMMeasurementTestPeer::setSamplingDraw(*engine_, true);
    writeRaw(*metadata(), {event("s", kTen + 2)});
    ASSERT_TRUE(bundle());
    EXPECT_EQ(sqlite("select last_sampled_complex_event_id is null from events where name = 's'"),
              "1\n");
}

TEST_F(SamplingTest, WithoutARecordedDayThePreviousTimeTellsWhetherTheDayIsNew) {
    configureRate(10);
    APMMeasurementTestPeer::setSamplingDraw(*engine_, false);
    writeRaw(*metadata(), {event("s", kTen)});
    ASSERT_TRUE(bundle());
    // A row from before bundled days were recorded: only the event's previous time (kTen) tells
    // that this account day already had its exempt event.
    sqlite("update events set last_bundled_day = 0 where name = 's'");
    writeRaw(*metadata(), {event("s", kTen + 60)});
    EXPECT_TRUE(bundle());
    EXPECT_EQ(sqlite("select count(*) from queue; select count(*) from raw_events"), "1\n0\n");
}

TEST_F(SamplingTest, DebugModeSamplesNothing) {
    configureRate(10);
    APMMeasurementTestPeer::setSamplingDraw(*engine_, false);
    APMMeasurement::monitor().setDebugModeEnabled(true);
    writeRaw(*metadata(), {event("s", kTen), event("s", kTen + 1), event("s", kTen + 2)});
    ASSERT_TRUE(bundle());
    APMMeasurement::monitor().setDebugModeEnabled(false);
    const std::string text = queued(1);
    EXPECT_EQ(count(text, "\nevents {"), 3);
    EXPECT_EQ(count(text, "_sr"), 0);
}

TEST(AccountDayNumber, TruncatesTheOffsetTimeAndSaturates) {
    const double halfPastMidnightJan2 = 86400 + 1800;
    struct Case {
        double seconds;
        std::int32_t offsetMinutes;
        std::int32_t day;
    };
    for (const Case& c : std::vector<Case>{{halfPastMidnightJan2, -60, 0},
                                           {halfPastMidnightJan2, 0, 1},
                                           {-1800, 0, 0},  // toward zero, not down
                                           {-86400 * 2.5, 0, -2},
                                           {1e300, 0, std::numeric_limits<std::int32_t>::max()},
                                           {-1e300, 0, std::numeric_limits<std::int32_t>::min()},
                                           {std::nan(""), 0, 0}}) {
        EXPECT_EQ(APMMeasurement::accountDayNumber(c.seconds, c.offsetMinutes), c.day)
            << c.seconds << " " << c.offsetMinutes;
    }
}

}  // namespace
