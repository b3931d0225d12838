#include <sys/stat.h>
#include <unistd.h>

#include "sdk/utilities/VDULogger.h"
#include "tests/sdk/measurement/storage/StoreTestSupport.h"
#include "tests/support/Unprivileged.h"

namespace {

using sdktest::codeAndMessage;

class APMSqliteStoreErrors : public sdktest::StoreTest {};

TEST_F(APMSqliteStoreErrors, SqliteFailureNamesOperationCodeMessageAndAccess) {
    sdk::Error error;
    EXPECT_FALSE(store_->recordsForQuery("SELECT * FRM t", {}, &error));
    EXPECT_EQ(codeAndMessage(error),
              "3 Database operation \"prepare statement\" failed with sqlite code 1 and error "
              "message \"near \"FRM\": syntax error\"");
    EXPECT_EQ(APMMonitorContextOfError(error), "prepare statement,1,A");
}

// The context of a failed prepare on a store that opened a read-only file.
std::string contextOnReadOnlyFile(const std::filesystem::path& path) {
    sdk::Error error;
    auto store = APMSqliteStore::initWithDatabasePath(path.string(), &error);
    if (!store) {
        return "no store: " + error.ToString();
    }
    store->recordsForQuery("SELECT * FRM t", {}, &error);
    return std::string(APMMonitorContextOfError(error));
}

TEST_F(APMSqliteStoreErrors, ContextEndsInNAOnAReadOnlyFile) {
    store_.reset();
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    std::string context;
    if (geteuid() == 0) {
        // root may write anything: ask as an ordinary user.
        // A read-only file in a folder the user may write: the log and index files of a
        // write-ahead database can be made there.
        dir_.openToEveryone();
        chmod(path_.parent_path().c_str(), 0777);
        TEST_VDULoggerFlush();  // nothing of the logger's may be half done in the child
        const cb::testsupport::ChildResult child =
            cb::testsupport::runUnprivileged([&] { return contextOnReadOnlyFile(path_); });
        ASSERT_EQ(child.exitCode, 0) << child.output;
        context = child.output;
    } else {
        context = contextOnReadOnlyFile(path_);
    }
    EXPECT_EQ(context, "prepare statement,1,NA");
}

TEST_F(APMSqliteStoreErrors, EveryOperationFailsAfterCloseAndDelete) {
    makeTable("t", {{"a", "INTEGER"}});
    ASSERT_TRUE(store_->upsertRecord({{"a", 1}}, "t", nullptr));
    ASSERT_TRUE(store_->closeAndDeleteDatabase());
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        EXPECT_FALSE(std::filesystem::exists(path_.string() + suffix)) << suffix;
    }
    EXPECT_EQ(store_->sqliteHandle(), nullptr);

    APMSqliteStore& s = *store_;
    const std::optional<sdk::Value> one = sdk::Value(1);
    const std::vector<std::pair<std::string, std::function<bool(sdk::Error*)>>> operations = {
        {"Ensure table failed. Database not open.",
         [&](sdk::Error* e) {
             return s.ensureTableWithName("t", {{"a", "INTEGER"}}, {}, e);
         }},
        {"Validate table failed. Database not open.",
         [&](sdk::Error* e) { return s.validateTableWithName("t", {"a"}, {}, e).has_value(); }},
        {"Table exists failed. Database not open.",
         [&](sdk::Error* e) { return s.tableExists("t", e).has_value(); }},
        {"Get table columns failed. Database not open.",
         [&](sdk::Error* e) { return s.columnsForTableWithName("t", e).has_value(); }},
        {"Get table column info failed. Database not open.",
         [&](sdk::Error* e) { return s.columnInfoForTableWithName("t", e).has_value(); }},
        {"Row count failed. Database not open.",
         [&](sdk::Error* e) { return s.rowCountForTableWithName("t", e).has_value(); }},
        {"Upsert record failed. Database not open.",
         [&](sdk::Error* e) {
             return s.upsertRecord({{"a", 1}}, "t", e);
         }},
        {"Update record failed. Database not open.",
         [&](sdk::Error* e) {
             return s.updateRecord({{"a", 1}}, "t", "a", one, e);
         }},
        {"Increase column failed. Database not open.",
         [&](sdk::Error* e) { return s.increaseColumn("a", 1, "t", "a = 1", {}, e); }},
        {"Delete record failed. Database not open.",
         [&](sdk::Error* e) { return s.deleteRecordFromTableWithName("t", "a", one, e); }},
        {"Delete records with condition failed. Database not open.",
         [&](sdk::Error* e) {
             return s.deleteRecordsFromTableWithName("t", "a = 1", {}, e).has_value();
         }},
        {"Delete all records failed. Database not open.",
         [&](sdk::Error* e) { return s.deleteAllRecordsFromTableWithName("t", e); }},
        {"Query records failed. Database not open.",
         [&](sdk::Error* e) { return s.recordsForQuery("SELECT 1", {}, e).has_value(); }},
        {"Query numeric result failed. Database not open.",
         [&](sdk::Error* e) { return s.numberForQuery("SELECT 1", {}, e).has_value(); }},
        {"Database not open",
         [&](sdk::Error* e) { return s.performTransactionWithError(e, [] { return true; }); }},
    };
    for (const auto& [message, operation] : operations) {
        sdk::Error error;
        EXPECT_FALSE(operation(&error)) << message;
        EXPECT_EQ(codeAndMessage(error), "2 " + message);
    }
    EXPECT_FALSE(std::filesystem::exists(path_)) << "nothing reopened the file";
}

}  // namespace
