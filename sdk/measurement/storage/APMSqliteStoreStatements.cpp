// Preparing, caching, binding and executing statements; transactions.

#include <sqlite3.h>

#include <cassert>
#include <climits>

#include "sdk/measurement/storage/APMSqliteStore.h"
#include "sdk/measurement/storage/APMSqliteStoreSupport.h"

using namespace apm_sqlite_detail;

namespace apm_sqlite_detail {

bool containsIgnoringCase(std::string_view text, std::string_view word) {
    return asciiUpper(text).find(asciiUpper(word)) != std::string::npos;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view word) {
    return text.size() >= word.size() &&
           asciiUpper(text.substr(0, word.size())) == asciiUpper(word);
}

std::string asciiUpper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

}  // namespace apm_sqlite_detail

APMSqliteStatementLease APMSqliteStore::prepareSQL(std::string_view sql, sdk::Error* error) {
    return APMSqliteStatementLease(prepareStatement(sql, error));
}

std::shared_ptr<APMSqlitePreparedStatement> APMSqliteStore::prepareStatement(std::string_view sql,
                                                                             sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(sql.size(), error, kBadArgument,
                                   "Received empty SQL string to prepare") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Prepare SQL failed. Database not open.")) {
        return nullptr;
    }
    // The text's own length, not its first NUL: a NUL inside the text leaves a tail and is
    // refused below instead of silently cutting the statement short.
    const int length = static_cast<int>(std::min<std::size_t>(sql.size(), INT_MAX));
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int result = sqlite3_prepare_v2(sqliteHandle_, sql.data(), length, &raw, &tail);
    ++preparedStatementCount_;
    if (result != SQLITE_OK || raw == nullptr) {
        setDatabaseError(error, "prepare statement");
        sqlite3_finalize(raw);
        return nullptr;
    }
    auto statement = std::make_shared<APMSqlitePreparedStatement>(raw);
    if (tail != sql.data() + sql.size()) {
        APMSetErrorWithCode(error, kBadArgument, "Query contained more than one SQL statement.");
        return nullptr;
    }
    return statement;
}

APMSqliteStatementLease APMSqliteStore::statementForQuery(std::string_view query,
                                                          sdk::Error* error) {
    return statementForQuery(query, APMSqliteValueRefs{}, error);
}

APMSqliteStatementLease APMSqliteStore::statementForQuery(std::string_view query,
                                                          const APMSqliteParameters& parameters,
                                                          sdk::Error* error) {
    return statementForQuery(query, valuePointers(parameters), error);
}

APMSqliteStatementLease APMSqliteStore::statementForQuery(std::string_view query,
                                                          const APMSqliteValueRefs& parameters,
                                                          sdk::Error* error) {
    APMSqliteStatementLease statement = leaseStatement(query, parameters.size(), error);
    if (statement && !parameters.empty() && !bindValues(parameters, statement.get(), error)) {
        return {};
    }
    return statement;
}

APMSqliteValueRefs APMSqliteStore::valuePointers(const APMSqliteParameters& values) {
    APMSqliteValueRefs pointers;
    pointers.reserve(values.size());
    for (const sdk::Value& value : values) {
        pointers.push_back(&value);
    }
    return pointers;
}

APMSqliteStatementLease APMSqliteStore::leaseStatement(std::string_view query,
                                                       std::size_t parameterCount,
                                                       sdk::Error* error) {
    const std::string key(query);
    auto cached = statementCache_.find(key);
    if (cached != statementCache_.end() && !cached->second->inUse) {
        return APMSqliteStatementLease(cached->second);
    }
    if (!APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Statement for query failed. Database not open.")) {
        return {};
    }
    const bool hasPlaceholder = query.find('?') != std::string_view::npos;
    if (hasPlaceholder && !APMCheckNonZeroOrSetError(parameterCount, error, kBadArgument,
                                                     "Received empty parameters")) {
        return {};
    }
    std::shared_ptr<APMSqlitePreparedStatement> prepared = prepareStatement(query, error);
    if (!prepared) {
        return {};
    }
    // A text whose cached statement is in use (a filter block running the same query) gets a
    // statement of its own that ends with its lease.
    if (cached == statementCache_.end() &&
        (hasPlaceholder || !containsIgnoringCase(query, "WHERE"))) {
        statementCache_.emplace(key, prepared);
    }
    return APMSqliteStatementLease(std::move(prepared));
}

bool APMSqliteStore::bindValues(const APMSqliteValueRefs& values, sqlite3_stmt* statement,
                                sdk::Error* error) {
    if (!APMCheckNotNullOrSetError(statement, error, kBadArgument,
                                   "Failed to bind to NULL statement")) {
        return false;
    }
    sqlite3_clear_bindings(statement);
    bool bound = true;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (bindValue(*values[i], static_cast<int>(i + 1), statement) != SQLITE_OK) {
            setDatabaseError(error, "bind values");
            bound = false;  // the remaining values are still bound
        }
    }
    return bound;
}

int APMSqliteStore::bindValue(const sdk::Value& value, int index, sqlite3_stmt* statement) {
    switch (value.type()) {
        case sdk::Value::Type::kNull:
            return sqlite3_bind_null(statement, index);
        case sdk::Value::Type::kBool:
        case sdk::Value::Type::kInt:
            return sqlite3_bind_int64(statement, index, *value.numberAsInt());
        case sdk::Value::Type::kDouble:
            return sqlite3_bind_double(statement, index, *value.doubleValue());
        case sdk::Value::Type::kString:
            // The text's own length keeps a NUL inside it; SQLite copies the text.
            return sqlite3_bind_text64(statement, index, value.string()->data(),
                                       value.string()->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        case sdk::Value::Type::kBytes:
            if (value.bytes()->empty()) {
                return sqlite3_bind_zeroblob(statement, index, 0);  // a null pointer binds NULL
            }
            // Not copied: the lease clears the bindings before the caller's bytes can go.
            return sqlite3_bind_blob64(statement, index, value.bytes()->data(),
                                       value.bytes()->size(), SQLITE_STATIC);
        default:
            return SQLITE_MISMATCH;
    }
}

bool APMSqliteStore::isStorableValue(const sdk::Value& value) {
    switch (value.type()) {
        case sdk::Value::Type::kDate:
        case sdk::Value::Type::kArray:
        case sdk::Value::Type::kDictionary:
            return false;
        default:
            return true;
    }
}

bool APMSqliteStore::executeSQL(std::string_view sql, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(sql.size(), error, kBadArgument,
                                   "Received empty SQL string to execute") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Execute SQL failed. Database not open.")) {
        return false;
    }
    return executeSQLStatement(prepareSQL(sql, error), error);
}

bool APMSqliteStore::executeSQLStatement(APMSqliteStatementLease statement, sdk::Error* error) {
    if (!APMCheckNotNullOrSetError(statement.get(), error, kBadArgument,
                                   "Execute SQL statement failed. Statement is NULL.") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Execute SQL statement failed. Database not open.")) {
        return false;
    }
    return stepToEnd(std::move(statement), "execute statement", error);
}

bool APMSqliteStore::stepToEnd(APMSqliteStatementLease statement, std::string_view operation,
                               sdk::Error* error) {
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        setDatabaseError(error, operation);
        return false;
    }
    return true;
}

// Transactions -------------------------------------------------------------------------------

bool APMSqliteStore::beginTransaction() {
    return executeSQL("BEGIN EXCLUSIVE TRANSACTION", nullptr);
}

bool APMSqliteStore::endTransaction() {
    return executeSQL("END TRANSACTION", nullptr);
}

bool APMSqliteStore::rollbackTransaction() {
    return executeSQL("ROLLBACK", nullptr);
}

bool APMSqliteStore::performTransactionWithError(sdk::Error* error,
                                                 const std::function<bool()>& block) {
    if (!APMCheckNotNilOrSetError(block, error, kBadArgument, "Received nil transaction block") ||
        !APMCheckNotNullOrSetError(sqliteHandle_, error, kNotOpenOrMalformed,
                                   "Database not open")) {
        return false;
    }
    if (!beginTransaction()) {
        APMSetErrorWithCode(error, kSqliteFailure, "Failed to begin transaction");
        return false;
    }
    bool succeeded = false;
    try {
        succeeded = block();
    } catch (...) {
        if (!rollbackTransaction()) {
            monitor().logWithLevel(kLevelError, 34009,
                                   "Failed to rollback transaction after exception");
        }
        throw;
    }
    if (!succeeded) {
        APMSetErrorWithCode(error, kSqliteFailure, "Transaction failed");
        if (!rollbackTransaction()) {
            monitor().logWithLevel(kLevelError, 34011, "Failed to rollback transaction");
        }
        return false;
    }
    if (!endTransaction()) {
        // SQLite rolls back a commit that failed to write; the fault-injection tests check
        // that the next transaction begins.
        APMSetErrorWithCode(error, kSqliteFailure, "Failed to end transaction");
        return false;
    }
    return true;
}
