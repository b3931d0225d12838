#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/process/ProcessRunner.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/storage/APMSqliteStore.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/support/TempDir.h"

namespace sdktest {

// Runs the sqlite3 command-line shell on `database` with `sql`; what it prints, both streams.
// The shell shares no code with the store, so it checks what the store wrote independently.
inline std::string sqliteCli(const std::filesystem::path& database, const std::string& sql) {
    const platform::ProcessResult result =
        platform::ProcessRunner::shared().run("/usr/bin/sqlite3", {database.string(), sql});
    EXPECT_TRUE(result.launched) << result.launchError;
    return result.output;
}

// The error's code and message, "<code> <message>", or "OK".
inline std::string codeAndMessage(const sdk::Error& error) {
    if (error.ok()) {
        return "OK";
    }
    return std::to_string(error.code()) + " " + error.message();
}

// A store on "<temporary folder>/store/test.sql" and the monitor's messages.
class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override { openStore(); }

    void openStore() {
        store_.reset();
        sdk::Error error;
        store_ = APMSqliteStore::initWithDatabasePath(path_.string(), &error);
        ASSERT_TRUE(store_) << error.ToString();
    }

    // Creates table `t` with the given elementary columns and no add-ons.
    void makeTable(const std::string& table, const APMSqliteColumnInfo& columns) {
        sdk::Error error;
        ASSERT_TRUE(store_->ensureTableWithName(table, columns, {}, &error)) << error.ToString();
    }

    std::string cli(const std::string& sql) { return sqliteCli(path_, sql); }

    // Every statement SQLite starts on the store's connection while `body` runs, as written.
    std::vector<std::string> traceStatements(const std::function<void()>& body) {
        std::vector<std::string> statements;
        sqlite3_trace_v2(
            store_->sqliteHandle(), SQLITE_TRACE_STMT,
            [](unsigned, void* context, void* statement, void*) {
                static_cast<std::vector<std::string>*>(context)->push_back(
                    sqlite3_sql(static_cast<sqlite3_stmt*>(statement)));
                return 0;
            },
            &statements);
        body();
        sqlite3_trace_v2(store_->sqliteHandle(), 0, nullptr, nullptr);
        return statements;
    }

    cb::testsupport::TempDir dir_{"cb-sqlite"};
    std::filesystem::path path_ = dir_ / "store/test.sql";
    MonitorRecorder monitor_;
    std::unique_ptr<APMSqliteStore> store_;
};

}  // namespace sdktest
