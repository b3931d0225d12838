#include "tests/sdk/measurement/storage/StoreTestSupport.h"

namespace {

using sdktest::codeAndMessage;

class APMSqliteStoreRecords : public sdktest::StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        makeTable("t", {{"a", "INTEGER"}, {"b", "TEXT"}, {"r", "REAL"}, {"d", "BLOB"}});
    }
};

TEST_F(APMSqliteStoreRecords, UpsertRunsOneInsertOrReplaceWithPlaceholders) {
    const auto statements = traceStatements([&] {
        sdk::Error error;
        EXPECT_TRUE(store_->upsertRecord({{"a", 1}, {"b", "x"}}, "t", &error)) << error.ToString();
    });
    EXPECT_EQ(statements,
              (std::vector<std::string>{"INSERT OR REPLACE INTO t (a, b) VALUES (?, ?);"}));
    store_.reset();
    EXPECT_EQ(cli("select a, b from t"), "1|x\n");
}

TEST_F(APMSqliteStoreRecords, ValuesKeepTheirKindThroughAWriteAndARead) {
    const sdk::Bytes blob = {0, 1, 2, 255};
    const std::string withNul("x\0y", 3);
    sdk::Error error;
    ASSERT_TRUE(store_->upsertRecord(
        {{"a", std::int64_t{1} << 40}, {"b", withNul}, {"r", 0.5}, {"d", blob}}, "t", &error))
        << error.ToString();
    ASSERT_TRUE(store_->upsertRecord({{"a", true}, {"b", sdk::Value()}, {"r", 2}}, "t", &error));
    auto rows = store_->recordsForQuery("SELECT a, b, r, d FROM t ORDER BY rowid", {}, &error);
    ASSERT_TRUE(rows) << error.ToString();
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ(
        (*rows)[0],
        (APMSqliteRecord{{"a", std::int64_t{1} << 40}, {"b", withNul}, {"r", 0.5}, {"d", blob}}));
    // A boolean is stored as 1; an integer in a REAL column reads back as a double.
    EXPECT_EQ((*rows)[1],
              (APMSqliteRecord{{"a", 1}, {"b", sdk::Value()}, {"r", 2.0}, {"d", sdk::Value()}}));
    store_.reset();
    EXPECT_EQ(cli("select typeof(a), length(cast(b as blob)), hex(d) from t order by rowid"),
              "integer|3|000102FF\ninteger||\n");
}

TEST_F(APMSqliteStoreRecords, UnstorableValuesAreRefused) {
    const sdk::Value date(sdk::Date::fromTimeIntervalSince1970(5));
    sdk::Error error;
    EXPECT_FALSE(store_->upsertRecord({{"a", date}}, "t", &error));
    EXPECT_TRUE(error.ok()) << "an upsert refuses without an error";
    EXPECT_TRUE(monitor_.saw(34020));

    ASSERT_TRUE(store_->upsertRecord({{"a", 1}}, "t", &error));
    EXPECT_FALSE(store_->updateRecord({{"b", sdk::Value::Array{}}}, "t", "a", 1, &error));
    EXPECT_EQ(codeAndMessage(error),
              "1 Failed to bind parameter of unexpected type to update statement");
    EXPECT_TRUE(monitor_.saw(34021));
    store_.reset();
    EXPECT_EQ(cli("select count(*), quote(b) from t"), "1|NULL\n");
}

TEST_F(APMSqliteStoreRecords, UpdateIncreaseAndDeleteChangeOnlyTheirRows) {
    sdk::Error error;
    for (int i = 1; i <= 4; ++i) {
        ASSERT_TRUE(store_->upsertRecord({{"a", i}, {"b", "v" + std::to_string(i)}}, "t", &error));
    }
    ASSERT_TRUE(store_->updateRecord({{"b", "new"}}, "t", "a", 2, &error)) << error.ToString();
    ASSERT_TRUE(store_->increaseColumn("a", 10, "t", "b = ?", {"new"}, &error)) << error.ToString();
    ASSERT_TRUE(store_->deleteRecordFromTableWithName("t", "a", 1, &error)) << error.ToString();
    EXPECT_EQ(store_->deleteRecordsFromTableWithName("t", "a > ?", {3}, &error), 2);
    EXPECT_EQ(store_->rowCountForTableWithName("t", "b", sdk::Value("v3"), &error), 1);
    EXPECT_EQ(store_->rowCountForTableWithName("t", "b", std::nullopt, &error), 1)
        << "no value counts every row";
    ASSERT_TRUE(store_->updateAllRecordsInTableWithName("t", "r", 1.5, &error));
    store_.reset();
    EXPECT_EQ(cli("select a, b, r from t"), "3|v3|1.5\n");
}

TEST_F(APMSqliteStoreRecords, IncreaseNeedsAnIntegerColumn) {
    sdk::Error error;
    EXPECT_FALSE(store_->increaseColumn("r", 1, "t", "a = 1", {}, &error));
    EXPECT_EQ(codeAndMessage(error), "1 Column type is not integer.");
    EXPECT_FALSE(store_->increaseColumn("zz", 1, "t", "a = 1", {}, &error));
    EXPECT_EQ(codeAndMessage(error), "1 Invalid column or table name");
    EXPECT_TRUE(store_->deleteAllRecordsFromTableWithName("t", &error));
}

TEST_F(APMSqliteStoreRecords, QueriesMustBeSelects) {
    sdk::Error error;
    for (const char* query : {" select 1", "DELETE FROM t", "with x as (select 1) select 1"}) {
        EXPECT_FALSE(store_->recordsForQuery(query, {}, &error)) << query;
        EXPECT_EQ(codeAndMessage(error), "1 Received invalid select query");
    }
    EXPECT_TRUE(store_->recordsForQuery("SeLeCt 1", {}, &error));
    EXPECT_FALSE(store_->recordsForQuery("SELECT 1", {}, &error, nullptr));
    EXPECT_EQ(codeAndMessage(error), "1 Received empty filter for selecting records");
}

TEST_F(APMSqliteStoreRecords, RowsAreKeyedByResultNamesAndEmptyBlobsLeftOut) {
    sdk::Error error;
    ASSERT_TRUE(store_->upsertRecord({{"a", 7}, {"d", sdk::Bytes{}}}, "t", &error));
    auto rows = store_->recordsForQuery("SELECT rowid, a AS alias, d FROM t", {}, &error);
    ASSERT_TRUE(rows) << error.ToString();
    EXPECT_EQ(*rows, (std::vector<APMSqliteRecord>{{{"rowid", 1}, {"alias", 7}}}));
    EXPECT_TRUE(monitor_.saw(34004));
    store_.reset();
    EXPECT_EQ(cli("select typeof(d), length(d) from t"), "blob|0\n");
}

TEST_F(APMSqliteStoreRecords, FilterStopsTheReadAndAllFilteredIsLogged) {
    sdk::Error error;
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(store_->upsertRecord({{"a", i}}, "t", &error));
    }
    std::vector<std::size_t> seen;
    auto rows = store_->recordsForQuery("SELECT a FROM t ORDER BY a", {}, &error,
                                        [&](std::size_t index, const APMSqliteRecord&) {
                                            seen.push_back(index);
                                            return index < 2;
                                        });
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->size(), 2u);
    EXPECT_EQ(seen, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_FALSE(monitor_.saw(34005));

    rows = store_->recordsForQuery("SELECT a FROM t", {}, &error,
                                   [](std::size_t, const APMSqliteRecord&) { return false; });
    ASSERT_TRUE(rows);
    EXPECT_TRUE(rows->empty());
    EXPECT_TRUE(monitor_.saw(34005));

    monitor_.clear();
    error = sdk::Error();
    rows = store_->recordsForQuery("SELECT a FROM t WHERE a > 100", {}, &error);
    ASSERT_TRUE(rows);
    EXPECT_TRUE(rows->empty());
    EXPECT_TRUE(error.ok());
    EXPECT_FALSE(monitor_.saw(34005)) << "no rows at all is not filtering";
}

TEST_F(APMSqliteStoreRecords, StepErrorAfterSomeRowsFailsTheWholeRead) {
    sdk::Error error;
    for (int i = 1; i <= 4; ++i) {
        ASSERT_TRUE(store_->upsertRecord({{"a", i}}, "t", &error));
    }
    auto rows = store_->recordsForQuery(
        "SELECT a, CASE WHEN rowid = 3 THEN abs(-9223372036854775808) END AS x FROM t "
        "ORDER BY rowid",
        {}, &error);
    EXPECT_FALSE(rows);
    EXPECT_EQ(error.code(), 3);
    EXPECT_EQ(APMMonitorContextOfError(error).substr(0, 14), "query records,");
}

TEST_F(APMSqliteStoreRecords, NumberForQueryAnswersNumbersOnly) {
    sdk::Error error;
    EXPECT_EQ(store_->numberForQuery("SELECT 2.5", {}, &error), sdk::Value(2.5));
    EXPECT_EQ(store_->numberForQuery("SELECT ? + 1", {41}, &error), sdk::Value(42));

    error = sdk::Error();
    EXPECT_FALSE(store_->numberForQuery("SELECT NULL", {}, &error));
    EXPECT_TRUE(error.ok());
    EXPECT_FALSE(store_->numberForQuery("SELECT 'text'", {}, &error));
    EXPECT_EQ(codeAndMessage(error), "1 Found result that was not numeric");
    EXPECT_FALSE(store_->numberForQuery("SELECT a FROM t", {}, &error));
    EXPECT_EQ(error.code(), 3) << "no row";
}

TEST_F(APMSqliteStoreRecords, ArgumentErrorsNameTheirOperation) {
    struct Case {
        std::function<bool(sdk::Error*)> operation;
        std::string error;
    };
    APMSqliteStore& s = *store_;
    const std::vector<Case> cases = {
        {[&](sdk::Error* e) { return s.upsertRecord({}, "t", e); },
         "1 Received empty record for upsert"},
        {[&](sdk::Error* e) {
             return s.upsertRecord({{"a", 1}}, "", e);
         },
         "1 Received empty table name for upsert"},
        {[&](sdk::Error* e) {
             return s.updateRecord({{"a", 1}}, "t", "a", std::nullopt, e);
         },
         "1 Nil column value for update"},
        {[&](sdk::Error* e) { return s.deleteRecordFromTableWithName("t", "", 1, e); },
         "1 Received empty column for delete record"},
        {[&](sdk::Error* e) {
             return s.deleteRecordsFromTableWithName("t", "a = ?", {}, e).has_value();
         },
         "1 Received empty parameters"},
        {[&](sdk::Error* e) { return s.increaseColumn("a", 1, "t", "", {}, e); },
         "1 Empty condition for increase column"},
        {[&](sdk::Error* e) { return s.numberForQuery("", {}, e).has_value(); },
         "1 Received empty query to get numeric result"},
    };
    for (const Case& c : cases) {
        sdk::Error error;
        EXPECT_FALSE(c.operation(&error)) << c.error;
        EXPECT_EQ(codeAndMessage(error), c.error);
    }
}

}  // namespace
