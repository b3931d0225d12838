#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sdk/measurement/storage/APMSqliteStatement.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

struct sqlite3;

// One row: column name to value. Values are null (SQL NULL), booleans (stored as 0 or 1),
// integers, doubles, strings and bytes; dates, arrays and dictionaries cannot be stored.
using APMSqliteRecord = sdk::Value::Dictionary;
// Values bound to the "?" placeholders of a statement, first value to the first placeholder.
using APMSqliteParameters = sdk::Value::Array;
// The values to bind, by address: the store binds bytes without copying them, so they must be
// the caller's own values, alive until the statement is done.
using APMSqliteValueRefs = std::vector<const sdk::Value*>;
// Ordered (column name, type definition) pairs, such as ("data", "BLOB NOT NULL"). A pair named
// "PRIMARY KEY" is a table constraint whose definition is a parenthesised column list.
using APMSqliteColumnInfo = std::vector<std::pair<std::string, std::string>>;
// Column name to its new type definition ("REAL NOT NULL").
using APMSqliteModifyColumnInfo = std::map<std::string, std::string>;
// Add-on column names with their finished "ALTER TABLE ... ADD COLUMN ..." statements, in the
// order the columns are declared, so a new table gains them in that order. One entry per name.
using APMSqliteAddOnStatements = std::vector<std::pair<std::string, std::string>>;
// Called per row read with the row index (from 0) and the row; false stops the reading and
// leaves that row out.
using APMSqliteRecordFilter = std::function<bool(std::size_t, const APMSqliteRecord&)>;

// The SDK's thin layer over one SQLite database file: checked opening (a damaged file is
// replaced), tables that follow their declared columns at every start, statements built from
// records, queries that return records, a cache of prepared statements and exclusive
// transactions. It knows no table of its own; callers pass names, columns and conditions.
//
// Errors are kAPMErrorDomain errors: code 1 for a bad argument, 2 for a closed database, a
// missing or malformed table or a statement that could not be built, 3 for an SQLite failure
// or a failed transaction (with a monitor context "<operation>,<sqlite code>,A|NA", A when the
// file is writable). Diagnostics go to APMMonitor::shared() with codes 34003-34023.
//
// The journal is a write-ahead log with synchronous=NORMAL: a crash of the program loses
// nothing committed; a power cut may lose the last commits but never leaves the file damaged.
//
// Design notes.
// States: OPEN (handle set) and CLOSED (handle null).
//   create --initWithDatabasePath--> OPEN (or no store at all)
//   OPEN --closeAndDeleteDatabase--> CLOSED; every operation then fails with its
//   "... Database not open." error. Destroying the store closes it.
// Invariants:
//   1. CLOSED implies an empty statement cache.
//   2. Every cached statement was prepared on the current handle.
//   3. A cached statement is lent to one user at a time; a second user of the same SQL text
//      (a filter block running the same query) gets a statement of its own.
//   4. Outside performTransactionWithError no transaction is left open by the store, also
//      when a block throws (rolled back here) or a commit fails (rolled back by SQLite).
// After a failed write SQLite itself keeps its pager in an error state and rolls the
// transaction back before the next read, so the store keeps no error state of its own.
//
// Thread-safety: none. The owner serialises every call (the measurement worker queue).
class APMSqliteStore {
  public:
    // Opens (creating the file and its folders when missing) and checks the database at `path`
    // with "PRAGMA integrity_check". Only a damaged file (SQLite reports it corrupt or not a
    // database, or the check answers anything but "ok") is deleted with its journal files and
    // created anew, once. A file that cannot be checked now (locked by another connection
    // beyond the busy timeout, read-only, an I/O error) is kept and the open fails with the
    // SQLite error (code 3). Returns null with `error` set on failure, or with code 1 for an
    // empty path. Every connection waits up to kBusyTimeoutMilliseconds for another's lock.
    static std::unique_ptr<APMSqliteStore> initWithDatabasePath(const std::string& path,
                                                                sdk::Error* error);
    ~APMSqliteStore();

    APMSqliteStore(const APMSqliteStore&) = delete;
    APMSqliteStore& operator=(const APMSqliteStore&) = delete;

    // The open connection; null once closed.
    sqlite3* sqliteHandle() const { return sqliteHandle_; }
    const std::string& databasePath() const { return databasePath_; }

    // Closes the database and removes the file and its journal files. True when they are gone
    // (also when they were missing); a failed removal logs 34019 and returns false.
    bool closeAndDeleteDatabase();

    // Tables -------------------------------------------------------------------------------

    // Creates the table from `elementary` when missing, adds each missing `addOn` column by
    // its own ALTER TABLE, checks that no column is missing or unknown and NOT NULL, and,
    // when `modify` is not empty, rebuilds the table when a declared type differs (rows kept).
    bool ensureTableWithName(std::string_view table, const APMSqliteColumnInfo& elementary,
                             const APMSqliteColumnInfo& addOn,
                             const APMSqliteModifyColumnInfo& modify, sdk::Error* error);
    bool ensureTableWithName(std::string_view table, const APMSqliteColumnInfo& elementary,
                             const APMSqliteColumnInfo& addOn, sdk::Error* error);
    // True when the declared types match, or after the table was rebuilt with them in one
    // transaction (renamed to "<table>_old", created afresh, rows copied by column name, old
    // table dropped).
    bool ensureSchemaOfTableWithName(std::string_view table, const APMSqliteColumnInfo& elementary,
                                     const APMSqliteColumnInfo& addOn, sdk::Error* error);
    bool ensureTableWithName(std::string_view table, std::string_view createSQL,
                             const std::vector<std::string>& requiredColumnNames,
                             const APMSqliteAddOnStatements& addOnColumns, sdk::Error* error);
    // True or false for a valid or invalid table; no value on an argument or state error.
    std::optional<bool> validateTableWithName(std::string_view table,
                                              const std::vector<std::string>& requiredColumnNames,
                                              const APMSqliteAddOnStatements& addOnColumns,
                                              sdk::Error* error);
    bool dropTableWithName(std::string_view table, sdk::Error* error);
    bool renameTable(std::string_view oldName, std::string_view newName, sdk::Error* error);
    bool copyContentsFromTable(std::string_view source, std::string_view destination,
                               sdk::Error* error);
    bool createEmptyTable(std::string_view destination, std::string_view source, sdk::Error* error);
    // Creates the index `index` on `table` over `columns` (an SQL column list), limited to the
    // rows matching `where` when it is not empty, unless an index of that name exists. Names
    // and clauses are the caller's constants, never outside input.
    bool ensureIndexWithName(std::string_view index, std::string_view table,
                             std::string_view columns, std::string_view where, sdk::Error* error);
    std::optional<bool> tableExists(std::string_view table, sdk::Error* error);
    std::optional<std::int64_t> rowCountForTableWithName(std::string_view table, sdk::Error* error);
    // Counts the rows whose `column` equals `value`; all rows when either is missing.
    std::optional<std::int64_t> rowCountForTableWithName(std::string_view table,
                                                         std::string_view column,
                                                         const std::optional<sdk::Value>& value,
                                                         sdk::Error* error);
    // Column names in table order.
    std::optional<std::vector<std::string>> columnsForTableWithName(std::string_view table,
                                                                    sdk::Error* error);
    // Column name to declared type (without constraints).
    std::optional<std::map<std::string, std::string>> columnInfoForTableWithName(
        std::string_view table, sdk::Error* error);

    // Records ------------------------------------------------------------------------------

    // INSERT OR REPLACE of the record's columns. A value that cannot be stored logs 34020 and
    // gives false without an error.
    bool upsertRecord(const APMSqliteRecord& record, std::string_view table, sdk::Error* error);
    // Writes the record's columns into the rows whose `column` equals `value`.
    bool updateRecord(const APMSqliteRecord& record, std::string_view table,
                      std::string_view column, const std::optional<sdk::Value>& value,
                      sdk::Error* error);
    // Sets `column` to `value` in every row.
    bool updateAllRecordsInTableWithName(std::string_view table, std::string_view column,
                                         const std::optional<sdk::Value>& value, sdk::Error* error);
    // Adds `amount` to an INTEGER `column` in the rows matching `condition`.
    bool increaseColumn(std::string_view column, std::int64_t amount, std::string_view table,
                        std::string_view condition, const APMSqliteParameters& parameters,
                        sdk::Error* error);
    bool deleteRecordFromTableWithName(std::string_view table, std::string_view column,
                                       const std::optional<sdk::Value>& value, sdk::Error* error);
    // The number of rows deleted.
    std::optional<std::int64_t> deleteRecordsFromTableWithName(
        std::string_view table, std::string_view condition, const APMSqliteParameters& parameters,
        sdk::Error* error);
    bool deleteAllRecordsFromTableWithName(std::string_view table, sdk::Error* error);

    // The rows of a SELECT (the text must begin with "select" in any case), keyed by result
    // column names, so aliases apply. An empty list when there are no rows; no value on any
    // failure, also a failure after the first row. A zero-length blob is left out of its row
    // (34004).
    std::optional<std::vector<APMSqliteRecord>> recordsForQuery(
        std::string_view query, const APMSqliteParameters& parameters, sdk::Error* error);
    std::optional<std::vector<APMSqliteRecord>> recordsForQuery(
        std::string_view query, const APMSqliteParameters& parameters, sdk::Error* error,
        const APMSqliteRecordFilter& filter);
    // The number (integer or double) in the first column of the first row. No value without an
    // error for NULL; code 1 for another kind; code 3 when there is no row.
    std::optional<sdk::Value> numberForQuery(std::string_view query,
                                             const APMSqliteParameters& parameters,
                                             sdk::Error* error);

    // Transactions -------------------------------------------------------------------------

    // Runs `block` inside BEGIN EXCLUSIVE TRANSACTION: commits when it returns true, rolls
    // back when it returns false (code 3 "Transaction failed") or throws (the exception is
    // rethrown after the rollback). Transactions do not nest: an inner one fails to begin.
    bool performTransactionWithError(sdk::Error* error, const std::function<bool()>& block);

    // How long a statement waits for a lock another connection holds before it fails with
    // SQLITE_BUSY.
    static constexpr int kBusyTimeoutMilliseconds = 5000;

    // The SQLite result code of the store's most recent SQLite failure; SQLITE_OK before any.
    int lastFailureCode() const { return lastFailureCode_; }
    // True for the result codes that say the file itself is damaged (SQLITE_CORRUPT,
    // SQLITE_NOTADB, extended forms included): the only failures a file is replaced for.
    static bool isDamagedFileCode(int code);

  private:
    // Tests read the prepared-statement count through it.
    friend class APMSqliteStoreTestPeer;

    explicit APMSqliteStore(std::string path);

    // `*damaged` tells, on failure, whether the file itself is damaged (see isDamagedFileCode)
    // rather than unreachable for now.
    bool openAndValidateDatabase(sdk::Error* error, bool* damaged);
    bool validateDatabaseWithError(sdk::Error* error, bool* damaged);
    void enableWriteAheadLog();
    bool switchToWriteAheadLog(sdk::Error* error);
    void closeDatabase();
    void finalizeAndClearStatements();

    bool beginTransaction();
    bool endTransaction();
    bool rollbackTransaction();

    APMSqliteStatementLease statementForQuery(std::string_view query, sdk::Error* error);
    APMSqliteStatementLease statementForQuery(std::string_view query,
                                              const APMSqliteParameters& parameters,
                                              sdk::Error* error);
    APMSqliteStatementLease statementForQuery(std::string_view query,
                                              const APMSqliteValueRefs& parameters,
                                              sdk::Error* error);
    APMSqliteStatementLease leaseStatement(std::string_view query, std::size_t parameterCount,
                                           sdk::Error* error);
    static APMSqliteValueRefs valuePointers(const APMSqliteParameters& values);
    APMSqliteStatementLease prepareSQL(std::string_view sql, sdk::Error* error);
    std::shared_ptr<APMSqlitePreparedStatement> prepareStatement(std::string_view sql,
                                                                 sdk::Error* error);
    bool executeSQL(std::string_view sql, sdk::Error* error);
    bool executeSQLStatement(APMSqliteStatementLease statement, sdk::Error* error);
    bool stepToEnd(APMSqliteStatementLease statement, std::string_view operation,
                   sdk::Error* error);
    bool bindValues(const APMSqliteValueRefs& values, sqlite3_stmt* statement, sdk::Error* error);
    static int bindValue(const sdk::Value& value, int index, sqlite3_stmt* statement);
    // False for the kinds a column cannot hold: dates, arrays, dictionaries.
    static bool isStorableValue(const sdk::Value& value);
    std::optional<sdk::Value> valueAtColumn(int column, sqlite3_stmt* statement) const;
    APMSqliteRecord readRow(sqlite3_stmt* statement) const;

    APMSqliteStatementLease upsertStatementForRecord(const APMSqliteRecord& record,
                                                     std::string_view table, sdk::Error* error);
    APMSqliteStatementLease updateStatementForRecord(const APMSqliteRecord& record,
                                                     std::string_view table,
                                                     std::string_view column,
                                                     const sdk::Value& value, sdk::Error* error);
    bool rebuildTable(std::string_view table, const APMSqliteColumnInfo& elementary,
                      const APMSqliteColumnInfo& addOn, sdk::Error* error);
    std::optional<bool> hasUnknownNotNullColumn(std::string_view table,
                                                const std::vector<std::string>& unknown);

    std::optional<std::string> lastErrorMessage() const;
    std::optional<std::string> errorDescriptionForDatabaseOperation(
        std::string_view operation) const;
    std::string monitorContextForDatabaseOperation(std::string_view operation) const;
    void setDatabaseError(sdk::Error* error, std::string_view operation) const;

    sqlite3* sqliteHandle_ = nullptr;
    // SQL text to its prepared statement; empty while closed.
    std::unordered_map<std::string, std::shared_ptr<APMSqlitePreparedStatement>> statementCache_;
    const std::string databasePath_;
    // Statements prepared since the store was made; tests tell cache hits by it.
    std::uint64_t preparedStatementCount_ = 0;
    // Set by setDatabaseError, which every SQLite failure passes through.
    mutable int lastFailureCode_ = 0;
};
