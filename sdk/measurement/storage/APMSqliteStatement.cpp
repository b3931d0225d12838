#include "sdk/measurement/storage/APMSqliteStatement.h"

#include <sqlite3.h>

#include <cassert>
#include <utility>

APMSqlitePreparedStatement::~APMSqlitePreparedStatement() {
    sqlite3_finalize(statement_);
}

APMSqliteStatementLease::APMSqliteStatementLease(
    std::shared_ptr<APMSqlitePreparedStatement> statement)
    : statement_(std::move(statement)) {
    assert(statement_ == nullptr || !statement_->inUse);
    if (statement_) {
        statement_->inUse = true;
    }
}

APMSqliteStatementLease& APMSqliteStatementLease::operator=(
    APMSqliteStatementLease&& other) noexcept {
    if (this != &other) {
        release();
        statement_ = std::move(other.statement_);
    }
    return *this;
}

void APMSqliteStatementLease::release() {
    if (!statement_) {
        return;
    }
    sqlite3_reset(statement_->get());
    sqlite3_clear_bindings(statement_->get());
    statement_->inUse = false;
    statement_.reset();
}
