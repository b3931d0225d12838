#include <cmath>
#include <limits>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/storage/DatabaseTestSupport.h"

namespace {

using sdk::Value;
using sdktest::codeAndMessage;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

class APMDatabaseCountsTest : public sdktest::DatabaseTest {
  protected:
    void SetUp() override {
        database_ = openDatabase();
        ASSERT_TRUE(database_);
    }
    void TearDown() override { TEST_APMSetCurrentTimeInterval(std::nullopt); }

    // Sets the clock `seconds` into day `day` of this installation.
    void setClock(std::int32_t day, double seconds) {
        TEST_APMSetCurrentTimeInterval(config_->midnightOffset() + day * 86400.0 + seconds);
    }

    std::unique_ptr<APMDatabase> database_;
};

TEST(APMDailyCounts, CountersRollOverSaturateAndNeverGoBelowZero) {
    APMDailyCounts counts(10, 1, 5, 3, 1, 1, 1);
    counts.incrementCountsForCurrentDay(10, true, true, 4);
    EXPECT_EQ((std::vector<std::int32_t>{counts.day(), counts.conversionsCount(),
                                         counts.allEventsCount(), counts.publicEventsCount()}),
              (std::vector<std::int32_t>{10, 2, 9, 7}));

    counts.incrementErrorEventsCountForCurrentDay(11);  // a new day zeroes everything first
    counts.incrementRealtimeCountsForCurrentDay(11);
    counts.incrementDCURealtimeCountsForCurrentDay(11);
    counts.incrementCountsForCurrentDay(11, false, false);
    EXPECT_EQ(
        (std::vector<std::int32_t>{counts.day(), counts.conversionsCount(), counts.allEventsCount(),
                                   counts.publicEventsCount(), counts.errorEventsCount(),
                                   counts.realtimeCount(), counts.dcuRealtimeCount()}),
        (std::vector<std::int32_t>{11, 0, 2, 0, 1, 1, 1}));

    APMDailyCounts empty(3, 0, 0, 0, 0, 0, 0);
    empty.decrementAllEventsCount();
    EXPECT_EQ(empty.allEventsCount(), 0);

    // Taking back several events: never below 0, and a negative count takes nothing.
    APMDailyCounts some(3, 0, 5, 0, 0, 0, 0);
    some.decrementAllEventsCount(3);
    EXPECT_EQ(some.allEventsCount(), 2);
    some.decrementAllEventsCount(-4);
    EXPECT_EQ(some.allEventsCount(), 2);
    some.decrementAllEventsCount(7);
    EXPECT_EQ(some.allEventsCount(), 0);

    APMDailyCounts full(3, kMax, kMax - 1, kMax, 0, kMax, kMax);
    full.incrementCountsForCurrentDay(3, true, true, 5);
    full.incrementRealtimeCountsForCurrentDay(3);
    full.incrementDCURealtimeCountsForCurrentDay(3);
    EXPECT_EQ(full.conversionsCount(), kMax);
    EXPECT_EQ(full.allEventsCount(), kMax);
    EXPECT_EQ(full.publicEventsCount(), kMax);
    EXPECT_EQ(full.realtimeCount(), kMax);
    EXPECT_EQ(full.dcuRealtimeCount(), kMax);
}

TEST(APMDailyCounts, DayNumberCountsFromTheInstallationsMidnight) {
    struct Case {
        double now;
        double offset;
        std::int32_t day;
    };
    for (const Case& c : std::vector<Case>{{86400.0 * 5 + 100, 100, 5},
                                           {86400.0 * 5 + 99.999, 100, 4},
                                           {50, 100, -1},
                                           {1e300, 0, kMax},
                                           {std::nan(""), 0, 0}}) {
        EXPECT_EQ(APMDayNumber(c.now, c.offset), c.day) << c.now << " " << c.offset;
    }
}

TEST_F(APMDatabaseCountsTest, NewDayResetsTheCountersBeforeCounting) {
    setClock(20000, 10);
    sdk::Error error;
    std::optional<APMDailyCounts> counts = database_->dailyCounts(&error);
    ASSERT_TRUE(counts) << error.ToString();
    EXPECT_EQ(counts->day(), 20000);  // a NULL day reads as today
    counts->incrementCountsForCurrentDay(database_->currentDay(), true, true);
    counts->incrementErrorEventsCountForCurrentDay(database_->currentDay());
    ASSERT_TRUE(database_->updateDailyCounts(counts, &error)) << error.ToString();
    const std::string columns =
        "select rowid, day, daily_conversions_count, daily_events_count, "
        "daily_public_events_count, daily_error_events_count, "
        "daily_real_time_conversion_events_count, daily_real_time_dcu_events_count "
        "from app_metadata";
    EXPECT_EQ(cli(columns), "1|20000|1|2|1|1|0|0\n");

    setClock(20000, 86399.999);  // still the same day of this installation
    EXPECT_EQ(database_->currentDay(), 20000);
    setClock(20001, 0);
    counts = database_->dailyCounts(&error);
    counts->incrementRealtimeCountsForCurrentDay(database_->currentDay());
    ASSERT_TRUE(database_->updateDailyCounts(counts, &error));
    EXPECT_EQ(cli(columns), "1|20001|0|0|0|0|1|0\n");
}

TEST_F(APMDatabaseCountsTest, CountsBeyondThirtyTwoBitsAreClampedOnRead) {
    cli("update app_metadata set day = 7, daily_events_count = 99999999999, "
        "daily_error_events_count = -99999999999, last_bundle_index = 5000000000");
    std::optional<APMDailyCounts> counts = database_->dailyCounts(nullptr);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->allEventsCount(), kMax);
    EXPECT_EQ(counts->errorEventsCount(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(database_->queryAppMetadata(nullptr)->lastBundleIndex(), kMax);
}

TEST_F(APMDatabaseCountsTest, AppMetadataRoundTripsAndAMissingRowIsAnError) {
    ASSERT_TRUE(database_->updateAppMetadata(APMAppMetadata(12, 3, 100.5, 200.25), nullptr));
    std::optional<APMAppMetadata> metadata = database_->queryAppMetadata(nullptr);
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->lastBundleIndex(), 12);
    EXPECT_EQ(metadata->lastDeliveryIndex(), 3);
    EXPECT_EQ(metadata->lastBundleStartTimestamp(), 100.5);
    EXPECT_EQ(metadata->lastBundleEndTimestamp(), 200.25);
    EXPECT_EQ(cli("select count(*) from app_metadata"), "1\n");

    cli("delete from app_metadata");
    sdk::Error error;
    EXPECT_FALSE(database_->dailyCounts(&error));
    EXPECT_EQ(codeAndMessage(error), "3 Received empty dictionary for getting daily counts");
    EXPECT_FALSE(database_->queryAppMetadata(&error));
    EXPECT_EQ(codeAndMessage(error), "3 Received empty dictionary for getting app metadata");
    EXPECT_FALSE(database_->updateAppMetadata(APMAppMetadata(1, 1, 1, 1), &error));
    EXPECT_EQ(codeAndMessage(error), "2 Failed to update record. Item doesn't exist");
    EXPECT_EQ(cli("select count(*) from app_metadata"), "0\n");
}

TEST_F(APMDatabaseCountsTest, AggregatesWithNullAddOnColumnsReadTheirDefaults) {
    cli("insert into events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
        "values ('_e', 4, 2, 17.5)");
    std::optional<APMEventAggregates> read = database_->eventAggregatesWithName("_e", nullptr);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->lifetimeCount(), 4);
    EXPECT_EQ(read->currentBundleCount(), 2);
    EXPECT_EQ(read->currentSessionCount(), 0);
    EXPECT_EQ(read->lastFireTimestamp(), 17.5);
    EXPECT_EQ(read->lastBundledTimestamp(), 0.0);
    EXPECT_EQ(read->lastSampledComplexEventID(), std::nullopt);
    EXPECT_EQ(read->lastSamplingRate(), 1);
    EXPECT_FALSE(read->lastExemptFromSampling());
    EXPECT_EQ(read->lastBundledDay(), 0);

    APMEventAggregates written("_s", 1, 2, 3, 4.5);
    written.setLastBundledTimestamp(6.5);
    written.setLastSampledComplexEventID(77);
    written.setLastSamplingRate(10);
    written.setLastExemptFromSampling(true);
    written.setLastBundledDay(19000);
    ASSERT_TRUE(database_->updateEventAggregates(written, nullptr));
    EXPECT_EQ(cli("select name, lifetime_count, current_bundle_count, last_fire_timestamp, "
                  "last_bundled_timestamp, last_sampled_complex_event_id, last_sampling_rate, "
                  "last_exempt_from_sampling, last_bundled_day, current_session_count "
                  "from events where name = '_s'"),
              "_s|1|2|4.5|6.5|77|10|1|19000|3\n");
    EXPECT_EQ(database_->eventAggregatesWithName("missing", nullptr), std::nullopt);
}

TEST_F(APMDatabaseCountsTest, NamesBeyondTheTwoThousandthAreRefusedKnownOnesUpdate) {
    ASSERT_TRUE(database_->performTransaction([&] {
        for (int i = 0; i < 2000; ++i) {
            if (!database_->updateEventAggregates(
                    APMEventAggregates("e" + std::to_string(i), 1, 1, 1, 1.0), nullptr)) {
                return false;
            }
        }
        return true;
    }));
    sdk::Error error;
    EXPECT_FALSE(database_->updateEventAggregates(APMEventAggregates("new", 1, 1, 1, 1.0), &error));
    EXPECT_EQ(codeAndMessage(error), "2 Failed to insert data type. Table is full");
    EXPECT_TRUE(database_->updateEventAggregates(APMEventAggregates("e7", 9, 1, 1, 1.0), &error));
    EXPECT_EQ(database_->eventAggregatesWithName("e7", nullptr)->lifetimeCount(), 9);
    EXPECT_EQ(database_->allEventAggregates(nullptr)->size(), 2000u);

    EXPECT_FALSE(database_->updateEventAggregates(std::nullopt, &error));
    EXPECT_EQ(codeAndMessage(error),
              "3 Received empty event aggregates object for getting dictionary representation");
    EXPECT_FALSE(database_->updateEventAggregates(APMEventAggregates("", 1, 1, 1, 1.0), &error));
    EXPECT_EQ(codeAndMessage(error),
              "3 Received event aggregates object with empty name for getting dictionary "
              "representation");
}

TEST_F(APMDatabaseCountsTest, PublicEventCountSkipsUnderscoreNamesOnly) {
    for (const char* name : {"_e", "_s", "scan_started", "a_b", "%x", "x_"}) {
        ASSERT_TRUE(
            database_->updateEventAggregates(APMEventAggregates(name, 1, 1, 1, 1.0), nullptr));
    }
    EXPECT_EQ(database_->publicEventCount(nullptr), 4);
}

TEST_F(APMDatabaseCountsTest, SessionCountsClearAndAggregatesDelete) {
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates("_e", 5, 4, 3, 1.0), nullptr));
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates("_s", 5, 4, 2, 1.0), nullptr));
    ASSERT_TRUE(database_->clearCurrentSessionCounts(nullptr));
    EXPECT_EQ(cli("select name, lifetime_count, current_session_count from events order by name"),
              "_e|5|0\n_s|5|0\n");
    ASSERT_TRUE(database_->deleteAllEventAggregates(nullptr));
    EXPECT_EQ(database_->allEventAggregates(nullptr)->size(), 0u);
}

TEST_F(APMDatabaseCountsTest, SnapshotRestoreKeepsTheCurrentFirstOpenWhenTheSnapshotHasNone) {
    sdk::Error error;
    EXPECT_TRUE(database_->restoreFromEventsSnapshotTable(&error)) << error.ToString();
    EXPECT_EQ(database_->eventAggregatesSnapshotWithName("_e", &error), std::nullopt);
    EXPECT_TRUE(error.ok());

    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates("_e", 3, 1, 1, 1.0), nullptr));
    ASSERT_TRUE(database_->createEventsSnapshotTable(&error)) << error.ToString();
    EXPECT_EQ(database_->eventAggregatesSnapshotWithName("_e", nullptr)->lifetimeCount(), 3);

    // After the snapshot: a first open is recorded and "_e" grows.
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates("_f", 1, 1, 1, 2.0), nullptr));
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates("_e", 8, 1, 1, 2.0), nullptr));
    ASSERT_TRUE(database_->restoreFromEventsSnapshotTable(&error)) << error.ToString();
    EXPECT_EQ(cli("select name, lifetime_count from events order by name"), "_e|3\n_f|1\n");
    EXPECT_EQ(cli("select count(*) from events_snapshot"), "0\n");

    // A snapshot with its own "_f" wins.
    ASSERT_TRUE(database_->createEventsSnapshotTable(&error));
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates("_f", 6, 1, 1, 3.0), nullptr));
    ASSERT_TRUE(database_->restoreFromEventsSnapshotTable(&error));
    EXPECT_EQ(cli("select name, lifetime_count from events order by name"), "_e|3\n_f|1\n");
}

TEST_F(APMDatabaseCountsTest, FailedRestoreLeavesTheAggregatesAsTheyWere) {
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates("_e", 3, 1, 1, 1.0), nullptr));
    // A snapshot whose rows do not fit "events": the copy back fails after "events" was emptied.
    cli("create table events_snapshot (name TEXT); insert into events_snapshot values ('_x')");
    sdk::Error error;
    EXPECT_FALSE(database_->restoreFromEventsSnapshotTable(&error));
    EXPECT_FALSE(error.ok());
    EXPECT_EQ(cli("select name, lifetime_count from events"), "_e|3\n");

    // Inside the caller's transaction the steps join it.
    EXPECT_FALSE(database_->performTransaction(
        [&] { return database_->restoreFromEventsSnapshotTable(nullptr); }));
    EXPECT_EQ(cli("select name, lifetime_count from events"), "_e|3\n");
}

}  // namespace
