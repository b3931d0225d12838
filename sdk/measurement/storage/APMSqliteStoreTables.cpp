// Declarative tables: creating, validating, extending and rebuilding them; table operations.

#include <sqlite3.h>

#include <algorithm>
#include <set>

#include "sdk/measurement/storage/APMSqliteStore.h"
#include "sdk/measurement/storage/APMSqliteStoreSupport.h"

using namespace apm_sqlite_detail;

namespace {

constexpr std::string_view kPrimaryKey = "PRIMARY KEY";

// The first word of a type definition: "REAL NOT NULL" gives "REAL".
std::string firstWord(const std::string& definition) {
    return definition.substr(0, definition.find(' '));
}

// The column lists with every "PRIMARY KEY" constraint left out and the types of `modify`
// put in.
APMSqliteColumnInfo rewriteColumnInfo(const APMSqliteColumnInfo& columns,
                                      const APMSqliteModifyColumnInfo& modify) {
    APMSqliteColumnInfo rewritten;
    for (const auto& [name, definition] : columns) {
        if (name == kPrimaryKey) {
            continue;
        }
        auto changed = modify.find(name);
        rewritten.emplace_back(name, changed == modify.end() ? definition : changed->second);
    }
    return rewritten;
}

// The column types a table declared by these lists reports through "PRAGMA table_info".
std::map<std::string, std::string> expectedColumnTypes(const APMSqliteColumnInfo& elementary,
                                                       const APMSqliteColumnInfo& addOn) {
    std::map<std::string, std::string> expected;
    for (const auto& [name, definition] : elementary) {
        if (name != kPrimaryKey && !name.empty() && !firstWord(definition).empty()) {
            expected.emplace(name, firstWord(definition));
        }
    }
    for (const auto& [name, definition] : addOn) {
        if (!name.empty() && !definition.empty()) {
            expected.emplace(name, definition);
        }
    }
    return expected;
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

}  // namespace

bool APMSqliteStore::ensureTableWithName(std::string_view table,
                                         const APMSqliteColumnInfo& elementary,
                                         const APMSqliteColumnInfo& addOn,
                                         const APMSqliteModifyColumnInfo& modify,
                                         sdk::Error* error) {
    if (!ensureTableWithName(table, elementary, addOn, error)) {
        return false;
    }
    if (modify.empty()) {
        return true;
    }
    return ensureSchemaOfTableWithName(table, rewriteColumnInfo(elementary, modify),
                                       rewriteColumnInfo(addOn, modify), error);
}

bool APMSqliteStore::ensureTableWithName(std::string_view table,
                                         const APMSqliteColumnInfo& elementary,
                                         const APMSqliteColumnInfo& addOn, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for ensure table") ||
        !APMCheckNonZeroOrSetError(elementary.size(), error, kBadArgument,
                                   "Received empty elementary column info for ensure table")) {
        return false;
    }
    std::string createSQL = "CREATE TABLE IF NOT EXISTS " + std::string(table) + " ( ";
    std::vector<std::string> required;
    for (const auto& [name, definition] : elementary) {
        createSQL += name + " " + definition + ", ";
        if (name != kPrimaryKey) {
            required.push_back(name);
        }
    }
    createSQL.replace(createSQL.size() - 2, 2, ");");
    APMSqliteAddOnStatements addOnStatements;
    for (const auto& column : addOn) {
        const std::string& name = column.first;
        const std::string& definition = column.second;
        const bool seen = std::any_of(addOnStatements.begin(), addOnStatements.end(),
                                      [&name](const auto& entry) { return entry.first == name; });
        if (!name.empty() && !seen) {
            addOnStatements.emplace_back(name, "ALTER TABLE " + std::string(table) +
                                                   " ADD COLUMN " + name + " " + definition);
        }
    }
    return ensureTableWithName(table, createSQL, required, addOnStatements, error);
}

bool APMSqliteStore::ensureTableWithName(std::string_view table, std::string_view createSQL,
                                         const std::vector<std::string>& requiredColumnNames,
                                         const APMSqliteAddOnStatements& addOnColumns,
                                         sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for ensure table") ||
        !APMCheckNonZeroOrSetError(requiredColumnNames.size(), error, kBadArgument,
                                   "Received no table columns for ensure table") ||
        !APMCheckNonZeroOrSetError(createSQL.size(), error, kBadArgument,
                                   "Received empty create statement for ensure table") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Ensure table failed. Database not open.")) {
        return false;
    }
    const std::optional<bool> exists = tableExists(table, error);
    if (!exists || (!*exists && !executeSQL(createSQL, error))) {
        return false;
    }
    return validateTableWithName(table, requiredColumnNames, addOnColumns, error).value_or(false);
}

std::optional<bool> APMSqliteStore::validateTableWithName(
    std::string_view table, const std::vector<std::string>& requiredColumnNames,
    const APMSqliteAddOnStatements& addOnColumns, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for validate table") ||
        !APMCheckNonZeroOrSetError(requiredColumnNames.size(), error, kBadArgument,
                                   "Received no table columns for validate table") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Validate table failed. Database not open.")) {
        return std::nullopt;
    }
    const auto columns = columnsForTableWithName(table, error);
    if (!columns || columns->empty()) {
        return std::nullopt;
    }
    std::set<std::string> remaining(columns->begin(), columns->end());
    for (const std::string& name : requiredColumnNames) {
        if (remaining.erase(name) == 0) {
            APMSetErrorWithCode(error, kNotOpenOrMalformed, "Table is missing required columns");
            return false;
        }
    }
    for (const auto& [name, statement] : addOnColumns) {
        if (remaining.erase(name) == 0 && !executeSQL(statement, error)) {
            return false;
        }
    }
    if (remaining.empty()) {
        return true;
    }
    const std::optional<bool> unknownNotNull =
        hasUnknownNotNullColumn(table, {remaining.begin(), remaining.end()});
    if (!unknownNotNull) {
        return false;
    }
    if (*unknownNotNull) {
        APMSetErrorWithCode(error, kNotOpenOrMalformed,
                            "Table contains unknown non-optional columns");
        return false;
    }
    return true;
}

std::optional<bool> APMSqliteStore::hasUnknownNotNullColumn(
    std::string_view table, const std::vector<std::string>& unknown) {
    APMSqliteStatementLease statement =
        statementForQuery("PRAGMA table_info(" + std::string(table) + ")", nullptr);
    if (!statement) {
        return std::nullopt;
    }
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        const std::string name = columnText(statement.get(), 1);
        if (sqlite3_column_int64(statement.get(), 3) != 0 &&
            std::find(unknown.begin(), unknown.end(), name) != unknown.end()) {
            return true;
        }
    }
    return false;
}

bool APMSqliteStore::ensureSchemaOfTableWithName(std::string_view table,
                                                 const APMSqliteColumnInfo& elementary,
                                                 const APMSqliteColumnInfo& addOn,
                                                 sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for ensure table schema") ||
        !APMCheckNonZeroOrSetError(elementary.size(), error, kBadArgument,
                                   "Received empty column info for ensure table schema")) {
        return false;
    }
    const auto current = columnInfoForTableWithName(table, error);
    if (!current || current->empty()) {
        APMSetErrorWithCode(error, kNotOpenOrMalformed,
                            "Table does not exist for ensure table schema");
        return false;
    }
    if (*current == expectedColumnTypes(elementary, addOn)) {
        return true;
    }
    return rebuildTable(table, elementary, addOn, error);
}

bool APMSqliteStore::rebuildTable(std::string_view table, const APMSqliteColumnInfo& elementary,
                                  const APMSqliteColumnInfo& addOn, sdk::Error* error) {
    const std::string oldTable = std::string(table) + "_old";
    sdk::Error stepError;
    sdk::Error transactionError;
    const bool rebuilt = performTransactionWithError(&transactionError, [&] {
        if (!renameTable(table, oldTable, &stepError) ||
            !ensureTableWithName(table, elementary, addOn, &stepError)) {
            return false;
        }
        // By name, not by position: the old table may hold its columns in another order
        // (add-on columns added in another order) or hold columns no longer declared, and
        // a copy by position would put values into the wrong columns or fail outright.
        const auto newColumns = columnsForTableWithName(table, &stepError);
        const auto oldColumns = columnsForTableWithName(oldTable, &stepError);
        if (!newColumns || !oldColumns) {
            return false;
        }
        std::string shared;
        for (const std::string& column : *newColumns) {
            if (std::find(oldColumns->begin(), oldColumns->end(), column) != oldColumns->end()) {
                shared += (shared.empty() ? "" : ", ") + column;
            }
        }
        return executeSQL("INSERT INTO " + std::string(table) + " (" + shared + ") SELECT " +
                              shared + " FROM " + oldTable,
                          &stepError) &&
               dropTableWithName(oldTable, &stepError);
    });
    if (!rebuilt && error != nullptr) {
        *error = transactionError.ok() ? stepError : transactionError;
    }
    return rebuilt;
}

// Table operations ---------------------------------------------------------------------------

bool APMSqliteStore::dropTableWithName(std::string_view table, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for drop table")) {
        return false;
    }
    return executeSQL("DROP TABLE " + std::string(table), error);
}

bool APMSqliteStore::renameTable(std::string_view oldName, std::string_view newName,
                                 sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(oldName.size(), error, kBadArgument,
                                   "Received empty old name for rename table") ||
        !APMCheckNonZeroOrSetError(newName.size(), error, kBadArgument,
                                   "Received empty new name for rename table") ||
        !APMCheckTrueOrSetError(oldName != newName, error, kBadArgument,
                                "Received duplicate name for rename table")) {
        return false;
    }
    return executeSQL("ALTER TABLE " + std::string(oldName) + " RENAME TO " + std::string(newName),
                      error);
}

bool APMSqliteStore::copyContentsFromTable(std::string_view source, std::string_view destination,
                                           sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(source.size(), error, kBadArgument,
                                   "Received empty source name for copy table") ||
        !APMCheckNonZeroOrSetError(destination.size(), error, kBadArgument,
                                   "Received empty destination name for copy table") ||
        !APMCheckTrueOrSetError(source != destination, error, kBadArgument,
                                "Received duplicate name for copy table")) {
        return false;
    }
    return executeSQL(
        "INSERT INTO " + std::string(destination) + " SELECT * FROM " + std::string(source), error);
}

bool APMSqliteStore::createEmptyTable(std::string_view destination, std::string_view source,
                                      sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(source.size(), error, kBadArgument,
                                   "Received empty source name for create empty copy") ||
        !APMCheckNonZeroOrSetError(destination.size(), error, kBadArgument,
                                   "Received empty destination name for create empty copy") ||
        !APMCheckTrueOrSetError(source != destination, error, kBadArgument,
                                "Received duplicate name for create empty copy")) {
        return false;
    }
    return executeSQL("CREATE TABLE IF NOT EXISTS " + std::string(destination) +
                          " AS SELECT * FROM " + std::string(source) + " WHERE false",
                      error);
}

bool APMSqliteStore::ensureIndexWithName(std::string_view index, std::string_view table,
                                         std::string_view columns, std::string_view where,
                                         sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(index.size(), error, kBadArgument,
                                   "Received empty index name for ensure index") ||
        !APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for ensure index") ||
        !APMCheckNonZeroOrSetError(columns.size(), error, kBadArgument,
                                   "Received empty column list for ensure index")) {
        return false;
    }
    std::string sql = "CREATE INDEX IF NOT EXISTS " + std::string(index) + " ON " +
                      std::string(table) + " (" + std::string(columns) + ")";
    if (!where.empty()) {
        sql += " WHERE " + std::string(where);
    }
    return executeSQL(sql, error);
}

std::optional<bool> APMSqliteStore::tableExists(std::string_view table, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for table exists") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Table exists failed. Database not open.")) {
        return std::nullopt;
    }
    const sdk::Value name(table);
    APMSqliteStatementLease statement =
        statementForQuery("SELECT name FROM sqlite_master WHERE type='table' AND name=?",
                          APMSqliteValueRefs{&name}, error);
    if (!statement) {
        return std::nullopt;
    }
    return sqlite3_step(statement.get()) == SQLITE_ROW;
}

std::optional<std::vector<std::string>> APMSqliteStore::columnsForTableWithName(
    std::string_view table, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for get columns") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Get table columns failed. Database not open.")) {
        return std::nullopt;
    }
    APMSqliteStatementLease statement =
        statementForQuery("PRAGMA table_info(" + std::string(table) + ")", error);
    if (!statement) {
        return std::nullopt;
    }
    std::vector<std::string> columns;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        std::string name = columnText(statement.get(), 1);
        if (!name.empty()) {
            columns.push_back(std::move(name));
        }
    }
    return columns;
}

std::optional<std::map<std::string, std::string>> APMSqliteStore::columnInfoForTableWithName(
    std::string_view table, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for column info") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Get table column info failed. Database not open.")) {
        return std::nullopt;
    }
    APMSqliteStatementLease statement =
        statementForQuery("PRAGMA table_info(" + std::string(table) + ")", error);
    if (!statement) {
        return std::nullopt;
    }
    std::map<std::string, std::string> info;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        std::string name = columnText(statement.get(), 1);
        std::string type = columnText(statement.get(), 2);
        if (!name.empty() && !type.empty()) {
            info.emplace(std::move(name), std::move(type));
        }
    }
    return info;
}

std::optional<std::int64_t> APMSqliteStore::rowCountForTableWithName(std::string_view table,
                                                                     sdk::Error* error) {
    return rowCountForTableWithName(table, {}, std::nullopt, error);
}

std::optional<std::int64_t> APMSqliteStore::rowCountForTableWithName(
    std::string_view table, std::string_view column, const std::optional<sdk::Value>& value,
    sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(table.size(), error, kBadArgument,
                                   "Received empty table name for row count") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Row count failed. Database not open.")) {
        return std::nullopt;
    }
    std::string query = "SELECT count(1) FROM " + std::string(table);
    APMSqliteParameters parameters;
    if (!column.empty() && value) {
        query += " WHERE " + std::string(column) + "=?";
        parameters.push_back(*value);
    }
    const std::optional<sdk::Value> count = numberForQuery(query, parameters, error);
    return count ? count->numberAsInt() : std::nullopt;
}
