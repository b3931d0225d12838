#include "sdk/measurement/storage/APMDatabase.h"

#include "sdk/measurement/engine/APMFilePaths.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace {

constexpr std::int64_t kLevelError = 1;
constexpr std::int64_t kLevelWarning = 4;

APMMonitor& monitor() {
    return APMMonitor::shared();
}

}  // namespace

APMDatabase::APMDatabase(std::shared_ptr<APMPersistedConfig> persistedConfig)
    : persistedConfig_(std::move(persistedConfig)) {}

std::unique_ptr<APMDatabase> APMDatabase::initWithDatabaseName(
    std::string_view name, std::shared_ptr<APMPersistedConfig> persistedConfig, sdk::Error* error) {
    if (name.empty()) {
        APMSetErrorWithCode(error, 1, "Received empty database name in init");
        return nullptr;
    }
    auto database = std::make_unique<APMDatabase>(std::move(persistedConfig));
    if (!database->initializeDatabaseResourcesWithContext("Init", APMMeasurementFilePath(name),
                                                          error)) {
        return nullptr;
    }
    return database;
}

bool APMDatabase::initializeDatabaseResourcesWithContext(std::string_view context,
                                                         const std::string& path,
                                                         sdk::Error* error) {
    sqliteStore_ = APMSqliteStore::initWithDatabasePath(path, error);
    if (!sqliteStore_) {
        return false;
    }
    if (!ensureAllTables()) {
        monitor().logWithLevel(
            kLevelError, 12002,
            "Failed to create or validate required database tables (" + std::string(context) + ")");
        const int failure = sqliteStore_->lastFailureCode();
        if (failure != 0 && !APMSqliteStore::isDamagedFileCode(failure)) {
            // SQLite could not write now (busy beyond the timeout, read-only, an I/O error):
            // the file and every event in it stay for the next start.
            sqliteStore_.reset();
            APMSetErrorWithCode(error, 2, "Failed to create or validate required database tables");
            return false;
        }
        // A file we cannot bring up to date would fail every start; the next one begins afresh.
        // The journal files go with it: a log left behind must not be replayed onto a new file.
        sqliteStore_.reset();
        sdk::Error removal;
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            if (!APMRemoveFile(path.empty() ? path : path + suffix, &removal)) {
                monitor().logWithLevel(kLevelWarning, 12003,
                                       "Failed to delete old database file after failed "
                                       "validation. Error (" +
                                           std::string(context) + ")",
                                       removal);
                break;
            }
        }
        APMSetErrorWithCode(error, 2, "Failed to create or validate required database tables");
        return false;
    }
    if (!initializeAppMetadata()) {
        monitor().logWithLevel(
            kLevelError, 12004,
            "Failed to initialize App Metadata table (" + std::string(context) + ")");
        APMSetErrorWithCode(error, 2, "Failed to initialize App Metadata table");
        return false;
    }
    return true;
}

bool APMDatabase::initializeAppMetadata() {
    return performTransaction([this] {
        sdk::Error error;
        std::optional<APMSqliteRecord> existing = appMetadataRecord(&error);
        if (!error.ok()) {
            monitor().logWithLevel(kLevelError, 12005, "Failed to query app metadata");
            return false;
        }
        if (existing) {
            return true;
        }
        if (!upsertDataType(recordFromAppMetadata(APMAppMetadata(0, 0, 0.0, 0.0)), "app_metadata",
                            "rowid", sdk::Value(kAppMetadataRowID), 1, &error)) {
            monitor().logWithLevel(kLevelError, 12006, "Unable to update the app metadata. Error",
                                   error);
            return false;
        }
        return true;
    });
}

bool APMDatabase::reset(sdk::Error* error) {
    const std::string path = sqliteStore_ ? sqliteStore_->databasePath() : std::string();
    if (!sqliteStore_ || !sqliteStore_->closeAndDeleteDatabase()) {
        APMSetErrorWithCode(error, 2, "Failed to delete database data");
        return false;
    }
    return initializeDatabaseResourcesWithContext("Reset", path, error);
}

bool APMDatabase::performTransaction(const std::function<bool()>& block) {
    sdk::Error error;
    if (sqliteStore_ && sqliteStore_->performTransactionWithError(&error, block)) {
        return true;
    }
    if (!sqliteStore_) {
        error = apm_errorWithCode(2, "Database not open.");
    }
    monitor().logWithLevel(kLevelError, 12056,
                           "Transaction failed. " + error.localizedDescription());
    return false;
}

std::optional<std::vector<APMSqliteRecord>> APMDatabase::recordsForQuery(
    std::string_view query, const APMSqliteParameters& params, sdk::Error* error) {
    if (!sqliteStore_) {
        APMSetErrorWithCode(error, 2, "Database not open.");
        return std::nullopt;
    }
    return sqliteStore_->recordsForQuery(query, params, error);
}

std::optional<std::vector<APMSqliteRecord>> APMDatabase::recordsWithColumnValue(
    std::string_view table, std::string_view column, const std::optional<sdk::Value>& value,
    sdk::Error* error, bool blockPresent) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, 1,
                                   "Received empty table name to create data type from table") ||
        !APMCheckNonZeroOrSetError(column.size(), error, 1,
                                   "Received empty column name to create data type from table") ||
        !APMCheckNotNilOrSetError(value, error, 1,
                                  "Received nil column value to create data type from table") ||
        !APMCheckTrueOrSetError(blockPresent, error, 2,
                                "Received nil block to create data type from table")) {
        return std::nullopt;
    }
    return recordsForQuery(
        "SELECT rowid, * FROM " + std::string(table) + " WHERE " + std::string(column) + " = ?",
        {*value}, error);
}

bool APMDatabase::insertDataType(const std::optional<APMSqliteRecord>& record,
                                 std::string_view table, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, 1,
                                   "Received empty table name for inserting") ||
        !APMCheckNotNilOrSetError(record, error, 2, "Failed to insert empty record")) {
        return false;
    }
    return sqliteStore_ ? sqliteStore_->upsertRecord(*record, table, error)
                        : APMCheckTrueOrSetError(false, error, 2, "Database not open.");
}

bool APMDatabase::upsertDataType(const std::optional<APMSqliteRecord>& record,
                                 std::string_view table, std::string_view column,
                                 const sdk::Value& value, std::int64_t tableLimit,
                                 sdk::Error* error) {
    if (!APMCheckNotNilOrSetError(record, error, 1, "Received empty data type to upsert") ||
        !APMCheckNonZeroOrSetError(table.size(), error, 1,
                                   "Received empty table name for checking upsert") ||
        !APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.")) {
        return false;
    }
    const std::optional<std::int64_t> withKey =
        sqliteStore_->rowCountForTableWithName(table, column, value, error);
    if (!withKey) {
        return false;
    }
    const std::optional<std::int64_t> all = sqliteStore_->rowCountForTableWithName(table, error);
    if (!all) {
        return false;
    }
    if (*withKey == 0 && *all >= tableLimit) {
        APMSetErrorWithCode(error, 2, "Failed to insert data type. Table is full");
        return false;
    }
    return sqliteStore_->upsertRecord(*record, table, error);
}

bool APMDatabase::updateDataType(const std::optional<APMSqliteRecord>& record,
                                 std::string_view table, std::string_view column,
                                 const sdk::Value& value, sdk::Error* error) {
    if (!APMCheckNotNilOrSetError(record, error, 1, "Received empty data type to update") ||
        !APMCheckNonZeroOrSetError(table.size(), error, 1,
                                   "Received empty table name for updating") ||
        !APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.")) {
        return false;
    }
    const std::optional<std::int64_t> withKey =
        sqliteStore_->rowCountForTableWithName(table, column, value, error);
    if (!withKey) {
        return false;
    }
    if (*withKey == 0) {
        APMSetErrorWithCode(error, 2, "Failed to update record. Item doesn't exist");
        return false;
    }
    return sqliteStore_->updateRecord(*record, table, column, value, error);
}
