// The experiment database on real files, read back with the sqlite3 shell and protoc.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/sdk/measurement/experiments/ExperimentTestSupport.h"

using exptest::databasePath;
using exptest::experimentIDsOf;
using exptest::kNow;
using exptest::makeSnapshot;

namespace {

class APMEDatabaseTest : public exptest::ExperimentTest {
  protected:
    std::unique_ptr<APMEDatabase> open() {
        auto database = APMEDatabase::initWithPath(databasePath());
        EXPECT_NE(database, nullptr);
        return database;
    }
    // "sdk_name|timestamp|manually_activated" per row of `table`.
    std::string rows(std::string_view table) {
        return cli("SELECT sdk_name, timestamp, ifnull(manually_activated, 'NULL') FROM " +
                   std::string(table) + " ORDER BY rowid;");
    }
    // protoc's text of the blob of `name` in `table`.
    std::string decodedBlob(std::string_view table, const std::string& name) {
        const auto blob = databasePath().parent_path() / "blob.bin";
        cli("SELECT writefile('" + blob.string() + "', snapshotProto) FROM " + std::string(table) +
            " WHERE sdk_name = '" + name + "';");
        return messages_test::protoc("--decode=apmpb.Snapshot", messages_test::readFile(blob));
    }
};

TEST_F(APMEDatabaseTest, NewFileHasTheThreeTablesWithTheirColumnsInOrder) {
    EXPECT_EQ(databasePath(), APMMeasurementFilePath(APMEDatabase::kDatabaseFileName));
    auto database = open();
    const std::string columns =
        "sdk_name TEXT NOT NULL PRIMARY KEY, snapshotProto BLOB NOT NULL, timestamp REAL NOT "
        "NULL, manually_activated INTEGER";
    const std::string schema = cli(".schema");
    for (const char* table :
         {"pending_snapshot_table", "activated_snapshot_table", "launched_snapshot_table"}) {
        SCOPED_TRACE(table);
        EXPECT_NE(schema.find(std::string("CREATE TABLE ") + table + " ( " + columns + ");"),
                  std::string::npos)
            << schema;
    }
}

TEST_F(APMEDatabaseTest, RefusesAnEmptyPathAndDeletesAFileThatFailsValidation) {
    EXPECT_EQ(APMEDatabase::initWithPath(""), nullptr);
    EXPECT_TRUE(monitor_.saw(810000));

    std::filesystem::create_directories(databasePath().parent_path());
    cli("CREATE TABLE activated_snapshot_table (sdk_name TEXT NOT NULL PRIMARY KEY, "
        "snapshotProto BLOB NOT NULL, timestamp REAL NOT NULL);");
    monitor_.clear();
    EXPECT_EQ(APMEDatabase::initWithPath(databasePath()), nullptr);
    const auto codes = monitor_.codes();
    const auto at = [&](std::int64_t code) {
        return std::find(codes.begin(), codes.end(), code) - codes.begin();
    };
    ASSERT_TRUE(monitor_.saw(810004) && monitor_.saw(810002)) << ::testing::PrintToString(codes);
    EXPECT_LT(at(810004), at(810002));
    EXPECT_FALSE(std::filesystem::exists(databasePath()));
}

TEST_F(APMEDatabaseTest, AClosedDatabaseFailsEachOperationUntilResetMakesItAgain) {
    auto database = open();
    ASSERT_TRUE(database->closeAndDelete());
    EXPECT_FALSE(std::filesystem::exists(databasePath()));
    sdk::Error error;
    EXPECT_FALSE(database->fetchAllPendingSnapshots(&error));
    EXPECT_EQ(error.code(), 2);
    EXPECT_FALSE(
        database->upsertPendingExperimentSnapshots({makeSnapshot("a", {{1, {}}})}, &error));
    EXPECT_FALSE(database->activatePendingSnapshotsAutomatically(nullptr))
        << "a failed query is a failure also without an error to fill";
    EXPECT_FALSE(database->performTransaction([] { return true; }));
    EXPECT_TRUE(monitor_.saw(810007));

    ASSERT_TRUE(database->reset());
    EXPECT_TRUE(std::filesystem::exists(databasePath()));
    EXPECT_TRUE(database->upsertPendingExperimentSnapshots({makeSnapshot("a", {{1, {}}})}, &error));
    EXPECT_EQ(rows("pending_snapshot_table"), "a|1700000000.0|0\n");
}

TEST_F(APMEDatabaseTest, UpsertsReplaceTheRowOfTheSameSDKAndReadBack) {
    auto database = open();
    sdk::Error error;
    auto first = makeSnapshot("sdk", {{3, {{"f", 1}}}}, kNow - 10);
    auto second = makeSnapshot("sdk", {{4, {{"g", "on"}}}, {5, {{"h", 2.5}}}});
    second.setManuallyActivated(true);
    auto other = makeSnapshot("other", {{6, {}}});
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({first, other}, &error));
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({second}, &error));
    EXPECT_EQ(rows("pending_snapshot_table"), "other|1700000000.0|0\nsdk|1700000000.0|1\n");
    EXPECT_EQ(decodedBlob("pending_snapshot_table", "sdk"),
              "sdk_name: \"sdk\"\n"
              "experiments {\n  experiment_id: 4\n  flags {\n    name: \"g\"\n"
              "    string_value: \"on\"\n  }\n}\n"
              "experiments {\n  experiment_id: 5\n  flags {\n    name: \"h\"\n"
              "    double_value: 2.5\n  }\n}\n");

    auto pending = database->fetchAllPendingSnapshots(&error);
    ASSERT_TRUE(pending);
    ASSERT_EQ(pending->size(), 2u);
    EXPECT_EQ((*pending)[1].SDKName(), "sdk");
    EXPECT_EQ(experimentIDsOf((*pending)[1]), (std::vector<std::int64_t>{4, 5}));
    EXPECT_TRUE((*pending)[1].manuallyActivated());
    EXPECT_FALSE((*pending)[0].manuallyActivated());
    EXPECT_EQ((*pending)[1].timestamp(), kNow);

    error = {};
    EXPECT_FALSE(database->fetchAllLaunchedSnapshots(&error));
    EXPECT_TRUE(error.ok()) << "no rows is not a failure";
}

TEST_F(APMEDatabaseTest, ActivationSplitsLaunchedAndActivatedAndKeepsANewerPendingRow) {
    auto database = open();
    sdk::Error error;
    auto pending = makeSnapshot("sdk", {{0, {{"l", 1}}}, {7, {{"a", 2}}}}, kNow - 5);
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({pending}, &error));
    ASSERT_TRUE(database->activateSnapshot(&pending, kNow - 5, &error)) << error.ToString();
    EXPECT_EQ(rows("pending_snapshot_table"), "");
    EXPECT_EQ(rows("launched_snapshot_table"), "sdk|1699999995.0|NULL\n");
    EXPECT_EQ(rows("activated_snapshot_table"), "sdk|1699999995.0|NULL\n");
    auto launched = database->fetchAllLaunchedSnapshots(&error);
    auto activated = database->fetchAllActivatedSnapshots(&error);
    ASSERT_TRUE(launched && activated);
    EXPECT_EQ(experimentIDsOf(launched->at(0)), (std::vector<std::int64_t>{0}));
    EXPECT_EQ(experimentIDsOf(activated->at(0)), (std::vector<std::int64_t>{7}));

    // Only experiment 0, activated at a time older than the pending row: the activated row
    // stays, and so does the pending one.
    auto launchOnly = makeSnapshot("sdk", {{0, {{"l", 9}}}}, kNow);
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({launchOnly}, &error));
    ASSERT_TRUE(database->activateSnapshot(&launchOnly, kNow - 1, &error));
    EXPECT_EQ(rows("pending_snapshot_table"), "sdk|1700000000.0|0\n");
    EXPECT_EQ(rows("activated_snapshot_table"), "sdk|1699999995.0|NULL\n");
    EXPECT_EQ(rows("launched_snapshot_table"), "sdk|1699999999.0|NULL\n");

    EXPECT_FALSE(database->activateSnapshot(nullptr, kNow, &error));
    EXPECT_EQ(sdktest::codeAndMessage(error), "1 Received nil pending snapshot");
}

TEST_F(APMEDatabaseTest, AutomaticActivationTakesOnlyRowsNotMarkedManual) {
    auto database = open();
    sdk::Error error;
    auto automatic = makeSnapshot("auto", {{2, {{"f", 1}}}});
    auto manual = makeSnapshot("manual", {{3, {{"f", 1}}}});
    manual.setManuallyActivated(true);
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({automatic, manual}, &error));
    cli("INSERT INTO pending_snapshot_table SELECT 'unmarked', snapshotProto, timestamp, NULL "
        "FROM pending_snapshot_table WHERE sdk_name = 'auto';");
    ASSERT_TRUE(database->activatePendingSnapshotsAutomatically(&error)) << error.ToString();
    EXPECT_EQ(rows("activated_snapshot_table"), "auto|1700000000.0|NULL\n");
    EXPECT_EQ(rows("pending_snapshot_table"),
              "manual|1700000000.0|1\nunmarked|1700000000.0|NULL\n");
}

TEST_F(APMEDatabaseTest, StaleActivatedRowsAreThoseAtLeastThreeDaysOld) {
    auto database = open();
    sdk::Error error;
    auto old = makeSnapshot("old", {{1, {}}});
    auto recent = makeSnapshot("recent", {{1, {}}});
    ASSERT_TRUE(database->activateSnapshot(&old, kNow - 259200, &error));
    ASSERT_TRUE(database->activateSnapshot(&recent, kNow - 259199, &error));
    ASSERT_TRUE(database->deleteStaleActivatedSnapshots(&error));
    EXPECT_EQ(rows("activated_snapshot_table"), "recent|1699740801.0|NULL\n");

    ASSERT_TRUE(database->deleteActivatedExperimentsOfSDKName("recent", &error));
    EXPECT_EQ(rows("activated_snapshot_table"), "");
    EXPECT_FALSE(database->deletePendingExperimentsOfSDKName("", &error));
    EXPECT_EQ(sdktest::codeAndMessage(error), "1 Received empty SDK Name");
}

TEST_F(APMEDatabaseTest, AnUndecodableBlobFailsReadingAndAutomaticActivation) {
    auto database = open();
    cli("INSERT INTO pending_snapshot_table VALUES ('bad', x'0a05ff', 1.0, 0);");
    sdk::Error error;
    EXPECT_FALSE(database->fetchAllPendingSnapshots(&error));
    EXPECT_EQ(sdktest::codeAndMessage(error), "2 Received an invalid snapshot from database");
    error = {};
    EXPECT_FALSE(database->activatePendingSnapshotsAutomatically(&error));
    EXPECT_EQ(sdktest::codeAndMessage(error), "2 Received an invalid snapshot from database");
}

}  // namespace
