// The measurement database's schema: every table with its columns as first created, the
// columns added since, and the columns whose type changed.

#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/storage/APMDatabase.h"

namespace {

struct TableSchema {
    const char* name;
    APMSqliteColumnInfo elementary;
    APMSqliteColumnInfo addOn;
    APMSqliteModifyColumnInfo modify;
};

constexpr const char* kIntegerNotNull = "INTEGER NOT NULL";
constexpr const char* kIntegerPrimaryKey = "INTEGER NOT NULL PRIMARY KEY";
constexpr const char* kRealNotNull = "REAL NOT NULL";
constexpr const char* kReal = "REAL";
constexpr const char* kInteger = "INTEGER";
constexpr const char* kTextNotNull = "TEXT NOT NULL";
constexpr const char* kTextPrimaryKey = "TEXT NOT NULL PRIMARY KEY";
constexpr const char* kText = "TEXT";
constexpr const char* kBlobNotNull = "BLOB NOT NULL";
constexpr const char* kBlob = "BLOB";
constexpr const char* kAudienceFilterKey = "(audience_id, filter_id)";

// In creation order; a table's add-on columns in the order they were added.
const std::vector<TableSchema>& schema() {
    static const std::vector<TableSchema>* const tables = new std::vector<TableSchema>{
        {"app_metadata",
         {{"last_bundle_index", kIntegerNotNull}, {"last_bundle_end_timestamp", kRealNotNull}},
         {{"last_bundle_start_timestamp", kReal},
          {"day", kInteger},
          {"daily_conversions_count", kInteger},
          {"daily_events_count", kInteger},
          {"daily_public_events_count", kInteger},
          {"daily_error_events_count", kInteger},
          {"remote_config_data", kBlob},
          {"remote_config_timestamp", kReal},
          {"daily_real_time_conversion_events_count", kInteger},
          {"last_delivery_index", kInteger},
          {"daily_real_time_dcu_events_count", kInteger}},
         {}},
        {"raw_events_metadata",
         {{"metadata_fingerprint", kIntegerPrimaryKey}, {"metadata", kBlobNotNull}},
         {},
         {}},
        {"raw_events",
         {{"name", kTextNotNull},
          {"timestamp", kIntegerNotNull},
          {"metadata_fingerprint", kIntegerNotNull},
          {"data", kBlobNotNull}},
         {{"is_realtime", kInteger}},
         {{"timestamp", kRealNotNull}}},
        {"events",
         {{"name", kTextPrimaryKey},
          {"lifetime_count", kIntegerNotNull},
          {"current_bundle_count", kIntegerNotNull},
          {"last_fire_timestamp", kRealNotNull}},
         {{"last_bundled_timestamp", kReal},
          {"last_sampled_complex_event_id", kInteger},
          {"last_sampling_rate", kInteger},
          {"last_exempt_from_sampling", kInteger},
          {"last_bundled_day", kInteger},
          {"current_session_count", kInteger}},
         {}},
        {"user_attributes",
         {{"name", kTextPrimaryKey}, {"set_timestamp", kRealNotNull}, {"value", kBlobNotNull}},
         {{"origin", kText}},
         {}},
        {"queue",
         {{"data", kBlobNotNull}, {"bundle_end_timestamp", kRealNotNull}},
         {{"is_realtime", kInteger}, {"retry_count", kInteger}},
         {}},
        {"event_filters",
         {{"audience_id", kIntegerNotNull},
          {"filter_id", kIntegerNotNull},
          {"event_name", kTextNotNull},
          {"data", kBlobNotNull},
          {"PRIMARY KEY", kAudienceFilterKey}},
         {{"session_scoped", kInteger}},
         {}},
        {"property_filters",
         {{"audience_id", kIntegerNotNull},
          {"filter_id", kIntegerNotNull},
          {"property_name", kTextNotNull},
          {"data", kBlobNotNull},
          {"PRIMARY KEY", kAudienceFilterKey}},
         {{"session_scoped", kInteger}},
         {}},
        {"audience_filter_values",
         {{"audience_id", kIntegerPrimaryKey},
          {"current_results", kBlob},
          {"previous_results", kBlob}},
         {},
         {}},
        {"purchase_transactions", {{"fingerprint", kTextPrimaryKey}}, {}, {}},
        {"subscriptions", {{"subscription_id", kTextPrimaryKey}}, {}, {}},
        {"conditional_properties",
         {{"name", kTextPrimaryKey},
          {"origin", kTextNotNull},
          {"value", kBlobNotNull},
          {"creation_timestamp", kRealNotNull},
          {"active", kIntegerNotNull},
          {"trigger_timeout", kRealNotNull},
          {"triggered_timestamp", kRealNotNull},
          {"time_to_live", kRealNotNull},
          {"trigger_event_name", kText},
          {"timed_out_event", kBlob},
          {"triggered_event", kBlob},
          {"expired_event", kBlob}},
         {},
         {}},
        {"main_event_params",
         {{"event_id", kIntegerPrimaryKey},
          {"children_to_process", kIntegerNotNull},
          {"main_event", kBlobNotNull}},
         {},
         {}},
        {"odm_values",
         {{"name", kTextPrimaryKey}, {"set_timestamp", kRealNotNull}, {"value", kTextNotNull}},
         {},
         {}},
    };
    return *tables;
}

}  // namespace

bool APMDatabase::ensureAllTables() {
    if (!sqliteStore_) {
        return false;
    }
    for (const TableSchema& table : schema()) {
        sdk::Error error;
        if (!sqliteStore_->ensureTableWithName(table.name, table.elementary, table.addOn,
                                               table.modify, &error) &&
            !error.ok()) {
            APMMonitor::shared().logWithLevel(1, 12047, "Failed to ensure table. Table, error",
                                              table.name, error);
            return false;
        }
    }
    // A missing index slows the engine's questions but answers them all the same: its failure
    // is logged and never makes the file count as damaged.
    ensureAllIndexes();
    return true;
}

bool APMDatabase::ensureAllIndexes() {
    // The upload schedule asks for the latest raw event and whether any raw event is real-time
    // after every event it stores; without these each question scans the whole table, and
    // storing slows in proportion to what is waiting for upload. The real-time index holds only
    // the few real-time rows.
    struct IndexSchema {
        const char* name;
        const char* table;
        const char* columns;
        const char* where;
    };
    static constexpr IndexSchema kIndexes[] = {
        {"raw_events_timestamp", "raw_events", "timestamp", ""},
        {"raw_events_realtime", "raw_events", "is_realtime", "is_realtime = 1"},
    };
    for (const IndexSchema& index : kIndexes) {
        sdk::Error error;
        if (!sqliteStore_->ensureIndexWithName(index.name, index.table, index.columns, index.where,
                                               &error)) {
            APMMonitor::shared().logWithLevel(1, 12047, "Failed to ensure table. Table, error",
                                              index.table, error);
            return false;
        }
    }
    return true;
}
