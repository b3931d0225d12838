#pragma once

#include <gtest/gtest.h>

#include <filesystem>
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

    cb::testsupport::TempDir dir_{"cb-sqlite"};
    std::filesystem::path path_ = dir_ / "store/test.sql";
    MonitorRecorder monitor_;
    std::unique_ptr<APMSqliteStore> store_;
};

}  // namespace sdktest
