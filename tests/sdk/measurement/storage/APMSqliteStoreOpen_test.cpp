#include <fcntl.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

#include "tests/sdk/measurement/storage/StoreTestSupport.h"
#include "tests/support/Unprivileged.h"

namespace {

using sdktest::codeAndMessage;
using sdktest::sqliteCli;

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string randomBytes(std::size_t count) {
    std::mt19937 random(7);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

// Sets or clears the immutable flag; errno is left set when the file system refuses.
bool setImmutable(const std::filesystem::path& path, bool immutable) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    const int saved = errno;
    if (fd >= 0) {
        close(fd);
    }
    errno = saved;
    return done;
}

TEST(APMSqliteStoreOpen, CreatesMissingFoldersAndOpensInWriteAheadMode) {
    cb::testsupport::TempDir dir("cb-sqlite");
    const auto path = dir / "a/b/c/test.sql";
    sdk::Error error;
    auto store = APMSqliteStore::initWithDatabasePath(path.string(), &error);
    ASSERT_TRUE(store) << error.ToString();
    EXPECT_EQ(store->databasePath(), path.string());
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
    EXPECT_EQ(sqliteCli(path, "pragma journal_mode"), "wal\n");

    char value[16] = {};
    const ssize_t length = getxattr(path.c_str(), "user.xdg.robots.backup", value, sizeof value);
    if (length < 0 && errno == ENOTSUP) {
        GTEST_SKIP() << "no user attributes on this file system";
    }
    ASSERT_GE(length, 0) << std::strerror(errno);
    EXPECT_EQ(std::string(value, static_cast<std::size_t>(length)), "false");
}

TEST(APMSqliteStoreOpen, EmptyPathGivesNoStore) {
    sdk::Error error;
    EXPECT_FALSE(APMSqliteStore::initWithDatabasePath("", &error));
    EXPECT_EQ(codeAndMessage(error), "1 Received empty database path on init");
    EXPECT_EQ(error.domain(), kAPMErrorDomain);
    EXPECT_FALSE(APMSqliteStore::initWithDatabasePath("", nullptr));
}

// A write-ahead database of many pages whose main file lost its second half while its log,
// which holds the first page, survived: as a crash in the middle of a copy can leave it.
void writeTruncatedDatabaseWithItsLog(const std::filesystem::path& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                           "CREATE TABLE leftover(x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                           "SELECT i + 1 FROM n WHERE i < 300) INSERT INTO leftover SELECT "
                           "randomblob(900) FROM n; PRAGMA wal_checkpoint(TRUNCATE);"
                           "CREATE TABLE another(y);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string log = path.string() + "-wal";
    std::filesystem::copy_file(log, log + ".saved");
    sqlite3_close(db);
    std::filesystem::rename(log + ".saved", log);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
}

TEST(APMSqliteStoreOpen, DamagedFileIsReplacedByAnEmptyValidOne) {
    enum class Damage { kRandomBytes, kTruncated, kTruncatedWithItsLog };
    for (Damage damage : {Damage::kRandomBytes, Damage::kTruncated, Damage::kTruncatedWithItsLog}) {
        SCOPED_TRACE(static_cast<int>(damage));
        cb::testsupport::TempDir dir("cb-sqlite");
        const auto path = dir / "test.sql";
        if (damage == Damage::kTruncated) {
            std::filesystem::create_directories(path.parent_path());
            sqliteCli(path,
                      "create table big(x); with recursive n(i) as (select 1 union all select i+1 "
                      "from n where i < 300) insert into big select randomblob(900) from n;");
            std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
        } else if (damage == Damage::kTruncatedWithItsLog) {
            writeTruncatedDatabaseWithItsLog(path);
        } else {
            writeBytes(path, randomBytes(8192));
        }
        sdk::Error error;
        auto store = APMSqliteStore::initWithDatabasePath(path.string(), &error);
        ASSERT_TRUE(store) << error.ToString();
        store.reset();
        EXPECT_EQ(sqliteCli(path, "pragma integrity_check"), "ok\n");
        EXPECT_EQ(sqliteCli(path, ".tables"), "");
    }
}

TEST(APMSqliteStoreOpen, AFileInAFolderTheUserCannotWriteIsKeptAndTheOpenFails) {
    // A valid write-ahead database whose folder the user may read but not write: SQLite cannot
    // make the log and index files it needs, so it answers "read-only". Not damage: the file
    // must not be touched.
    cb::testsupport::TempDir dir("cb-sqlite");
    const auto folder = dir / "readonly";
    const auto path = folder / "test.sql";
    std::filesystem::create_directories(folder);
    sqliteCli(path, "pragma journal_mode=wal; create table t(a); insert into t values (42);");
    std::filesystem::permissions(path, std::filesystem::perms::all);  // the file itself: 0777
    dir.openToEveryone();
    std::filesystem::permissions(
        folder, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                    std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                    std::filesystem::perms::others_exec);

    const cb::testsupport::ChildResult child = cb::testsupport::runUnprivileged([&] {
        sdktest::MonitorRecorder monitor;
        sdk::Error error;
        auto store = APMSqliteStore::initWithDatabasePath(path.string(), &error);
        std::string report = store ? "opened" : codeAndMessage(error);
        if (monitor.saw(34019)) {
            report += " / tried to delete";
        }
        return report;
    });
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.output.substr(0, 2), "3 ") << child.output;
    EXPECT_NE(child.output.find("readonly"), std::string::npos) << child.output;
    EXPECT_EQ(child.output.find("tried to delete"), std::string::npos) << child.output;
    EXPECT_EQ(sqliteCli(path, "select a from t"), "42\n");
}

TEST(APMSqliteStoreOpen, ImmutableFileIsMadeMutableAndOpened) {
    cb::testsupport::TempDir dir("cb-sqlite");
    const auto path = dir / "test.sql";
    sqliteCli(path, "create table t(a); insert into t values (42);");
    if (!setImmutable(path, true)) {
        GTEST_SKIP() << "cannot set the immutable flag here: " << std::strerror(errno);
    }
    sdk::Error error;
    auto store = APMSqliteStore::initWithDatabasePath(path.string(), &error);
    setImmutable(path, false);  // whatever happened, let the folder be removed
    ASSERT_TRUE(store) << error.ToString();
    auto rows = store->recordsForQuery("SELECT a FROM t", {}, &error);
    ASSERT_TRUE(rows) << error.ToString();
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ(rows->front().at("a"), sdk::Value(42));
}

TEST(APMSqliteStoreOpen, ImmutableFileIsDeletedByCloseAndDelete) {
    cb::testsupport::TempDir dir("cb-sqlite");
    const auto path = dir / "test.sql";
    sdk::Error error;
    auto store = APMSqliteStore::initWithDatabasePath(path.string(), &error);
    ASSERT_TRUE(store) << error.ToString();
    if (!setImmutable(path, true)) {
        GTEST_SKIP() << "cannot set the immutable flag here: " << std::strerror(errno);
    }
    const bool deleted = store->closeAndDeleteDatabase();
    if (std::filesystem::exists(path)) {
        setImmutable(path, false);
    }
    EXPECT_TRUE(deleted);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
