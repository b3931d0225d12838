#include <stdexcept>

#include "tests/sdk/measurement/storage/StoreTestSupport.h"

namespace {

using sdktest::codeAndMessage;

class APMSqliteStoreTransactions : public sdktest::StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        makeTable("t", {{"a", "INTEGER"}});
        ASSERT_TRUE(store_->upsertRecord({{"a", 1}}, "t", nullptr));
    }
};

TEST_F(APMSqliteStoreTransactions, CommittedBlockIsOnDiskForOtherReaders) {
    sdk::Error error;
    EXPECT_TRUE(store_->performTransactionWithError(&error, [&] {
        return store_->upsertRecord({{"a", 2}}, "t", nullptr) &&
               store_->upsertRecord({{"a", 3}}, "t", nullptr);
    })) << error.ToString();
    EXPECT_EQ(cli("select group_concat(a) from t"), "1,2,3\n") << "the store is still open";
}

TEST_F(APMSqliteStoreTransactions, BlockAnsweringNoLeavesTheFileUnchanged) {
    sdk::Error error;
    EXPECT_FALSE(store_->performTransactionWithError(&error, [&] {
        return store_->upsertRecord({{"a", 2}}, "t", nullptr) &&
               store_->deleteRecordFromTableWithName("t", "a", 1, nullptr) && false;
    }));
    EXPECT_EQ(codeAndMessage(error), "3 Transaction failed");
    EXPECT_EQ(cli("select group_concat(a) from t"), "1\n");
    store_.reset();
    EXPECT_EQ(cli("select group_concat(a) from t"), "1\n");
}

TEST_F(APMSqliteStoreTransactions, NestedTransactionFailsToBegin) {
    sdk::Error outer;
    sdk::Error inner;
    EXPECT_TRUE(store_->performTransactionWithError(&outer, [&] {
        EXPECT_FALSE(store_->performTransactionWithError(&inner, [] { return true; }));
        return store_->upsertRecord({{"a", 2}}, "t", nullptr);
    })) << outer.ToString();
    EXPECT_EQ(codeAndMessage(inner), "3 Failed to begin transaction");
    EXPECT_EQ(cli("select group_concat(a) from t"), "1,2\n");
}

TEST_F(APMSqliteStoreTransactions, ThrowingBlockIsRolledBackAndTheExceptionPassesThrough) {
    EXPECT_THROW(
        store_->performTransactionWithError(nullptr,
                                            [&]() -> bool {
                                                store_->upsertRecord({{"a", 2}}, "t", nullptr);
                                                throw std::runtime_error("boom");
                                            }),
        std::runtime_error);
    EXPECT_EQ(cli("insert into t values (9); select group_concat(a) from t"), "1,9\n");
    sdk::Error error;
    EXPECT_TRUE(store_->performTransactionWithError(&error, [&] {
        return store_->upsertRecord({{"a", 3}}, "t", nullptr);
    })) << error.ToString();
}

TEST_F(APMSqliteStoreTransactions, NilBlockIsRefused) {
    sdk::Error error;
    EXPECT_FALSE(store_->performTransactionWithError(&error, nullptr));
    EXPECT_EQ(codeAndMessage(error), "1 Received nil transaction block");
}

}  // namespace
