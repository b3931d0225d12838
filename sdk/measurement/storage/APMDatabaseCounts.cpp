// The running numbers of the measurement database: the app-metadata row's bundle bookkeeping
// and daily counters, and the per-name event aggregates with their snapshot.

#include <sqlite3.h>

#include <limits>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/storage/APMDatabase.h"

namespace {

constexpr const char* kAppMetadataTable = "app_metadata";
constexpr const char* kEventsTable = "events";
constexpr const char* kSnapshotTable = "events_snapshot";
constexpr const char* kFirstOpenEventName = "_f";

// A number column as a 32-bit count: NULL, absent or not a number gives `fallback`; numbers
// beyond 32 bits are clamped.
std::int32_t int32Column(const APMSqliteRecord& record, std::string_view column,
                         std::int32_t fallback) {
    auto found = record.find(column);
    if (found == record.end() || !found->second.isNumber()) {
        return fallback;
    }
    const std::int64_t value = found->second.numberAsInt().value_or(0);
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value < kMin ? kMin : value > kMax ? kMax : value);
}

double doubleColumn(const APMSqliteRecord& record, std::string_view column, double fallback) {
    auto found = record.find(column);
    if (found == record.end() || !found->second.isNumber()) {
        return fallback;
    }
    return found->second.numberAsDouble().value_or(fallback);
}

APMSqliteRecord recordFromDailyCounts(const APMDailyCounts& counts) {
    return {{"day", counts.day()},
            {"daily_conversions_count", counts.conversionsCount()},
            {"daily_events_count", counts.allEventsCount()},
            {"daily_public_events_count", counts.publicEventsCount()},
            {"daily_error_events_count", counts.errorEventsCount()},
            {"daily_real_time_conversion_events_count", counts.realtimeCount()},
            {"daily_real_time_dcu_events_count", counts.dcuRealtimeCount()}};
}

}  // namespace

APMSqliteRecord APMDatabase::recordFromAppMetadata(const APMAppMetadata& metadata) {
    return {{"rowid", kAppMetadataRowID},
            {"last_bundle_index", metadata.lastBundleIndex()},
            {"last_delivery_index", metadata.lastDeliveryIndex()},
            {"last_bundle_start_timestamp", metadata.lastBundleStartTimestamp()},
            {"last_bundle_end_timestamp", metadata.lastBundleEndTimestamp()}};
}

std::optional<APMSqliteRecord> APMDatabase::appMetadataRecord(sdk::Error* error) {
    std::optional<std::vector<APMSqliteRecord>> records =
        dataTypesFromTableWithName<APMSqliteRecord>(
            kAppMetadataTable, "rowid", sdk::Value(kAppMetadataRowID), error,
            [](const APMSqliteRecord& record, sdk::Error*) { return record; });
    if (!records || records->empty()) {
        return std::nullopt;
    }
    return records->front();
}

std::optional<APMAppMetadata> APMDatabase::queryAppMetadata(sdk::Error* error) {
    std::optional<APMSqliteRecord> record = appMetadataRecord(error);
    if (!record) {
        APMSetErrorWithCode(error, 3, "Received empty dictionary for getting app metadata");
        return std::nullopt;
    }
    return APMAppMetadata(int32Column(*record, "last_bundle_index", 0),
                          int32Column(*record, "last_delivery_index", 0),
                          doubleColumn(*record, "last_bundle_start_timestamp", 0.0),
                          doubleColumn(*record, "last_bundle_end_timestamp", 0.0));
}

bool APMDatabase::updateAppMetadata(const std::optional<APMAppMetadata>& metadata,
                                    sdk::Error* error) {
    if (!metadata) {
        APMSetErrorWithCode(error, 3,
                            "Received empty app metadata for getting dictionary representation");
        return false;
    }
    return updateDataType(recordFromAppMetadata(*metadata), kAppMetadataTable, "rowid",
                          sdk::Value(kAppMetadataRowID), error);
}

std::int32_t APMDatabase::currentDay() {
    const double offset = persistedConfig_ ? persistedConfig_->midnightOffset() : 0.0;
    return APMDayNumber(APMCurrentTimeInterval(), offset);
}

std::optional<APMDailyCounts> APMDatabase::dailyCounts(sdk::Error* error) {
    std::optional<APMSqliteRecord> record = appMetadataRecord(error);
    if (!record) {
        APMSetErrorWithCode(error, 3, "Received empty dictionary for getting daily counts");
        return std::nullopt;
    }
    const auto day = record->find("day");
    return APMDailyCounts(day != record->end() && day->second.isNumber()
                              ? int32Column(*record, "day", 0)
                              : currentDay(),
                          int32Column(*record, "daily_conversions_count", 0),
                          int32Column(*record, "daily_events_count", 0),
                          int32Column(*record, "daily_public_events_count", 0),
                          int32Column(*record, "daily_error_events_count", 0),
                          int32Column(*record, "daily_real_time_conversion_events_count", 0),
                          int32Column(*record, "daily_real_time_dcu_events_count", 0));
}

bool APMDatabase::updateDailyCounts(const std::optional<APMDailyCounts>& counts,
                                    sdk::Error* error) {
    if (!counts) {
        APMSetErrorWithCode(error, 3,
                            "Received empty daily counts for getting dictionary representation");
        return false;
    }
    return updateDataType(recordFromDailyCounts(*counts), kAppMetadataTable, "rowid",
                          sdk::Value(kAppMetadataRowID), error);
}

std::optional<std::int64_t> APMDatabase::publicEventCount(sdk::Error* error) {
    if (!APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.")) {
        return std::nullopt;
    }
    std::optional<sdk::Value> count = sqliteStore_->numberForQuery(
        "SELECT count(1) FROM events WHERE name NOT LIKE '!_%' ESCAPE '!'", {}, error);
    if (!count) {
        return std::nullopt;
    }
    return count->numberAsInt();
}

std::optional<APMEventAggregates> APMDatabase::eventAggregatesFromRecord(
    const APMSqliteRecord& record, sdk::Error*) {
    const auto name = record.find("name");
    if (name == record.end() || !name->second.isString()) {
        return std::nullopt;
    }
    APMEventAggregates aggregates(*name->second.string(), int32Column(record, "lifetime_count", 0),
                                  int32Column(record, "current_bundle_count", 0),
                                  int32Column(record, "current_session_count", 0),
                                  doubleColumn(record, "last_fire_timestamp", 0.0));
    aggregates.setLastBundledTimestamp(doubleColumn(record, "last_bundled_timestamp", 0.0));
    if (auto id = record.find("last_sampled_complex_event_id");
        id != record.end() && id->second.isNumber()) {
        aggregates.setLastSampledComplexEventID(id->second.numberAsInt());
    }
    aggregates.setLastSamplingRate(int32Column(record, "last_sampling_rate", 1));
    aggregates.setLastExemptFromSampling(int32Column(record, "last_exempt_from_sampling", 0) != 0);
    aggregates.setLastBundledDay(int32Column(record, "last_bundled_day", 0));
    return aggregates;
}

std::optional<std::vector<APMEventAggregates>> APMDatabase::allEventAggregates(sdk::Error* error) {
    return allDataTypesFromTableWithName<APMEventAggregates>(
        kEventsTable, kMaxEventAggregates, error, &APMDatabase::eventAggregatesFromRecord);
}

std::optional<APMEventAggregates> APMDatabase::eventAggregatesWithName(std::string_view name,
                                                                       sdk::Error* error) {
    return eventAggregatesWithName(name, kEventsTable, error);
}

std::optional<APMEventAggregates> APMDatabase::eventAggregatesSnapshotWithName(
    std::string_view name, sdk::Error* error) {
    if (!APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.")) {
        return std::nullopt;
    }
    std::optional<bool> exists = sqliteStore_->tableExists(kSnapshotTable, error);
    if (!exists || !*exists) {
        return std::nullopt;
    }
    return eventAggregatesWithName(name, kSnapshotTable, error);
}

std::optional<APMEventAggregates> APMDatabase::eventAggregatesWithName(std::string_view name,
                                                                       std::string_view table,
                                                                       sdk::Error* error) {
    std::optional<std::vector<APMEventAggregates>> found =
        dataTypesFromTableWithName<APMEventAggregates>(table, "name", sdk::Value(name), error,
                                                       &APMDatabase::eventAggregatesFromRecord);
    if (!found || found->empty()) {
        return std::nullopt;
    }
    return std::move(found->front());
}

bool APMDatabase::updateEventAggregates(const std::optional<APMEventAggregates>& aggregates,
                                        sdk::Error* error) {
    if (!aggregates) {
        APMSetErrorWithCode(
            error, 3,
            "Received empty event aggregates object for getting dictionary representation");
        return false;
    }
    if (aggregates->name().empty()) {
        APMSetErrorWithCode(error, 3,
                            "Received event aggregates object with empty name for getting "
                            "dictionary representation");
        return false;
    }
    APMSqliteRecord record = {
        {"name", aggregates->name()},
        {"lifetime_count", aggregates->lifetimeCount()},
        {"current_bundle_count", aggregates->currentBundleCount()},
        {"current_session_count", aggregates->currentSessionCount()},
        {"last_fire_timestamp", aggregates->lastFireTimestamp()},
        {"last_bundled_timestamp", aggregates->lastBundledTimestamp()},
        {"last_sampling_rate", aggregates->lastSamplingRate()},
        {"last_exempt_from_sampling", aggregates->lastExemptFromSampling() ? 1 : 0},
        {"last_bundled_day", aggregates->lastBundledDay()}};
    if (aggregates->lastSampledComplexEventID()) {
        record.emplace("last_sampled_complex_event_id", *aggregates->lastSampledComplexEventID());
    }
    return upsertDataType(record, kEventsTable, "name", sdk::Value(aggregates->name()),
                          kMaxEventAggregates, error);
}

bool APMDatabase::clearCurrentSessionCounts(sdk::Error* error) {
    return APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.") &&
           sqliteStore_->updateAllRecordsInTableWithName(kEventsTable, "current_session_count",
                                                         sdk::Value(0), error);
}

bool APMDatabase::deleteAllEventAggregates(sdk::Error* error) {
    return APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.") &&
           sqliteStore_->deleteAllRecordsFromTableWithName(kEventsTable, error);
}

bool APMDatabase::deleteAllEventAggregatesInSnapshot(sdk::Error* error) {
    return APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.") &&
           sqliteStore_->deleteAllRecordsFromTableWithName(kSnapshotTable, error);
}

bool APMDatabase::createEventsSnapshotTable(sdk::Error* error) {
    if (!APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.")) {
        return false;
    }
    std::optional<bool> exists = sqliteStore_->tableExists(kSnapshotTable, error);
    if (!exists || (*exists && !sqliteStore_->dropTableWithName(kSnapshotTable, error))) {
        return false;
    }
    if (!sqliteStore_->createEmptyTable(kSnapshotTable, kEventsTable, error)) {
        APMMonitor::shared().logWithLevel(4, 12058, "Failed to ensure event snapshot table");
        return false;
    }
    return sqliteStore_->copyContentsFromTable(kEventsTable, kSnapshotTable, error);
}

bool APMDatabase::restoreFromEventsSnapshotTable(sdk::Error* error) {
    if (!APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.")) {
        return false;
    }
    std::optional<bool> exists = sqliteStore_->tableExists(kSnapshotTable, error);
    if (!exists) {
        return false;
    }
    if (!*exists) {
        return true;
    }
    std::optional<std::int64_t> rows =
        sqliteStore_->rowCountForTableWithName(kSnapshotTable, error);
    if (!rows) {
        return false;
    }
    if (*rows == 0) {
        return true;
    }
    // Emptying "events" and refilling it is one step: a failure or crash in between must not
    // lose every aggregate.
    return runAtomically(error, [&] { return replaceEventsBySnapshot(error); });
}

bool APMDatabase::replaceEventsBySnapshot(sdk::Error* error) {
    sdk::Error readError;
    const std::optional<APMEventAggregates> currentFirstOpen =
        eventAggregatesWithName(kFirstOpenEventName, &readError);
    if (!readError.ok()) {
        if (error != nullptr) {
            *error = readError;
        }
        return false;
    }
    if (!sqliteStore_->deleteAllRecordsFromTableWithName(kEventsTable, error) ||
        !sqliteStore_->copyContentsFromTable(kSnapshotTable, kEventsTable, error)) {
        return false;
    }
    const std::optional<APMEventAggregates> restoredFirstOpen =
        eventAggregatesWithName(kFirstOpenEventName, kSnapshotTable, &readError);
    if (currentFirstOpen && (!restoredFirstOpen || restoredFirstOpen->lifetimeCount() == 0) &&
        !updateEventAggregates(currentFirstOpen, error)) {
        return false;
    }
    return sqliteStore_->deleteAllRecordsFromTableWithName(kSnapshotTable, error);
}

bool APMDatabase::runAtomically(sdk::Error* error, const std::function<bool()>& steps) {
    if (sqlite3_get_autocommit(sqliteStore_->sqliteHandle()) == 0) {
        return steps();  // the caller's transaction already makes the steps one
    }
    bool stepsFailed = false;
    sdk::Error transactionError;
    if (sqliteStore_->performTransactionWithError(&transactionError, [&] {
            stepsFailed = !steps();
            return !stepsFailed;
        })) {
        return true;
    }
    if (!stepsFailed && error != nullptr) {
        *error = transactionError;  // otherwise the failed step's own error stays
    }
    return false;
}
