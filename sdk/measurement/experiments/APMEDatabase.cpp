#include "sdk/measurement/experiments/APMEDatabase.h"

#include <string>

#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/experiments/APMEMonitor.h"

namespace {

// Never destroyed: the shared manager's worker queue may still open the database while the
// process exits and runs the destructors of statics.
const APMSqliteColumnInfo& snapshotColumns() {
    static const auto* const columns =
        new APMSqliteColumnInfo{{"sdk_name", "TEXT NOT NULL PRIMARY KEY"},
                                {"snapshotProto", "BLOB NOT NULL"},
                                {"timestamp", "REAL NOT NULL"},
                                {"manually_activated", "INTEGER"}};
    return *columns;
}

// "<text> (<context>)", the context word of a diagnostic.
std::string withContext(std::string_view text, std::string_view context) {
    return std::string(text) + " (" + std::string(context) + ")";
}

}  // namespace

std::unique_ptr<APMEDatabase> APMEDatabase::initWithPath(const std::string& path) {
    if (path.empty()) {
        APMEMonitor::logWithLevel(1, 810000, "Cannot initialize the database with invalid path");
        return nullptr;
    }
    std::unique_ptr<APMEDatabase> database(new APMEDatabase());
    if (!database->initializeDatabaseResourcesWithContext("Init", path))
        return nullptr;
    return database;
}

bool APMEDatabase::initializeDatabaseResourcesWithContext(std::string_view context,
                                                          const std::string& path) {
    databasePath_ = path;
    sqliteStore_.reset();
    sdk::Error error;
    sqliteStore_ = APMSqliteStore::initWithDatabasePath(path, &error);
    if (!sqliteStore_) {
        APMEMonitor::logWithLevel(1, 810001, withContext("Failed to open database", context),
                                  {error});
        return false;
    }
    if (ensureAllTables())
        return true;
    APMEMonitor::logWithLevel(
        1, 810002, withContext("Failed to create or validate required database tables", context));
    if (!sqliteStore_->closeAndDeleteDatabase()) {
        APMEMonitor::logWithLevel(
            4, 810003,
            withContext("Failed to delete old database file after failed validation. Error",
                        context),
            {path});
    }
    sqliteStore_.reset();
    return false;
}

bool APMEDatabase::ensureAllTables() {
    if (!sqliteStore_)
        return false;
    for (std::string_view table : {kPendingTable, kActivatedTable, kLaunchedTable}) {
        sdk::Error error;
        if (!sqliteStore_->ensureTableWithName(table, snapshotColumns(), {}, {}, &error)) {
            APMEMonitor::logWithLevel(1, 810004, "Failed to ensure table. Table, error",
                                      {std::string(table), error});
            return false;
        }
    }
    return true;
}

bool APMEDatabase::closeAndDelete() {
    if (!sqliteStore_ || !sqliteStore_->closeAndDeleteDatabase()) {
        APMEMonitor::logWithLevel(4, 810005, "Failed to delete database data");
        return false;
    }
    return true;
}

bool APMEDatabase::reset() {
    const std::string path = databasePath_;
    // A closed database has no file left to delete.
    if (sqliteStore_)
        closeAndDelete();
    if (path.empty() || !initializeDatabaseResourcesWithContext("Reset", path)) {
        APMEMonitor::logWithLevel(1, 810006, "Cannot re-initialize the database");
        return false;
    }
    return true;
}

bool APMEDatabase::performTransaction(const std::function<bool()>& block) {
    sdk::Error error;
    APMSqliteStore* store = openStore(&error);
    if (store != nullptr && store->performTransactionWithError(&error, block))
        return true;
    APMEMonitor::logWithLevel(1, 810007, "Transaction failed. " + error.localizedDescription());
    return false;
}

APMSqliteStore* APMEDatabase::openStore(sdk::Error* error) const {
    if (!sqliteStore_)
        APMSetErrorWithCode(error, 2, "Experiment database not open.");
    return sqliteStore_.get();
}
