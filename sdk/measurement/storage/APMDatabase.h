#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMAppMetadata.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMEventAggregates.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/storage/APMConditionalUserProperty.h"
#include "sdk/measurement/storage/APMDailyCounts.h"
#include "sdk/measurement/storage/APMEventFilter.h"
#include "sdk/measurement/storage/APMFilterResult.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMPropertyFilter.h"
#include "sdk/measurement/storage/APMRawEventData.h"
#include "sdk/measurement/storage/APMSqliteStore.h"
#include "sdk/utilities/Error.h"

// The measurement engine's one SQLite file ("<Application Support>/Vovidu/Measurement/<name>"):
// raw events, queued bundles, event aggregates, user properties, audience filters and results,
// conditional properties, the stored configuration and a few small records. The schema has no
// version; it is declared in ensureAllTables() and brought up to date at every open.
//
// Errors are kAPMErrorDomain errors with code 1 (bad argument), 2 (missing row, full table,
// failed conversion) or 3 (a record or object that cannot be converted); the store's own
// errors pass through. Diagnostics go to APMMonitor::shared() (12002-12058).
//
// Design notes.
// States: OPEN (sqliteStore_ set) and, after a failed set-up, no database at all (the factory
// returns null). reset() closes, deletes and recreates the file in place; when that fails the
// store stays closed and every operation fails with the store's "Database not open." errors.
// Invariants:
//   1. After a successful open or reset the file holds every declared table and column and
//      exactly one app_metadata row, rowid 1.
//   2. A file whose tables cannot be brought up to date is deleted, so the next open starts
//      afresh instead of failing forever.
//
// Thread-safety: none; the engine calls it from its worker queue only.
// A queued bundle read back and its row ID in "queue".
using APMQueuedBundle = std::pair<std::shared_ptr<APMPBMeasurementBundle>, std::int64_t>;

class APMDatabase {
  public:
    // Turns one record into an object; no value drops the record. May set the error.
    template <typename T>
    using CreateDataTypeBlock =
        std::function<std::optional<T>(const APMSqliteRecord&, sdk::Error*)>;

    // The most upload attempts a queued bundle counts (the largest int32).
    static constexpr std::int64_t kMaxRetryCount = 2147483647;

    // The most rows the events table holds.
    static constexpr std::int64_t kMaxEventAggregates = 2000;
    // The most user properties and conditional user properties kept (names).
    static constexpr std::int64_t kMaxUserAttributes = 1000;
    static constexpr std::int64_t kMaxConditionalUserProperties = 1000;

    // Opens the database file `name` in the measurement folder. Null with `error` set for an
    // empty name (code 1) or when the set-up fails.
    static std::unique_ptr<APMDatabase> initWithDatabaseName(
        std::string_view name, std::shared_ptr<APMPersistedConfig> persistedConfig,
        sdk::Error* error);

    // Deletes the file and creates it anew (schema and app-metadata row). Code 2 "Failed to
    // delete database data" when the file cannot be deleted.
    bool reset(sdk::Error* error);

    // Runs `block` in one exclusive transaction: commits when it returns true, rolls back when
    // it returns false (logging 12056 and returning false) or throws (rethrown).
    bool performTransaction(const std::function<bool()>& block);

    // Opens the store on `path`, ensures the tables (deleting the file when that fails) and the
    // app-metadata row. `context` ("Init" or "Reset") names the caller in the logs.
    bool initializeDatabaseResourcesWithContext(std::string_view context, const std::string& path,
                                                sdk::Error* error);
    bool ensureAllTables();
    // Creates the indexes the engine's frequent questions need, when missing; false (logged)
    // when one could not be made.
    bool ensureAllIndexes();
    bool initializeAppMetadata();

    // Generic record helpers -----------------------------------------------------------------

    // Up to `tableLimit` rows of `table` in rowid order ("rowid" included), each through `block`;
    // the objects it made. No value on a failed query.
    template <typename T>
    std::optional<std::vector<T>> allDataTypesFromTableWithName(
        std::string_view table, std::int64_t tableLimit, sdk::Error* error,
        const CreateDataTypeBlock<T>& block);
    // The rows whose `column` equals `value`, each through `block`. No value with code 2
    // "Failed to initialize data types from dictionaries" when rows were found but none
    // converted; an empty array when there were none.
    template <typename T>
    std::optional<std::vector<T>> dataTypesFromTableWithName(std::string_view table,
                                                             std::string_view column,
                                                             const std::optional<sdk::Value>& value,
                                                             sdk::Error* error,
                                                             const CreateDataTypeBlock<T>& block);
    bool insertDataType(const std::optional<APMSqliteRecord>& record, std::string_view table,
                        sdk::Error* error);
    // Writes the record when a row with the key exists or the table holds fewer than
    // `tableLimit` rows; otherwise code 2 "Failed to insert data type. Table is full".
    bool upsertDataType(const std::optional<APMSqliteRecord>& record, std::string_view table,
                        std::string_view column, const sdk::Value& value, std::int64_t tableLimit,
                        sdk::Error* error);
    // Writes the record's columns into the row with the key; code 2 "Failed to update record.
    // Item doesn't exist" when there is none.
    bool updateDataType(const std::optional<APMSqliteRecord>& record, std::string_view table,
                        std::string_view column, const sdk::Value& value, sdk::Error* error);

    // App metadata, daily counts and event aggregates -------------------------------------------

    std::optional<APMAppMetadata> queryAppMetadata(sdk::Error* error);
    bool updateAppMetadata(const std::optional<APMAppMetadata>& metadata, sdk::Error* error);
    // The counters of row 1; a NULL counter reads 0 and a NULL day the current day. No value
    // when the row is missing.
    std::optional<APMDailyCounts> dailyCounts(sdk::Error* error);
    bool updateDailyCounts(const std::optional<APMDailyCounts>& counts, sdk::Error* error);
    // The current day number: APMDayNumber(APMCurrentTimeInterval(), midnightOffset).
    std::int32_t currentDay();
    // The number of stored event names that do not begin with "_".
    std::optional<std::int64_t> publicEventCount(sdk::Error* error);
    std::optional<std::vector<APMEventAggregates>> allEventAggregates(sdk::Error* error);
    // No value without an error when there is no row for `name`.
    std::optional<APMEventAggregates> eventAggregatesWithName(std::string_view name,
                                                              sdk::Error* error);
    // As above from "events_snapshot"; no value without an error when that table is missing.
    std::optional<APMEventAggregates> eventAggregatesSnapshotWithName(std::string_view name,
                                                                      sdk::Error* error);
    std::optional<APMEventAggregates> eventAggregatesWithName(std::string_view name,
                                                              std::string_view table,
                                                              sdk::Error* error);
    // Upserts by name, at most kMaxEventAggregates names.
    bool updateEventAggregates(const std::optional<APMEventAggregates>& aggregates,
                               sdk::Error* error);
    bool clearCurrentSessionCounts(sdk::Error* error);
    bool deleteAllEventAggregates(sdk::Error* error);
    bool deleteAllEventAggregatesInSnapshot(sdk::Error* error);
    // Replaces "events_snapshot" by a copy of "events".
    bool createEventsSnapshotTable(sdk::Error* error);
    // Puts the snapshot's rows back into "events" and empties the snapshot. The current "_f"
    // aggregate survives when the snapshot has none (or one with a lifetime count of 0). True
    // at once when there is no snapshot or it is empty. The steps run in one transaction (the
    // caller's when one is open), so a failure leaves "events" as it was.
    bool restoreFromEventsSnapshotTable(sdk::Error* error);

    // Raw events and their metadata --------------------------------------------------------------

    // Stores the metadata under apm_64LSBMD5 of its encoding unless that fingerprint is stored
    // already (at most 100000 rows). Code 3 for a null or empty metadata.
    bool insertIfNotExistsRawEventMetadata(const APMPBMeasurementBundle* metadata,
                                           sdk::Error* error);
    // The metadata stored under `fingerprint`; null when there is none or it cannot be read.
    std::unique_ptr<APMPBMeasurementBundle> queryRawEventsMetadataWithFingerprint(
        std::int64_t fingerprint, sdk::Error* error);
    bool deleteRawEventMetadataWithMetadataFingerprint(std::int64_t fingerprint, sdk::Error* error);
    // Deletes the metadata no raw event refers to.
    bool deleteUnusedRawEventsMetadata(sdk::Error* error);
    std::optional<bool> isRawEventsTableEmpty(sdk::Error* error);
    // Up to maxEventsStored raw events in rowid order; unreadable rows are left out.
    std::optional<std::vector<APMRawEventData>> allRawEventsWithError(sdk::Error* error);
    // Writes the event (its wire message without the name, which has a column of its own).
    // Code 1 for a null event. No limit is applied here.
    bool insertRawEvent(const APMEvent* event, std::int64_t metadataFingerprint, bool isRealtime,
                        sdk::Error* error);
    // The newest raw event time; no value without an error when there are none.
    std::optional<double> queryLatestRawEventTime(sdk::Error* error);
    // Up to 1000 raw events of `fingerprint` in rowid order, read through `filter` (may be
    // empty). Unreadable rows are skipped; no value when there were rows but none was readable
    // or the query failed.
    std::optional<std::vector<APMRawEventData>> rawEventsWithMetadataFingerprint(
        std::int64_t fingerprint, sdk::Error* error, const APMSqliteRecordFilter& eventFilter);
    std::optional<bool> containsRawEventWithMetadataFingerprint(std::int64_t fingerprint,
                                                                sdk::Error* error);
    // Rewrites the row of the record's row ID.
    bool updateRawEvent(const APMRawEventData* rawEventData, sdk::Error* error);
    // Deletes the raw events up to and including `rowID`.
    bool deleteRawEventsWithMaxRowID(std::int64_t rowID, sdk::Error* error);
    // Keeps the newest maxEventsStored - 1 raw events, making room for one more; the number
    // deleted.
    std::optional<std::int64_t> deleteRawEventsOverAbsoluteLimit(sdk::Error* error);
    // Deletes the raw events more than `maxAge` seconds away from now, in either direction,
    // then the metadata left unused. Code 1 for a negative age.
    bool deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, sdk::Error* error);
    // The fingerprint of the oldest raw event; no value without an error when there is none.
    std::optional<std::int64_t> nextMetadataFingerprintToProcess(sdk::Error* error);
    // The raw event of a "raw_events" row (with "rowid"); no value with code 1, 2 or 3 when
    // the row cannot be read.
    std::optional<APMRawEventData> rawEventDataFromDictionary(const APMSqliteRecord* record,
                                                              sdk::Error* error);
    std::optional<bool> containsRealtimeRawEventsWithError(sdk::Error* error);

    // An event parameter message as its one name and value. `topLevel` parameters need a
    // name; an item of an array may be unnamed. Code 1 for a null or unnamed parameter, code 2
    // for one without a value this side reads (a float, or children inside an item).
    static std::optional<std::pair<std::string, APMValue>> eventParamFromProto(
        const NANOMessageBase* param, bool topLevel, sdk::Error* error);

    // Upload queue ------------------------------------------------------------------------------

    // Queues the bundle gzip-compressed, after maybeDeleteStaleData. Code 1 for an empty
    // bundle, one without an app ID or without an end time; code 2 when compression fails. A
    // bundle ending further than maxQueueTime from now is stored with a warning (12016).
    bool insertBundle(const APMPBMeasurementBundle* bundle, bool isRealtime, sdk::Error* error);
    std::optional<bool> isQueuedBundleTableEmpty(sdk::Error* error);
    // The oldest bundles, at most `countLimit`, while their encodings (retry count included)
    // stay within `sizeLimit` bytes; the first is taken whatever its size. Rows that cannot be
    // read are skipped and stay. No value when the query fails.
    std::optional<std::vector<APMQueuedBundle>> queryBundlesWithCountLimit(std::int64_t countLimit,
                                                                           std::int64_t sizeLimit,
                                                                           sdk::Error* error);
    // The readable bundles among `rowIDs`. Code 3 for an empty list.
    std::optional<std::vector<APMQueuedBundle>> queryBundlesWithRowIDs(
        const std::vector<std::int64_t>& rowIDs, sdk::Error* error);
    // Adds one to the retry count of the rows, except those already at kMaxRetryCount (12054).
    // Code 1 for an empty list.
    bool incrementRetryCounterForBundlesWithIDs(const std::vector<std::int64_t>& rowIDs,
                                                sdk::Error* error);
    // Code 3 for an empty list, deleting nothing.
    bool deleteBundlesWithRowIDs(const std::vector<std::int64_t>& rowIDs, sdk::Error* error);
    // Once per databaseDeleteStaleBundlesInterval (measured from the persisted configuration's
    // lastDeleteStaleBundlesTimestamp), deletes raw events and bundles older than maxQueueTime
    // and records the time; whether it did. No value (and the time kept) when a delete fails.
    std::optional<bool> maybeDeleteStaleData(sdk::Error* error);
    // Deletes the bundles ending more than `maxAge` seconds away from now, in either
    // direction. Code 1 for a negative age.
    bool deleteStaleBundlesOlderThanMaxAge(double maxAge, sdk::Error* error);
    // The latest bundle end time; no value without an error when the queue is empty.
    std::optional<double> queryLatestBundleTime(sdk::Error* error);
    std::optional<bool> containsRealtimeBundlesWithError(sdk::Error* error);

    // Purchases, complex events and on-device measurement values -------------------------------

    // True when the purchase fingerprint was not stored yet (it is now; the newest 1000 are
    // kept), false for a known or empty one; no value on failure.
    std::optional<bool> insertIfNotDuplicatePurchaseFingerprint(std::string_view fingerprint,
                                                                sdk::Error* error);
    // As above for subscription IDs, without the trim.
    std::optional<bool> insertIfNotDuplicateSubscriptionID(std::string_view subscriptionID,
                                                           sdk::Error* error);
    // Keeps the newest 1000 subscription IDs; the number deleted.
    std::optional<std::int64_t> deleteSubscriptionsOverLimit(sdk::Error* error);
    // The stored main event of a complex event and the number of children still expected. No
    // value without an error when there is none; code 2 or 3 when the row cannot be read.
    std::optional<std::pair<APMEvent, std::int64_t>> mainEventAndChildCountPairWithEventID(
        std::int64_t eventID, sdk::Error* error);
    bool updateComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID,
                                                            std::int64_t childEventCount,
                                                            const APMEvent* mainEvent,
                                                            sdk::Error* error);
    bool deleteComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID,
                                                            sdk::Error* error);
    // The row of a named value ("name", "set_timestamp", "value", "rowid"); no value without
    // an error when there is none.
    std::optional<APMSqliteRecord> ODMValueWithName(std::string_view name, sdk::Error* error);
    // Stores a named value; at most 10 names.
    bool updateODMValue(std::string_view value, std::string_view name, double setTimestamp,
                        sdk::Error* error);
    bool deleteODMValueWithName(std::string_view name, sdk::Error* error);

    // User properties ---------------------------------------------------------------------------
    // A value is stored in its plain form (a string as TEXT, a double as REAL, anything else as
    // INTEGER) and read back through APMValue::valueFromObject.

    // The number of stored names that do not begin with "_".
    std::optional<std::int64_t> publicUserAttributeCount(sdk::Error* error);
    // Code 1 for an empty origin.
    std::optional<std::int64_t> userAttributeCountForOrigin(std::string_view origin,
                                                            sdk::Error* error);
    // Code 1 for an empty name.
    std::optional<bool> containsUserAttributeWithName(std::string_view name, sdk::Error* error);
    // No value without an error when there is none.
    std::optional<APMUserAttribute> userAttributeWithName(std::string_view name, sdk::Error* error);
    // The properties whose names begin with "_ltv_", newest first; no value (code 2) when any
    // of their rows cannot be read.
    std::optional<std::vector<APMUserAttribute>> allLifetimeValueUserAttributes(sdk::Error* error);
    // Up to kMaxUserAttributes properties in rowid order; unreadable rows are left out.
    // Without `includeInternal` the names beginning with "_", those with a reserved prefix and
    // the reserved public names are left out too.
    std::optional<std::vector<APMUserAttribute>> userAttributesIncludingInternal(
        bool includeInternal, sdk::Error* error);
    // Upserts by name, at most kMaxUserAttributes names (code 2 "... Table is full"). Code 3
    // for a null attribute or an empty origin, code 1 for an empty name or string value.
    bool updateUserAttribute(const APMUserAttribute* attribute, sdk::Error* error);
    bool deleteUserAttributeWithName(std::string_view name, sdk::Error* error);

    // Audience filters and results ------------------------------------------------------------
    // A filter read back takes its session-scoped, dynamic and sequence flags from its decoded
    // data (all false when the data does not decode); only the first has a column.

    // Every stored result by audience ID.
    std::optional<std::map<std::int32_t, APMFilterResult>> allFilterResults(sdk::Error* error);
    // No value without an error when there is none.
    std::optional<APMFilterResult> filterResultForAudienceID(std::int32_t audienceID,
                                                             sdk::Error* error);
    // The audience IDs of both filter tables, each once.
    std::optional<std::vector<std::int32_t>> allAudienceIDs(sdk::Error* error);
    // Code 1 for an empty name.
    std::optional<std::vector<APMEventFilter>> eventFiltersForEventName(std::string_view eventName,
                                                                        sdk::Error* error);
    std::optional<std::vector<APMPropertyFilter>> propertyFiltersForPropertyName(
        std::string_view propertyName, sdk::Error* error);
    // Audience ID to the IDs of its session-scoped filters (event and property).
    std::optional<std::map<std::int32_t, std::vector<std::int32_t>>> allSessionScopedFilters(
        sdk::Error* error);
    // Upserts each element in order; the first that fails (code 3 for an empty name or empty
    // data, empty current results for a result) ends the call. Elements written before it stay
    // unless the caller's transaction rolls back. Code 1 for an empty list.
    bool updateEventFilters(const std::vector<APMEventFilter>& filters, sdk::Error* error);
    bool updatePropertyFilters(const std::vector<APMPropertyFilter>& filters, sdk::Error* error);
    // Empty previous results are stored as NULL and read back empty.
    bool updateFilterResults(const std::vector<APMFilterResult>& results, sdk::Error* error);
    // Delete the rows with the elements' (audience ID, filter ID) pairs, or with the results'
    // audience IDs, in one statement. Code 1 for an empty list.
    bool deleteEventFilters(const std::vector<APMEventFilter>& filters, sdk::Error* error);
    bool deletePropertyFilters(const std::vector<APMPropertyFilter>& filters, sdk::Error* error);
    bool deleteFilterResults(const std::vector<APMFilterResult>& results, sdk::Error* error);
    bool deleteAllEventFilters(sdk::Error* error);
    bool deleteAllPropertyFilters(sdk::Error* error);

    // Conditional user properties ---------------------------------------------------------------
    // "Now" is APMCurrentTimeInterval(). The events are stored as encoded Event messages; one
    // that cannot be decoded reads as no event while the property still reads.

    // No value without an error when there is none.
    std::optional<APMConditionalUserProperty> conditionalUserPropertyWithName(std::string_view name,
                                                                              sdk::Error* error);
    // Upserts by name, at most kMaxConditionalUserProperties names. Code 3 for a null property
    // or one without name, origin or value.
    bool updateConditionalUserProperty(const APMConditionalUserProperty* property,
                                       sdk::Error* error);
    bool deleteConditionalUserPropertyWithName(std::string_view name, sdk::Error* error);
    // Inactive properties whose trigger timeout has passed since their creation.
    std::optional<std::vector<APMConditionalUserProperty>>
    timedOutConditionalUserPropertiesWithError(sdk::Error* error);
    // Active properties whose time to live has passed since they were triggered.
    std::optional<std::vector<APMConditionalUserProperty>>
    expiredConditionalUserPropertiesWithError(sdk::Error* error);
    // Inactive properties waiting for `eventName` whose trigger timeout has not passed. Code 1
    // for an empty name.
    std::optional<std::vector<APMConditionalUserProperty>>
    triggeredConditionalUserPropertiesWithEventName(std::string_view eventName, sdk::Error* error);
    // The properties whose names begin with `prefix` and whose origin is `origin` (each when
    // given), compared as SQL LIKE does without wildcards: ASCII letters in any case, "_" and
    // "%" only as themselves. Every property when neither is given.
    std::optional<std::vector<APMConditionalUserProperty>> conditionalUserPropertiesWithPrefix(
        std::optional<std::string_view> prefix, std::optional<std::string_view> origin,
        sdk::Error* error);
    // The rows matching the SQL `condition` with `params`; no value when any row cannot be
    // read. Code 1 for an empty condition.
    std::optional<std::vector<APMConditionalUserProperty>> conditionalUserPropertiesWithCondition(
        std::string_view condition, const APMSqliteParameters& params, sdk::Error* error);

    // Stored remote configuration ---------------------------------------------------------------

    // Stores the configuration's encoding and now (APMCurrentTimeInterval) in the app-metadata
    // row. Code 1 "Invalid measurement config data" for a null configuration or an empty
    // encoding, code 1 "Missing Vovidu app ID in measurement configuration" without an app ID.
    bool updateRemoteConfig(const APMPBMeasurementConfig* config, sdk::Error* error);
    // Writes only the time of the last stored or confirmed configuration (seconds since 1970).
    bool updateRemoteConfigSuccessfulTimestamp(double timestamp, sdk::Error* error);
    // The stored configuration. Null without an error when there is none (or the query fails);
    // null with code 2 "Remote config data is corrupted" when the stored bytes do not decode.
    std::unique_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(sdk::Error* error);
    // The time of the last stored or confirmed configuration; no value when none is stored, or
    // with `error` set when the query fails.
    std::optional<double> lastRemoteConfigUpdateTimestamp(sdk::Error* error);

    APMSqliteStore* sqliteStore() const { return sqliteStore_.get(); }
    const std::shared_ptr<APMPersistedConfig>& persistedConfig() const { return persistedConfig_; }

    explicit APMDatabase(std::shared_ptr<APMPersistedConfig> persistedConfig);

  private:
    // The open store, or null with code 2 "Database not open.".
    APMSqliteStore* openStore(sdk::Error* error);
    // The number of the first column of the first row; no value without an error for NULL.
    std::optional<sdk::Value> numberForQuery(std::string_view query,
                                             const APMSqliteParameters& params, sdk::Error* error);
    // numberForQuery read as a boolean (an SQL EXISTS).
    std::optional<bool> booleanForQuery(std::string_view query, const APMSqliteParameters& params,
                                        sdk::Error* error);
    // The number of rows of `table` matching `condition` deleted.
    std::optional<std::int64_t> deleteRecords(std::string_view table, std::string_view condition,
                                              const APMSqliteParameters& params, sdk::Error* error);
    // The "raw_events" row of a raw event.
    static std::optional<APMSqliteRecord> recordFromRawEventData(const APMRawEventData* data,
                                                                 sdk::Error* error);
    // The queued bundle of a "queue" row; no value when it cannot be read.
    static std::optional<APMQueuedBundle> queuedBundleFromRecord(const APMSqliteRecord& record,
                                                                 sdk::Error* error);
    // The queue rows read by `query` as bundles, stopping once they pass `sizeLimit` bytes
    // (none: no limit).
    std::optional<std::vector<APMQueuedBundle>> queuedBundlesForQuery(
        std::string_view query, const APMSqliteParameters& params,
        std::optional<std::int64_t> sizeLimit, sdk::Error* error);
    // The records of `query` (nullopt on failure).
    std::optional<std::vector<APMSqliteRecord>> recordsForQuery(std::string_view query,
                                                                const APMSqliteParameters& params,
                                                                sdk::Error* error);
    std::optional<std::vector<APMSqliteRecord>> recordsWithColumnValue(
        std::string_view table, std::string_view column, const std::optional<sdk::Value>& value,
        sdk::Error* error, bool blockPresent);
    // The app-metadata row; no value (and no error) when it is missing.
    std::optional<APMSqliteRecord> appMetadataRecord(sdk::Error* error);
    bool replaceEventsBySnapshot(sdk::Error* error);
    // Runs `steps` in a transaction of its own, or as part of the caller's when one is open.
    bool runAtomically(sdk::Error* error, const std::function<bool()>& steps);
    static APMSqliteRecord recordFromAppMetadata(const APMAppMetadata& metadata);
    static std::optional<APMEventAggregates> eventAggregatesFromRecord(
        const APMSqliteRecord& record, sdk::Error* error);
    // The event encoded in a blob column; no value with code 2 when it is not bytes, does not
    // decode or does not make an event.
    static std::optional<APMEvent> eventFromBlob(const sdk::Value& blob, sdk::Error* error);
    // The column form of a user property or conditional property value.
    static sdk::Value plainValue(const APMValue& value);
    static std::optional<APMConditionalUserProperty> conditionalUserPropertyFromRecord(
        const APMSqliteRecord& record, sdk::Error* error);
    static std::optional<APMSqliteRecord> recordFromConditionalUserProperty(
        const APMConditionalUserProperty& property, sdk::Error* error);
    // The records of a query (no value: it failed), each through `block`; no value with code 2
    // "Failed to initialize data types from dictionaries" when any of them does not convert.
    template <typename T>
    std::optional<std::vector<T>> allOrNothing(std::optional<std::vector<APMSqliteRecord>> records,
                                               sdk::Error* error,
                                               const CreateDataTypeBlock<T>& block);

    // The app-metadata table's one row.
    static constexpr std::int64_t kAppMetadataRowID = 1;

    std::unique_ptr<APMSqliteStore> sqliteStore_;
    std::shared_ptr<APMPersistedConfig> persistedConfig_;
};

template <typename T>
std::optional<std::vector<T>> APMDatabase::allDataTypesFromTableWithName(
    std::string_view table, std::int64_t tableLimit, sdk::Error* error,
    const CreateDataTypeBlock<T>& block) {
    if (!block) {
        APMSetErrorWithCode(error, 1, "Received nil block to get all data types");
        return std::nullopt;
    }
    std::optional<std::vector<APMSqliteRecord>> records =
        recordsForQuery("SELECT rowid, * FROM " + std::string(table) + " ORDER BY rowid LIMIT " +
                            std::to_string(tableLimit),
                        {}, error);
    if (!records) {
        return std::nullopt;
    }
    std::vector<T> objects;
    for (const APMSqliteRecord& record : *records) {
        if (std::optional<T> object = block(record, error)) {
            objects.push_back(std::move(*object));
        }
    }
    return objects;
}

template <typename T>
std::optional<std::vector<T>> APMDatabase::dataTypesFromTableWithName(
    std::string_view table, std::string_view column, const std::optional<sdk::Value>& value,
    sdk::Error* error, const CreateDataTypeBlock<T>& block) {
    std::optional<std::vector<APMSqliteRecord>> records =
        recordsWithColumnValue(table, column, value, error, static_cast<bool>(block));
    if (!records) {
        return std::nullopt;
    }
    std::vector<T> objects;
    for (const APMSqliteRecord& record : *records) {
        if (std::optional<T> object = block(record, error)) {
            objects.push_back(std::move(*object));
        }
    }
    if (!records->empty() && objects.empty()) {
        APMSetErrorWithCode(error, 2, "Failed to initialize data types from dictionaries");
        return std::nullopt;
    }
    return objects;
}

template <typename T>
std::optional<std::vector<T>> APMDatabase::allOrNothing(
    std::optional<std::vector<APMSqliteRecord>> records, sdk::Error* error,
    const CreateDataTypeBlock<T>& block) {
    if (!records) {
        return std::nullopt;
    }
    std::vector<T> objects;
    objects.reserve(records->size());
    for (const APMSqliteRecord& record : *records) {
        std::optional<T> object = block(record, error);
        if (!object) {
            APMSetErrorWithCode(error, 2, "Failed to initialize data types from dictionaries");
            return std::nullopt;
        }
        objects.push_back(std::move(*object));
    }
    return objects;
}
