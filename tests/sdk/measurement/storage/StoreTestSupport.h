#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

// The sqlite3 command-line shell on `database` in a process of its own, fed SQL on its standard
// input as the test goes: a second connection that shares no process or code with the store.
class SqliteShell {
  public:
    explicit SqliteShell(const std::filesystem::path& database) {
        int input[2];
        int output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        const std::string path = database.string();
        char* const argv[] = {const_cast<char*>("sqlite3"), const_cast<char*>(path.c_str()),
                              nullptr};
        const int spawned =
            posix_spawn(&pid_, "/usr/bin/sqlite3", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        toShell_ = input[1];
        fromShell_ = output[0];
        if (spawned != 0) {
            pid_ = -1;
            ADD_FAILURE() << "cannot start sqlite3: " << std::strerror(spawned);
        }
    }
    ~SqliteShell() { finish(); }
    SqliteShell(const SqliteShell&) = delete;
    SqliteShell& operator=(const SqliteShell&) = delete;

    void send(const std::string& sql) {
        const std::string line = sql + "\n";
        ASSERT_EQ(::write(toShell_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }

    // Reads what the shell prints until a line equal to `line`; false when the shell ends first.
    bool waitForLine(const std::string& line) {
        std::string pending;
        char c = 0;
        while (::read(fromShell_, &c, 1) == 1) {
            if (c != '\n') {
                pending += c;
            } else if (pending == line) {
                return true;
            } else {
                pending.clear();
            }
        }
        return false;
    }

    // Takes the database's exclusive lock (no other connection can read or write) and holds it
    // until finish() or more SQL ends the transaction.
    void holdExclusiveLock() {
        send("PRAGMA locking_mode=EXCLUSIVE;");
        send("BEGIN EXCLUSIVE;");
        send("PRAGMA user_version=7;");
        send("SELECT 'locked';");
        ASSERT_TRUE(waitForLine("locked"));
    }

    // Ends the shell's input (committing what it holds) and waits for it to exit.
    void finish() {
        if (toShell_ >= 0) {
            ::close(toShell_);
            toShell_ = -1;
        }
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        if (fromShell_ >= 0) {
            ::close(fromShell_);
            fromShell_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    int toShell_ = -1;
    int fromShell_ = -1;
};

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
