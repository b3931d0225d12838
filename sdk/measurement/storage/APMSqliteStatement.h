#pragma once

#include <memory>

struct sqlite3_stmt;

// A prepared statement of the store. Finalized when the last reference to it goes, so a
// statement still stepped by a caller outlives the cache entry that held it.
class APMSqlitePreparedStatement {
  public:
    // Takes ownership of `statement` (not null).
    explicit APMSqlitePreparedStatement(sqlite3_stmt* statement) : statement_(statement) {}
    ~APMSqlitePreparedStatement();

    APMSqlitePreparedStatement(const APMSqlitePreparedStatement&) = delete;
    APMSqlitePreparedStatement& operator=(const APMSqlitePreparedStatement&) = delete;

    sqlite3_stmt* get() const { return statement_; }

    // True while a lease holds it: the cache hands a statement to one user at a time.
    bool inUse = false;

  private:
    sqlite3_stmt* statement_;
};

// One use of a prepared statement. When the lease ends, on every path, the statement is reset
// and its bindings are cleared, so bytes bound without copying are never referenced after
// their owner is gone, and a cached statement is free for its next user. A statement that is
// not cached is finalized then, as the lease held its last reference.
class APMSqliteStatementLease {
  public:
    APMSqliteStatementLease() = default;
    explicit APMSqliteStatementLease(std::shared_ptr<APMSqlitePreparedStatement> statement);
    ~APMSqliteStatementLease() { release(); }

    APMSqliteStatementLease(APMSqliteStatementLease&& other) noexcept = default;
    APMSqliteStatementLease& operator=(APMSqliteStatementLease&& other) noexcept;

    // The statement; null for an empty lease.
    sqlite3_stmt* get() const { return statement_ ? statement_->get() : nullptr; }
    explicit operator bool() const { return statement_ != nullptr; }

    // Resets the statement, clears its bindings and lets it go; the lease becomes empty.
    void release();

  private:
    std::shared_ptr<APMSqlitePreparedStatement> statement_;
};
