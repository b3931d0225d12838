#include "sdk/measurement/storage/APMDatabase.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/sdk/measurement/storage/DatabaseTestSupport.h"

namespace {

namespace fs = std::filesystem;
using sdk::Value;
using sdktest::codeAndMessage;

class APMDatabaseTest : public sdktest::DatabaseTest {};

TEST_F(APMDatabaseTest, FreshFileHasTheWholeSchemaAndOneAppMetadataRow) {
    sdk::Error error;
    auto database = openDatabase(&error);
    ASSERT_TRUE(database) << error.ToString();
    database.reset();

    std::string tables = cli(".tables");
    std::vector<std::string> names;
    for (std::size_t at = 0; (at = tables.find_first_not_of(" \n", at)) != std::string::npos;) {
        const std::size_t end = tables.find_first_of(" \n", at);
        names.push_back(tables.substr(at, end - at));
        at = end;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{
                         "app_metadata", "audience_filter_values", "conditional_properties",
                         "event_filters", "events", "main_event_params", "odm_values",
                         "property_filters", "purchase_transactions", "queue", "raw_events",
                         "raw_events_metadata", "subscriptions", "user_attributes"}));
    EXPECT_NE(cli("pragma table_info(raw_events)").find("|timestamp|REAL|1|"), std::string::npos);
    const std::string metadataQuery =
        "select rowid, last_bundle_index, last_delivery_index, last_bundle_start_timestamp, "
        "last_bundle_end_timestamp from app_metadata";
    EXPECT_EQ(cli(metadataQuery), "1|0|0|0.0|0.0\n");

    ASSERT_TRUE(openDatabase());
    EXPECT_EQ(cli(metadataQuery), "1|0|0|0.0|0.0\n");
}

TEST_F(APMDatabaseTest, OlderFileGainsItsColumnsAndKeepsItsRows) {
    fs::create_directories(measurementFolder());
    cli("CREATE TABLE app_metadata (last_bundle_index INTEGER NOT NULL, "
        "last_bundle_end_timestamp REAL NOT NULL);"
        "INSERT INTO app_metadata VALUES (41, 1700000000.5);"
        "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
        "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL);"
        "INSERT INTO raw_events VALUES ('_e', 1700000000, 7, x'0102');"
        "CREATE TABLE events (name TEXT NOT NULL PRIMARY KEY, lifetime_count INTEGER NOT NULL, "
        "current_bundle_count INTEGER NOT NULL, last_fire_timestamp REAL NOT NULL);"
        "INSERT INTO events VALUES ('_s', 3, 1, 1700000000.25);");

    sdk::Error error;
    auto database = openDatabase(&error);
    ASSERT_TRUE(database) << error.ToString();
    database.reset();

    EXPECT_EQ(cli("select rowid, last_bundle_index, last_bundle_end_timestamp, "
                  "last_delivery_index, day from app_metadata"),
              "1|41|1700000000.5||\n");
    EXPECT_EQ(cli("select name, timestamp, typeof(timestamp), metadata_fingerprint, hex(data), "
                  "is_realtime from raw_events"),
              "_e|1700000000.0|real|7|0102|\n");
    EXPECT_NE(cli("pragma table_info(raw_events)").find("|timestamp|REAL|1|"), std::string::npos);
    EXPECT_EQ(cli("select name, lifetime_count, current_session_count from events"), "_s|3|\n");
    // The rebuild of raw_events comes before its indexes are made.
    EXPECT_EQ(cli("select name from sqlite_master where type = 'index' and tbl_name = "
                  "'raw_events' order by name"),
              "raw_events_realtime\nraw_events_timestamp\n");
}

// The upload schedule asks these after every stored event: they must not scan the table, or
// storing slows as events pile up.
TEST_F(APMDatabaseTest, UploadScheduleQuestionsUseIndexes) {
    sdk::Error error;
    auto database = openDatabase(&error);
    ASSERT_TRUE(database) << error.ToString();
    database.reset();

    const std::string latest = cli("EXPLAIN QUERY PLAN SELECT MAX(timestamp) FROM raw_events");
    EXPECT_NE(latest.find("USING COVERING INDEX raw_events_timestamp"), std::string::npos)
        << latest;
    const std::string realtime =
        cli("EXPLAIN QUERY PLAN SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1 "
            "LIMIT 1)");
    EXPECT_NE(realtime.find("INDEX raw_events_realtime"), std::string::npos) << realtime;
}

TEST_F(APMDatabaseTest, TableThatCannotBeBroughtUpToDateRemovesTheFile) {
    fs::create_directories(measurementFolder());
    cli("CREATE TABLE queue (data BLOB NOT NULL, bundle_end_timestamp REAL NOT NULL, "
        "mystery INTEGER NOT NULL);");

    sdk::Error error;
    EXPECT_EQ(openDatabase(&error), nullptr);
    EXPECT_FALSE(error.ok());
    EXPECT_TRUE(monitor_.saw(12047));
    EXPECT_TRUE(monitor_.saw(12002));
    EXPECT_FALSE(fs::exists(databasePath()));

    ASSERT_TRUE(openDatabase());
    EXPECT_EQ(cli("select count(*) from app_metadata"), "1\n");
    EXPECT_EQ(cli("pragma table_info(queue)").find("mystery"), std::string::npos);
}

TEST_F(APMDatabaseTest, ALockHeldByAnotherProcessFailsTheOpenAndKeepsTheFile) {
    ASSERT_TRUE(openDatabase());
    cli("INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
        "VALUES ('_s', 3, 1, 1700000000.25)");
    const auto inode = [&] {
        struct stat info {};
        EXPECT_EQ(::stat(databasePath().c_str(), &info), 0);
        return info.st_ino;
    };
    const auto before = inode();
    {
        sdktest::SqliteShell other(databasePath());
        other.holdExclusiveLock();
        monitor_.clear();
        sdk::Error error;
        // Held past the busy timeout: the open fails, and says why.
        EXPECT_FALSE(openDatabase(&error));
        EXPECT_EQ(error.code(), 3) << error.ToString();
        EXPECT_NE(error.message().find("database is locked"), std::string::npos)
            << error.ToString();
    }
    EXPECT_EQ(inode(), before);
    EXPECT_EQ(cli("select name, lifetime_count from events"), "_s|3\n");
    ASSERT_TRUE(openDatabase());
    EXPECT_EQ(cli("select name, lifetime_count from events"), "_s|3\n");
}

TEST_F(APMDatabaseTest, ALockReleasedWithinTheBusyTimeoutIsWaitedFor) {
    ASSERT_TRUE(openDatabase());
    cli("INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
        "VALUES ('_s', 3, 1, 1700000000.25)");
    sdktest::SqliteShell other(databasePath());
    other.holdExclusiveLock();
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        other.finish();
    });
    sdk::Error error;
    auto database = openDatabase(&error);
    release.join();
    ASSERT_TRUE(database) << error.ToString();
    database.reset();
    EXPECT_EQ(cli("select name, lifetime_count from events"), "_s|3\n");
}

TEST_F(APMDatabaseTest, OpensWhileAnotherProcessWritesAllSucceed) {
    ASSERT_TRUE(openDatabase());
    sdktest::SqliteShell writer(databasePath());
    writer.send(".timeout 5000");  // the shell waits for our transactions as we wait for its
    writer.send("CREATE TABLE IF NOT EXISTS churn(x);");
    writer.send("SELECT 'ready';");
    ASSERT_TRUE(writer.waitForLine("ready"));
    // Two hundred write transactions of a quarter megabyte each, one after another.
    for (int i = 0; i < 200; ++i) {
        writer.send(
            "BEGIN IMMEDIATE; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
            "FROM n WHERE i < 64) INSERT INTO churn SELECT randomblob(4096) FROM n; "
            "COMMIT;");
    }
    writer.send("SELECT 'done';");
    std::atomic<bool> done{false};
    std::thread watch([&] { done = writer.waitForLine("done"); });
    int opens = 0;
    std::vector<std::string> failures;
    while (!done && opens < 200) {
        monitor_.clear();
        sdk::Error error;
        if (!openDatabase(&error)) {
            failures.push_back(error.ToString());
        }
        ++opens;
    }
    watch.join();
    writer.finish();
    EXPECT_TRUE(failures.empty()) << failures.size() << " of " << opens
                                  << " opens failed, first: " << failures.front();
    EXPECT_EQ(cli("select count(*) from churn"), "12800\n");
}

TEST_F(APMDatabaseTest, ResetLeavesAnEmptyFullSchemaWithAFreshAppMetadataRow) {
    auto database = openDatabase();
    ASSERT_TRUE(database);
    ASSERT_TRUE(database->updateAppMetadata(APMAppMetadata(9, 4, 10.0, 20.0), nullptr));
    ASSERT_TRUE(database->updateEventAggregates(APMEventAggregates("_e", 1, 1, 1, 5.0), nullptr));
    const std::string schemaBefore = cli(".schema");

    sdk::Error error;
    ASSERT_TRUE(database->reset(&error)) << error.ToString();
    EXPECT_EQ(cli(".schema"), schemaBefore);
    EXPECT_EQ(cli("select count(*) from events"), "0\n");
    EXPECT_EQ(cli("select rowid, last_bundle_index, last_delivery_index from app_metadata"),
              "1|0|0\n");
    // The database goes on working on the new file.
    EXPECT_TRUE(database->updateEventAggregates(APMEventAggregates("_s", 1, 1, 1, 5.0), nullptr));
}

TEST_F(APMDatabaseTest, EmptyNameIsRefused) {
    sdk::Error error;
    EXPECT_EQ(APMDatabase::initWithDatabaseName("", config_, &error), nullptr);
    EXPECT_EQ(codeAndMessage(error), "1 Received empty database name in init");
}

// A record helper that turns a row of "subscriptions" into its id; rows named "bad" fail.
std::optional<std::string> subscriptionID(const APMSqliteRecord& record, sdk::Error*) {
    const Value* id = &record.at("subscription_id");
    if (*id->string() == "bad") {
        return std::nullopt;
    }
    return *id->string();
}

TEST_F(APMDatabaseTest, UpsertAtTheLimitUpdatesKnownKeysAndRefusesNewOnes) {
    auto database = openDatabase();
    const auto upsert = [&](const std::string& name, std::int64_t origin, sdk::Error* error) {
        return database->upsertDataType(
            APMSqliteRecord{{"name", name}, {"set_timestamp", 1.0}, {"value", origin}},
            "odm_values", "name", Value(name), 2, error);
    };
    ASSERT_TRUE(upsert("a", 1, nullptr));
    ASSERT_TRUE(upsert("b", 1, nullptr));
    sdk::Error error;
    EXPECT_TRUE(upsert("a", 2, &error)) << error.ToString();
    EXPECT_FALSE(upsert("c", 1, &error));
    EXPECT_EQ(codeAndMessage(error), "2 Failed to insert data type. Table is full");
    EXPECT_EQ(cli("select name, value from odm_values order by name"), "a|2\nb|1\n");
}

TEST_F(APMDatabaseTest, UpdateOfAMissingKeyFailsAndWritesNothing) {
    auto database = openDatabase();
    sdk::Error error;
    EXPECT_FALSE(database->updateDataType(APMSqliteRecord{{"subscription_id", "x"}},
                                          "subscriptions", "subscription_id", Value("x"), &error));
    EXPECT_EQ(codeAndMessage(error), "2 Failed to update record. Item doesn't exist");
    EXPECT_EQ(cli("select count(*) from subscriptions"), "0\n");
}

TEST_F(APMDatabaseTest, ConversionFailuresAreErrorsButNoRecordsAreAnEmptyArray) {
    auto database = openDatabase();
    const APMDatabase::CreateDataTypeBlock<std::string> block = subscriptionID;
    sdk::Error error;
    auto none = database->dataTypesFromTableWithName<std::string>(
        "subscriptions", "subscription_id", Value("bad"), &error, block);
    ASSERT_TRUE(none) << error.ToString();
    EXPECT_TRUE(none->empty());

    ASSERT_TRUE(database->insertDataType(APMSqliteRecord{{"subscription_id", "bad"}},
                                         "subscriptions", nullptr));
    ASSERT_TRUE(database->insertDataType(APMSqliteRecord{{"subscription_id", "good"}},
                                         "subscriptions", nullptr));
    EXPECT_FALSE(database->dataTypesFromTableWithName<std::string>(
        "subscriptions", "subscription_id", Value("bad"), &error, block));
    EXPECT_EQ(codeAndMessage(error), "2 Failed to initialize data types from dictionaries");

    // Reading all rows keeps those that convert, in row order, up to the limit.
    auto all =
        database->allDataTypesFromTableWithName<std::string>("subscriptions", 5, &error, block);
    EXPECT_EQ(all, (std::vector<std::string>{"good"}));
    EXPECT_EQ(
        database->allDataTypesFromTableWithName<std::string>("subscriptions", 1, &error, block),
        std::vector<std::string>{});
}

TEST_F(APMDatabaseTest, HelperArgumentsAreChecked) {
    auto database = openDatabase();
    const APMDatabase::CreateDataTypeBlock<std::string> block = subscriptionID;
    struct Case {
        std::function<bool(sdk::Error*)> call;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {[&](sdk::Error* e) {
             return database->dataTypesFromTableWithName<std::string>("", "c", Value(1), e, block)
                 .has_value();
         },
         "1 Received empty table name to create data type from table"},
        {[&](sdk::Error* e) {
             return database->dataTypesFromTableWithName<std::string>("t", "", Value(1), e, block)
                 .has_value();
         },
         "1 Received empty column name to create data type from table"},
        {[&](sdk::Error* e) {
             return database
                 ->dataTypesFromTableWithName<std::string>("t", "c", std::nullopt, e, block)
                 .has_value();
         },
         "1 Received nil column value to create data type from table"},
        {[&](sdk::Error* e) {
             return database->dataTypesFromTableWithName<std::string>("t", "c", Value(1), e, {})
                 .has_value();
         },
         "2 Received nil block to create data type from table"},
        {[&](sdk::Error* e) {
             return database->allDataTypesFromTableWithName<std::string>("t", 1, e, {}).has_value();
         },
         "1 Received nil block to get all data types"},
        {[&](sdk::Error* e) { return database->insertDataType(APMSqliteRecord{}, "", e); },
         "1 Received empty table name for inserting"},
        {[&](sdk::Error* e) { return database->insertDataType(std::nullopt, "t", e); },
         "2 Failed to insert empty record"},
        {[&](sdk::Error* e) {
             return database->upsertDataType(std::nullopt, "t", "c", Value(1), 1, e);
         },
         "1 Received empty data type to upsert"},
        {[&](sdk::Error* e) {
             return database->upsertDataType(APMSqliteRecord{}, "", "c", Value(1), 1, e);
         },
         "1 Received empty table name for checking upsert"},
        {[&](sdk::Error* e) {
             return database->updateDataType(std::nullopt, "t", "c", Value(1), e);
         },
         "1 Received empty data type to update"},
        {[&](sdk::Error* e) {
             return database->updateDataType(APMSqliteRecord{}, "", "c", Value(1), e);
         },
         "1 Received empty table name for updating"},
    };
    for (const Case& c : cases) {
        sdk::Error error;
        EXPECT_FALSE(c.call(&error)) << c.expected;
        EXPECT_EQ(codeAndMessage(error), c.expected);
    }
}

TEST_F(APMDatabaseTest, BlockAnsweringNoRollsBackAndLogs12056) {
    auto database = openDatabase();
    monitor_.clear();
    EXPECT_FALSE(database->performTransaction([&] {
        EXPECT_TRUE(database->insertDataType(APMSqliteRecord{{"subscription_id", "x"}},
                                             "subscriptions", nullptr));
        return false;
    }));
    ASSERT_EQ(monitor_.codes(), std::vector<std::int64_t>{12056});
    EXPECT_EQ(monitor_.messages()[0].message, "Transaction failed. Transaction failed");
    EXPECT_EQ(cli("select count(*) from subscriptions"), "0\n");

    EXPECT_TRUE(database->performTransaction([&] {
        return database->insertDataType(APMSqliteRecord{{"subscription_id", "y"}}, "subscriptions",
                                        nullptr);
    }));
    EXPECT_EQ(cli("select subscription_id from subscriptions"), "y\n");
}

}  // namespace
