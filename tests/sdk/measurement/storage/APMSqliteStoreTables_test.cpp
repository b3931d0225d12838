#include "tests/sdk/measurement/storage/StoreTestSupport.h"

namespace {

using sdktest::codeAndMessage;

const APMSqliteColumnInfo kElementary = {{"a", "INTEGER NOT NULL"}, {"b", "TEXT"}};
const APMSqliteColumnInfo kAddOn = {{"c", "INTEGER"}, {"d", "BLOB"}};

class APMSqliteStoreTables : public sdktest::StoreTest {
  protected:
    // The CLI's ".schema" of `table` after the store let go of the file.
    std::string schema(const std::string& table) {
        store_.reset();
        return cli(".schema " + table);
    }
};

TEST_F(APMSqliteStoreTables, NewTableIsCreatedThenExtendedByOneAlterPerAddOn) {
    sdk::Error error;
    std::vector<std::string> changes;
    for (const std::string& statement : traceStatements([&] {
             EXPECT_TRUE(store_->ensureTableWithName("t", kElementary, kAddOn, &error))
                 << error.ToString();
         })) {
        if (statement.starts_with("CREATE") || statement.starts_with("ALTER")) {
            changes.push_back(statement);
        }
    }
    EXPECT_EQ(changes,
              (std::vector<std::string>{
                  "CREATE TABLE IF NOT EXISTS t ( a INTEGER NOT NULL, b TEXT);",
                  "ALTER TABLE t ADD COLUMN c INTEGER", "ALTER TABLE t ADD COLUMN d BLOB"}));
    EXPECT_EQ(schema("t"), "CREATE TABLE t ( a INTEGER NOT NULL, b TEXT, c INTEGER, d BLOB);\n");
}

TEST_F(APMSqliteStoreTables, AddOnColumnsComeInTheirDeclaredOrderOncePerName) {
    sdk::Error error;
    ASSERT_TRUE(store_->ensureTableWithName(
        "o", {{"a", "INTEGER"}}, {{"z", "TEXT"}, {"m", "INTEGER"}, {"z", "BLOB"}}, &error))
        << error.ToString();
    EXPECT_EQ(schema("o"), "CREATE TABLE o ( a INTEGER, z TEXT, m INTEGER);\n");
}

TEST_F(APMSqliteStoreTables, PrimaryKeyEntryIsATableConstraint) {
    sdk::Error error;
    ASSERT_TRUE(store_->ensureTableWithName(
        "f", {{"x", "INTEGER NOT NULL"}, {"y", "INTEGER NOT NULL"}, {"PRIMARY KEY", "(x, y)"}}, {},
        &error))
        << error.ToString();
    EXPECT_EQ(schema("f"),
              "CREATE TABLE f ( x INTEGER NOT NULL, y INTEGER NOT NULL, PRIMARY KEY (x, y));\n");
}

TEST_F(APMSqliteStoreTables, MissingAddOnColumnIsAddedAndRowsKept) {
    store_.reset();
    cli("create table t(a INTEGER NOT NULL, b TEXT, c INTEGER); insert into t values (1, 'x', 3);");
    openStore();
    sdk::Error error;
    ASSERT_TRUE(store_->ensureTableWithName("t", kElementary, kAddOn, &error)) << error.ToString();
    store_.reset();
    EXPECT_EQ(cli("select a, b, c, quote(d) from t"), "1|x|3|NULL\n");
    EXPECT_EQ(cli(".schema t"), "CREATE TABLE t(a INTEGER NOT NULL, b TEXT, c INTEGER, d BLOB);\n");
}

TEST_F(APMSqliteStoreTables, MismatchedTablesAreRefusedAndLeftAsTheyAre) {
    struct Case {
        std::string create;
        std::string error;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {"create table t(b TEXT, c INTEGER, d BLOB)", "2 Table is missing required columns"},
        {"create table t(a INTEGER NOT NULL, b TEXT, c INTEGER, d BLOB, e TEXT)", ""},
        {"create table t(a INTEGER NOT NULL, b TEXT, c INTEGER, d BLOB, e TEXT NOT NULL "
         "DEFAULT 'x')",
         "2 Table contains unknown non-optional columns"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.create);
        store_.reset();
        std::filesystem::remove(path_);
        cli(c.create + "; insert into t (b) values ('kept');");
        const std::string before = cli(".schema t");
        openStore();
        sdk::Error error;
        EXPECT_EQ(store_->ensureTableWithName("t", kElementary, kAddOn, &error), c.error.empty());
        EXPECT_EQ(c.error.empty() ? "OK" : c.error, codeAndMessage(error));
        EXPECT_EQ(schema("t"), before);
    }
}

TEST_F(APMSqliteStoreTables, ValidateReportsNoValueForArgumentAndStateErrors) {
    sdk::Error error;
    EXPECT_FALSE(store_->validateTableWithName("", {"a"}, {}, &error).has_value());
    EXPECT_EQ(codeAndMessage(error), "1 Received empty table name for validate table");
    EXPECT_FALSE(store_->validateTableWithName("t", {}, {}, &error).has_value());
    EXPECT_EQ(codeAndMessage(error), "1 Received no table columns for validate table");
    EXPECT_FALSE(store_->validateTableWithName("missing", {"a"}, {}, &error).has_value());
}

const APMSqliteColumnInfo kRawEvents = {{"name", "TEXT NOT NULL"},
                                        {"timestamp", "INTEGER NOT NULL"},
                                        {"metadata_fingerprint", "INTEGER NOT NULL"},
                                        {"data", "BLOB NOT NULL"}};
const APMSqliteColumnInfo kRawEventsAddOn = {{"is_realtime", "INTEGER"}};

TEST_F(APMSqliteStoreTables, ChangedColumnTypeRebuildsTheTableOnceKeepingRows) {
    store_.reset();
    cli("create table raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
        "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL);"
        "insert into raw_events values ('a', 1, 10, x'01'), ('b', 2, 20, x'02'), "
        "('c', 3, 30, x'03');");
    openStore();
    sdk::Error error;
    ASSERT_TRUE(store_->ensureTableWithName("raw_events", kRawEvents, kRawEventsAddOn,
                                            {{"timestamp", "REAL NOT NULL"}}, &error))
        << error.ToString();
    store_.reset();
    EXPECT_EQ(cli("select type from pragma_table_info('raw_events') where name = 'timestamp'"),
              "REAL\n");
    EXPECT_EQ(cli("select name, timestamp, metadata_fingerprint, hex(data), quote(is_realtime) "
                  "from raw_events order by rowid"),
              "a|1.0|10|01|NULL\nb|2.0|20|02|NULL\nc|3.0|30|03|NULL\n");
    EXPECT_EQ(cli(".tables"), "raw_events\n");
    const std::string schemaAfterFirst = cli(".schema");

    openStore();
    ASSERT_TRUE(store_->ensureTableWithName("raw_events", kRawEvents, kRawEventsAddOn,
                                            {{"timestamp", "REAL NOT NULL"}}, &error))
        << error.ToString();
    EXPECT_EQ(schema(""), schemaAfterFirst);
}

TEST_F(APMSqliteStoreTables, RebuildKeepsEachValueInItsColumnWhateverTheOldOrder) {
    // Add-on columns that an older version added in the other order.
    store_.reset();
    cli("create table t(a INTEGER NOT NULL, b TEXT, d BLOB, c INTEGER);"
        "insert into t values (1, 'x', x'ff', 3);");
    openStore();
    sdk::Error error;
    ASSERT_TRUE(
        store_->ensureTableWithName("t", kElementary, kAddOn, {{"a", "REAL NOT NULL"}}, &error))
        << error.ToString();
    store_.reset();
    EXPECT_EQ(cli("select a, b, c, hex(d) from t"), "1.0|x|3|FF\n");
}

TEST_F(APMSqliteStoreTables, TableOperationsRefuseBadNames) {
    struct Case {
        std::function<bool(sdk::Error*)> operation;
        std::string error;
    };
    APMSqliteStore& s = *store_;
    const std::vector<Case> cases = {
        {[&](sdk::Error* e) { return s.ensureTableWithName("", kElementary, {}, e); },
         "1 Received empty table name for ensure table"},
        {[&](sdk::Error* e) { return s.ensureTableWithName("t", {}, {}, e); },
         "1 Received empty elementary column info for ensure table"},
        {[&](sdk::Error* e) { return s.dropTableWithName("", e); },
         "1 Received empty table name for drop table"},
        {[&](sdk::Error* e) { return s.renameTable("t", "t", e); },
         "1 Received duplicate name for rename table"},
        {[&](sdk::Error* e) { return s.copyContentsFromTable("t", "", e); },
         "1 Received empty destination name for copy table"},
        {[&](sdk::Error* e) { return s.createEmptyTable("t", "t", e); },
         "1 Received duplicate name for create empty copy"},
        {[&](sdk::Error* e) { return s.ensureSchemaOfTableWithName("nope", kElementary, {}, e); },
         "2 Table does not exist for ensure table schema"},
    };
    for (const Case& c : cases) {
        sdk::Error error;
        EXPECT_FALSE(c.operation(&error)) << c.error;
        EXPECT_EQ(codeAndMessage(error), c.error);
    }
}

TEST_F(APMSqliteStoreTables, EmptyCopyTakesColumnsAndCopyTakesRows) {
    makeTable("events", {{"name", "TEXT NOT NULL"}, {"n", "INTEGER"}});
    ASSERT_TRUE(store_->upsertRecord({{"name", "e"}, {"n", 4}}, "events", nullptr));
    sdk::Error error;
    ASSERT_TRUE(store_->createEmptyTable("events_snapshot", "events", &error)) << error.ToString();
    EXPECT_EQ(store_->rowCountForTableWithName("events_snapshot", &error), 0);
    ASSERT_TRUE(store_->copyContentsFromTable("events", "events_snapshot", &error));
    EXPECT_EQ(store_->columnsForTableWithName("events_snapshot", &error),
              (std::vector<std::string>{"name", "n"}));
    EXPECT_EQ(store_->rowCountForTableWithName("events_snapshot", &error), 1);
    ASSERT_TRUE(store_->renameTable("events_snapshot", "renamed", &error));
    EXPECT_EQ(store_->tableExists("events_snapshot", &error), false);
    ASSERT_TRUE(store_->dropTableWithName("renamed", &error));
    EXPECT_EQ(store_->tableExists("renamed", &error), false);
}

}  // namespace
