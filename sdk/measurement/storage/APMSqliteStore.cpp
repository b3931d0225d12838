#include "sdk/measurement/storage/APMSqliteStore.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "sdk/measurement/engine/APMExcludeFromBackup.h"
#include "sdk/measurement/storage/APMImmutableFlag.h"
#include "sdk/measurement/storage/APMSqliteStoreSupport.h"

using namespace apm_sqlite_detail;

namespace {

// Read-write, create, full mutex.
constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
static_assert(kOpenFlags == 0x10006);

// The files SQLite keeps next to a database. A log or journal left behind when its database
// is replaced would be replayed into the new, unrelated file, so they go with it.
constexpr const char* kCompanionSuffixes[] = {"-wal", "-journal", "-shm"};

// Removes `path`; a missing file counts as removed.
bool removeFile(const std::string& path, std::error_code& failure) {
    std::filesystem::remove(path, failure);
    return !failure;
}

}  // namespace

APMSqliteStore::APMSqliteStore(std::string path) : databasePath_(std::move(path)) {}

APMSqliteStore::~APMSqliteStore() {
    closeDatabase();
}

std::unique_ptr<APMSqliteStore> APMSqliteStore::initWithDatabasePath(const std::string& path,
                                                                     sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(path.size(), error, kBadArgument,
                                   "Received empty database path on init")) {
        return nullptr;
    }
    std::unique_ptr<APMSqliteStore> store(new APMSqliteStore(path));
    bool damaged = false;
    if (store->openAndValidateDatabase(error, &damaged)) {
        return store;
    }
    // Only a damaged file is replaced by a new one, once. A busy, locked, read-only or
    // unreadable file may hold every stored event; it is kept for a later open.
    if (damaged && store->closeAndDeleteDatabase() &&
        store->openAndValidateDatabase(error, &damaged)) {
        return store;
    }
    return nullptr;
}

bool APMSqliteStore::isDamagedFileCode(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool APMSqliteStore::openAndValidateDatabase(sdk::Error* error, bool* damaged) {
    *damaged = false;
    lastFailureCode_ = SQLITE_OK;
    struct stat status {};
    if (stat(databasePath_.c_str(), &status) == 0) {
        if (APMFileIsImmutable(databasePath_) && !APMClearImmutableFlag(databasePath_, error)) {
            return false;
        }
    } else if (errno != ENOENT) {
        if (error != nullptr) {
            *error = APMPOSIXError(errno, "Cannot read the attributes of", databasePath_);
        }
        return false;
    } else {
        std::error_code failure;
        const auto folder = std::filesystem::path(databasePath_).parent_path();
        if (!folder.empty() && !std::filesystem::create_directories(folder, failure) && failure) {
            if (error != nullptr) {
                *error =
                    APMPOSIXError(failure.value(), "Cannot create the folder of", databasePath_);
            }
            return false;
        }
    }
    if (const int opened =
            sqlite3_open_v2(databasePath_.c_str(), &sqliteHandle_, kOpenFlags, nullptr);
        opened != SQLITE_OK) {
        setDatabaseError(error, "initialize sqlite handle");
        *damaged = isDamagedFileCode(opened);
        closeDatabase();
        return false;
    }
    // Another process (or connection) writing must make this one wait, not fail.
    sqlite3_busy_timeout(sqliteHandle_, kBusyTimeoutMilliseconds);
    sdk::Error backupError;
    if (!APMExcludeFromBackup(databasePath_, &backupError)) {
        monitor().logWithLevel(kLevelWarning, 34017, "Failed to exclude database file from backup",
                               backupError);
    }
    if (!validateDatabaseWithError(error, damaged)) {
        closeDatabase();
        return false;
    }
    enableWriteAheadLog();
    return true;
}

bool APMSqliteStore::validateDatabaseWithError(sdk::Error* error, bool* damaged) {
    *damaged = false;
    APMSqliteStatementLease statement = prepareSQL("PRAGMA integrity_check", error);
    if (!statement) {
        // Reading the schema failed: damaged, or only busy, locked or unreadable now.
        *damaged = isDamagedFileCode(lastFailureCode_);
        return false;
    }
    const int stepped = sqlite3_step(statement.get());
    bool valid = false;
    if (stepped == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(statement.get(), 0);
        valid = sqlite3_column_count(statement.get()) == 1 && text != nullptr &&
                std::string_view(reinterpret_cast<const char*>(text)) == "ok";
        // The check ran and found faults: the file is damaged.
        *damaged = !valid;
    } else {
        // No answer: SQLITE_DONE cannot come from the check; an error is damage only when
        // SQLite says so.
        *damaged = stepped == SQLITE_DONE || isDamagedFileCode(stepped);
    }
    if (!valid) {
        setDatabaseError(error, "validate database");
    }
    return valid;
}

void APMSqliteStore::enableWriteAheadLog() {
    // One transaction per event: with the rollback journal at full sync the disk allows about a
    // hundred a second. A file that cannot switch (read-only) keeps its journal and stays
    // usable for reading.
    sdk::Error failure;
    if (!switchToWriteAheadLog(&failure) || !executeSQL("PRAGMA synchronous=NORMAL", &failure)) {
        monitor().logWithLevel(kLevelWarning, 34023,
                               "Failed to switch database to write-ahead logging", failure);
    }
}

bool APMSqliteStore::switchToWriteAheadLog(sdk::Error* error) {
    // The pragma answers with the mode now in force.
    APMSqliteStatementLease statement = prepareSQL("PRAGMA journal_mode=WAL", error);
    if (!statement) {
        return false;
    }
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
        setDatabaseError(error, "set journal mode");
        return false;
    }
    const unsigned char* mode = sqlite3_column_text(statement.get(), 0);
    const bool switched =
        mode != nullptr && asciiUpper(reinterpret_cast<const char*>(mode)) == "WAL";
    APMCheckTrueOrSetError(switched, error, kSqliteFailure, "Journal mode is not WAL");
    return switched;
}

void APMSqliteStore::closeDatabase() {
    if (sqliteHandle_ == nullptr) {
        assert(statementCache_.empty());
        return;
    }
    finalizeAndClearStatements();
    // close_v2: a statement still stepped by a caller (closing from inside a filter block)
    // keeps the connection alive until that statement is finalized.
    const int result = sqlite3_close_v2(sqliteHandle_);
    if (result != SQLITE_OK) {
        monitor().logWithLevel(kLevelError, 34018, "Failed to close database. Got error code",
                               result);
    }
    sqliteHandle_ = nullptr;
}

void APMSqliteStore::finalizeAndClearStatements() {
    statementCache_.clear();
}

bool APMSqliteStore::closeAndDeleteDatabase() {
    closeDatabase();
    std::error_code failure;
    for (const char* suffix : kCompanionSuffixes) {
        if (!removeFile(databasePath_ + suffix, failure)) {
            monitor().logWithLevel(
                kLevelError, 34019, "Failed to delete database. Error",
                APMPOSIXError(failure.value(), "Cannot remove", databasePath_ + suffix));
            return false;
        }
    }
    struct stat status {};
    if (stat(databasePath_.c_str(), &status) != 0) {
        return true;
    }
    APMClearImmutableFlag(databasePath_, nullptr);
    if (!removeFile(databasePath_, failure)) {
        monitor().logWithLevel(kLevelError, 34019, "Failed to delete database. Error",
                               APMPOSIXError(failure.value(), "Cannot remove", databasePath_));
        return false;
    }
    return true;
}

// Database errors ---------------------------------------------------------------------------

std::optional<std::string> APMSqliteStore::lastErrorMessage() const {
    if (sqliteHandle_ == nullptr) {
        monitor().logWithLevel(kLevelError, 34022,
                               "Failed to get last error message. Database not open");
        return std::nullopt;
    }
    return std::string(sqlite3_errmsg(sqliteHandle_));
}

std::optional<std::string> APMSqliteStore::errorDescriptionForDatabaseOperation(
    std::string_view operation) const {
    if (sqliteHandle_ == nullptr) {
        return std::nullopt;
    }
    return "Database operation \"" + std::string(operation) + "\" failed with sqlite code " +
           std::to_string(sqlite3_errcode(sqliteHandle_)) + " and error message \"" +
           lastErrorMessage().value_or("") + "\"";
}

std::string APMSqliteStore::monitorContextForDatabaseOperation(std::string_view operation) const {
    const int code = sqliteHandle_ != nullptr ? sqlite3_errcode(sqliteHandle_) : 0;
    const bool writable = access(databasePath_.c_str(), W_OK) == 0;
    return (operation.empty() ? std::string("Unknown operation") : std::string(operation)) + "," +
           std::to_string(code) + "," + (writable ? "A" : "NA");
}

void APMSqliteStore::setDatabaseError(sdk::Error* error, std::string_view operation) const {
    if (sqliteHandle_ != nullptr) {
        lastFailureCode_ = sqlite3_extended_errcode(sqliteHandle_);
    }
    if (error == nullptr) {
        return;
    }
    *error = apm_errorWithCode(kSqliteFailure,
                               errorDescriptionForDatabaseOperation(operation).value_or(""),
                               monitorContextForDatabaseOperation(operation));
}
