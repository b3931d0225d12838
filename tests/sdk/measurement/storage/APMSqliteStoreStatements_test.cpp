#include "tests/sdk/measurement/storage/APMSqliteStoreTestPeer.h"
#include "tests/sdk/measurement/storage/StoreTestSupport.h"

namespace {

using sdktest::codeAndMessage;

class APMSqliteStoreStatements : public sdktest::StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        makeTable("t", {{"a", "INTEGER"}});
        for (int i = 1; i <= 6; ++i) {
            ASSERT_TRUE(store_->upsertRecord({{"a", i}}, "t", nullptr));
        }
    }

    // How many statements `body` prepared when run three times.
    std::uint64_t preparedOverThreeCalls(const std::function<void()>& body) {
        body();  // the first call may prepare; what follows must reuse
        const std::uint64_t before = APMSqliteStoreTestPeer::preparedStatementCount(*store_);
        body();
        body();
        return APMSqliteStoreTestPeer::preparedStatementCount(*store_) - before;
    }
};

TEST_F(APMSqliteStoreStatements, PlaceholderAndWhereLessStatementsArePreparedOnce) {
    sdk::Error error;
    EXPECT_EQ(preparedOverThreeCalls([&] {
                  EXPECT_TRUE(store_->recordsForQuery("SELECT a FROM t WHERE a = ?", {1}, &error));
              }),
              0u);
    EXPECT_EQ(preparedOverThreeCalls(
                  [&] { EXPECT_TRUE(store_->recordsForQuery("SELECT a FROM t", {}, &error)); }),
              0u);
    EXPECT_EQ(preparedOverThreeCalls([&] {
                  EXPECT_TRUE(store_->deleteRecordsFromTableWithName("t", "a = ?", {100}, &error));
              }),
              0u);
    EXPECT_EQ(preparedOverThreeCalls([&] {
                  EXPECT_TRUE(store_->deleteRecordsFromTableWithName("t", "a = 100", {}, &error));
              }),
              2u);
}

TEST_F(APMSqliteStoreStatements, TwoStatementsInOneTextAreRefused) {
    sdk::Error error;
    EXPECT_FALSE(store_->recordsForQuery("SELECT 1; SELECT 2", {}, &error));
    EXPECT_EQ(codeAndMessage(error), "1 Query contained more than one SQL statement.");
    // A NUL does not end the text early: what follows it is refused, not ignored.
    EXPECT_FALSE(
        store_->deleteRecordsFromTableWithName("t", std::string("a = 1\0 OR 1", 11), {}, &error));
    EXPECT_EQ(codeAndMessage(error), "1 Query contained more than one SQL statement.");
    EXPECT_EQ(store_->rowCountForTableWithName("t", &error), 6);
}

TEST_F(APMSqliteStoreStatements, SameQueryInsideAFilterLeavesTheOuterReadWhole) {
    sdk::Error error;
    const std::string query = "SELECT a FROM t WHERE a > ? ORDER BY a";
    std::vector<std::size_t> innerSizes;
    auto rows =
        store_->recordsForQuery(query, {0}, &error, [&](std::size_t, const APMSqliteRecord& row) {
            sdk::Error innerError;
            auto inner = store_->recordsForQuery(query, {row.at("a")}, &innerError);
            innerSizes.push_back(inner ? inner->size() : 999);
            return true;
        });
    ASSERT_TRUE(rows) << error.ToString();
    std::vector<sdk::Value> values;
    for (const auto& row : *rows) {
        values.push_back(row.at("a"));
    }
    EXPECT_EQ(values, (std::vector<sdk::Value>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(innerSizes, (std::vector<std::size_t>{5, 4, 3, 2, 1, 0}));
    // The cached statement is free again afterwards.
    EXPECT_EQ(
        preparedOverThreeCalls([&] { EXPECT_TRUE(store_->recordsForQuery(query, {3}, &error)); }),
        0u);
}

TEST_F(APMSqliteStoreStatements, ClosingInsideAFilterEndsSafely) {
    sdk::Error error;
    std::size_t calls = 0;
    auto rows = store_->recordsForQuery("SELECT a FROM t", {}, &error,
                                        [&](std::size_t, const APMSqliteRecord&) {
                                            ++calls;
                                            EXPECT_TRUE(store_->closeAndDeleteDatabase());
                                            return false;
                                        });
    EXPECT_EQ(calls, 1u);
    EXPECT_TRUE(rows);
    EXPECT_FALSE(std::filesystem::exists(path_));
}

}  // namespace
