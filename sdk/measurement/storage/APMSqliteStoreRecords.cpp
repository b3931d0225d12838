// Writing records, reading records and numbers.

#include <sqlite3.h>

#include "sdk/measurement/storage/APMSqliteStore.h"
#include "sdk/measurement/storage/APMSqliteStoreSupport.h"

using namespace apm_sqlite_detail;

// Writing ------------------------------------------------------------------------------------

APMSqliteStatementLease APMSqliteStore::upsertStatementForRecord(const APMSqliteRecord& record,
                                                                 std::string_view table,
                                                                 sdk::Error* error) {
    std::string columns;
    std::string placeholders;
    APMSqliteValueRefs values;
    for (const auto& [name, value] : record) {
        if (!isStorableValue(value)) {
            monitor().logWithLevel(kLevelWarning, 34020, "Record has value of unexpected type");
            return {};
        }
        columns += name + ", ";
        placeholders += "?, ";
        values.push_back(&value);
    }
    columns.replace(columns.size() - 2, 2, ") VALUES (");
    placeholders.replace(placeholders.size() - 2, 2, ");");
    const std::string sql =
        "INSERT OR REPLACE INTO " + std::string(table) + " (" + columns + placeholders;
    return statementForQuery(sql, values, error);
}

bool APMSqliteStore::upsertRecord(const APMSqliteRecord& record, std::string_view table,
                                  sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(record.size(), error, kBadArgument,
                                   "Received empty record for upsert") ||
        !APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for upsert") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Upsert record failed. Database not open.")) {
        return false;
    }
    APMSqliteStatementLease statement = upsertStatementForRecord(record, table, error);
    return statement && executeSQLStatement(std::move(statement), error);
}

APMSqliteStatementLease APMSqliteStore::updateStatementForRecord(const APMSqliteRecord& record,
                                                                 std::string_view table,
                                                                 std::string_view column,
                                                                 const sdk::Value& value,
                                                                 sdk::Error* error) {
    std::string assignments;
    APMSqliteValueRefs values;
    for (const auto& [name, recordValue] : record) {
        if (!isStorableValue(recordValue)) {
            monitor().logWithLevel(kLevelWarning, 34021,
                                   "Record has value of unexpected type (update)");
            APMSetErrorWithCode(error, kBadArgument,
                                "Failed to bind parameter of unexpected type to update statement");
            return {};
        }
        assignments += name + "=?,";
        values.push_back(&recordValue);
    }
    assignments.pop_back();
    values.push_back(&value);
    return statementForQuery("UPDATE " + std::string(table) + " SET " + assignments + " WHERE " +
                                 std::string(column) + "=?",
                             values, error);
}

bool APMSqliteStore::updateRecord(const APMSqliteRecord& record, std::string_view table,
                                  std::string_view column, const std::optional<sdk::Value>& value,
                                  sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(record.size(), error, kBadArgument, "Empty record for update") ||
        !APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Empty table name for update") ||
        !APMCheckNonZeroOrSetError(column.size(), error, kBadArgument,
                                   "Empty column name for update") ||
        !APMCheckNotNilOrSetError(value, error, kBadArgument, "Nil column value for update") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Update record failed. Database not open.")) {
        return false;
    }
    APMSqliteStatementLease statement =
        updateStatementForRecord(record, table, column, *value, error);
    return statement && executeSQLStatement(std::move(statement), error);
}

bool APMSqliteStore::updateAllRecordsInTableWithName(std::string_view table,
                                                     std::string_view column,
                                                     const std::optional<sdk::Value>& value,
                                                     sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Empty table name for update") ||
        !APMCheckNonZeroOrSetError(column.size(), error, kBadArgument,
                                   "Empty column name for update") ||
        !APMCheckNotNilOrSetError(value, error, kBadArgument, "Nil column value for update") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Update record failed. Database not open.")) {
        return false;
    }
    APMSqliteStatementLease statement =
        statementForQuery("UPDATE " + std::string(table) + " SET " + std::string(column) + "=?",
                          APMSqliteValueRefs{&*value}, error);
    return statement && stepToEnd(std::move(statement), "update all records value", error);
}

bool APMSqliteStore::increaseColumn(std::string_view column, std::int64_t amount,
                                    std::string_view table, std::string_view condition,
                                    const APMSqliteParameters& parameters, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Empty table name for increase column") ||
        !APMCheckNonZeroOrSetError(column.size(), error, kBadArgument,
                                   "Empty column name for increase column") ||
        !APMCheckNonZeroOrSetError(condition.size(), error, kBadArgument,
                                   "Empty condition for increase column") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Increase column failed. Database not open.")) {
        return false;
    }
    const auto info = columnInfoForTableWithName(table, error);
    if (!info) {
        return false;
    }
    const auto declared = info->find(std::string(column));
    if (!APMCheckTrueOrSetError(declared != info->end(), error, kBadArgument,
                                "Invalid column or table name") ||
        !APMCheckTrueOrSetError(asciiUpper(declared->second) == "INTEGER", error, kBadArgument,
                                "Column type is not integer.")) {
        return false;
    }
    const std::string name(column);
    APMSqliteStatementLease statement =
        statementForQuery("UPDATE " + std::string(table) + " SET " + name + " = " + name + " + " +
                              std::to_string(amount) + " WHERE " + std::string(condition),
                          parameters, error);
    return statement && stepToEnd(std::move(statement), "increase records value", error);
}

bool APMSqliteStore::deleteRecordFromTableWithName(std::string_view table, std::string_view column,
                                                   const std::optional<sdk::Value>& value,
                                                   sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for delete record") ||
        !APMCheckNonZeroOrSetError(column.size(), error, kBadArgument,
                                   "Received empty column for delete record") ||
        !APMCheckNotNilOrSetError(value, error, kBadArgument,
                                  "Received nil value for delete record") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Delete record failed. Database not open.")) {
        return false;
    }
    APMSqliteStatementLease statement = prepareSQL(
        "DELETE FROM " + std::string(table) + " WHERE " + std::string(column) + "=?", error);
    if (!statement || !bindValues({&*value}, statement.get(), error)) {
        return false;
    }
    return stepToEnd(std::move(statement), "delete record", error);
}

std::optional<std::int64_t> APMSqliteStore::deleteRecordsFromTableWithName(
    std::string_view table, std::string_view condition, const APMSqliteParameters& parameters,
    sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for delete record") ||
        !APMCheckNonZeroOrSetError(condition.size(), error, kBadArgument,
                                   "Received empty condition for delete record") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Delete records with condition failed. Database not open.")) {
        return std::nullopt;
    }
    APMSqliteStatementLease statement =
        statementForQuery("DELETE FROM " + std::string(table) + " WHERE " + std::string(condition),
                          parameters, error);
    if (!statement || !stepToEnd(std::move(statement), "delete records with condition", error)) {
        return std::nullopt;
    }
    return sqlite3_changes64(sqliteHandle_);
}

bool APMSqliteStore::deleteAllRecordsFromTableWithName(std::string_view table, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for delete all records") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Delete all records failed. Database not open.")) {
        return false;
    }
    APMSqliteStatementLease statement =
        statementForQuery("DELETE FROM " + std::string(table), error);
    return statement && stepToEnd(std::move(statement), "delete all records", error);
}

// Reading ------------------------------------------------------------------------------------

std::optional<sdk::Value> APMSqliteStore::valueAtColumn(int column, sqlite3_stmt* statement) const {
    if (statement == nullptr) {
        return std::nullopt;
    }
    switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER:
            return sdk::Value(static_cast<std::int64_t>(sqlite3_column_int64(statement, column)));
        case SQLITE_FLOAT:
            return sdk::Value(sqlite3_column_double(statement, column));
        case SQLITE_TEXT: {
            const auto* text =
                reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
            if (text == nullptr) {
                return std::nullopt;
            }
            return sdk::Value(std::string(text, sqlite3_column_bytes(statement, column)));
        }
        case SQLITE_BLOB: {
            const auto* bytes =
                static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
            if (bytes == nullptr) {
                return std::nullopt;  // SQLite's answer for a zero-length blob
            }
            return sdk::Value(sdk::Bytes(bytes, bytes + sqlite3_column_bytes(statement, column)));
        }
        case SQLITE_NULL:
            return sdk::Value();
        default:
            return std::nullopt;
    }
}

APMSqliteRecord APMSqliteStore::readRow(sqlite3_stmt* statement) const {
    APMSqliteRecord record;
    const int count = sqlite3_column_count(statement);
    for (int column = 0; column < count; ++column) {
        const char* name = sqlite3_column_name(statement, column);
        if (name == nullptr) {
            monitor().logWithLevel(kLevelWarning, 34003, "Failed to get column name");
            continue;
        }
        std::optional<sdk::Value> value = valueAtColumn(column, statement);
        if (!value) {
            monitor().logWithLevel(kLevelWarning, 34004, "Value is nil for column", name);
            continue;
        }
        record.insert_or_assign(name, std::move(*value));
    }
    return record;
}

std::optional<std::vector<APMSqliteRecord>> APMSqliteStore::recordsForQuery(
    std::string_view query, const APMSqliteParameters& parameters, sdk::Error* error) {
    return recordsForQuery(query, parameters, error,
                           [](std::size_t, const APMSqliteRecord&) { return true; });
}

std::optional<std::vector<APMSqliteRecord>> APMSqliteStore::recordsForQuery(
    std::string_view query, const APMSqliteParameters& parameters, sdk::Error* error,
    const APMSqliteRecordFilter& filter) {
    if (!APMCheckNonZeroOrSetError(query.size(), error, kBadArgument,
                                   "Received empty query for records for query") ||
        !APMCheckNotNilOrSetError(filter, error, kBadArgument,
                                  "Received empty filter for selecting records") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Query records failed. Database not open.") ||
        !APMCheckTrueOrSetError(startsWithIgnoringCase(query, "select"), error, kBadArgument,
                                "Received invalid select query")) {
        return std::nullopt;
    }
    APMSqliteStatementLease statement = statementForQuery(query, parameters, error);
    if (!statement) {
        return std::nullopt;
    }
    std::vector<APMSqliteRecord> records;
    int step = sqlite3_step(statement.get());
    const bool hasRows = step == SQLITE_ROW;
    for (std::size_t index = 0; step == SQLITE_ROW; ++index) {
        APMSqliteRecord record = readRow(statement.get());
        if (!filter(index, record)) {
            step = SQLITE_DONE;
            break;
        }
        records.push_back(std::move(record));
        step = sqlite3_step(statement.get());
    }
    // A failed step is a failed read, also after some rows: a part of the rows reported as
    // all of them would look like success to the caller.
    if (step != SQLITE_DONE) {
        setDatabaseError(error, "query records");
        return std::nullopt;
    }
    if (hasRows && records.empty()) {
        monitor().logWithLevel(kLevelWarning, 34005,
                               "Database contains records that were all filtered out");
    }
    return records;
}

std::optional<sdk::Value> APMSqliteStore::numberForQuery(std::string_view query,
                                                         const APMSqliteParameters& parameters,
                                                         sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(query.size(), error, kBadArgument,
                                   "Received empty query to get numeric result") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Query numeric result failed. Database not open.")) {
        return std::nullopt;
    }
    APMSqliteStatementLease statement = statementForQuery(query, parameters, error);
    if (!statement) {
        return std::nullopt;
    }
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
        setDatabaseError(error, "query numeric result");
        return std::nullopt;
    }
    std::optional<sdk::Value> value = valueAtColumn(0, statement.get());
    if (value && value->isNull()) {
        return std::nullopt;
    }
    if (!APMCheckTrueOrSetError(value && value->isNumber(), error, kBadArgument,
                                "Found result that was not numeric")) {
        return std::nullopt;
    }
    return value;
}
