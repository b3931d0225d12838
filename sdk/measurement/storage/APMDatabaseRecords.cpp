// The small record tables: purchase and subscription keys reported once, the main events of
// complex events waiting for their children, and named on-device measurement values; and the
// column forms of stored events and values.
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

constexpr const char* kPurchasesTable = "purchase_transactions";
constexpr const char* kSubscriptionsTable = "subscriptions";
constexpr const char* kMainEventsTable = "main_event_params";
constexpr const char* kODMTable = "odm_values";
constexpr std::int64_t kMaxPurchaseKeys = 1000;
constexpr std::int64_t kMaxODMValues = 10;

}  // namespace

std::optional<bool> APMDatabase::insertIfNotDuplicatePurchaseFingerprint(
    std::string_view fingerprint, sdk::Error* error) {
    if (fingerprint.empty()) {
        return false;
    }
    const std::optional<bool> known = booleanForQuery(
        "SELECT EXISTS (SELECT 1 FROM purchase_transactions WHERE fingerprint = ? LIMIT 1)",
        {fingerprint}, error);
    if (!known || *known) {
        return known ? std::optional<bool>(false) : std::nullopt;
    }
    APMSqliteStore* store = openStore(error);
    if (store == nullptr ||
        !store->upsertRecord({{"fingerprint", fingerprint}}, kPurchasesTable, error) ||
        !deleteRecords(kPurchasesTable,
                       "rowid IN (SELECT rowid FROM purchase_transactions ORDER BY rowid DESC "
                       "LIMIT -1 OFFSET ?)",
                       {kMaxPurchaseKeys}, error)) {
        return std::nullopt;
    }
    return true;
}

std::optional<bool> APMDatabase::insertIfNotDuplicateSubscriptionID(std::string_view subscriptionID,
                                                                    sdk::Error* error) {
    if (subscriptionID.empty()) {
        return false;
    }
    const std::optional<bool> known = booleanForQuery(
        "SELECT EXISTS (SELECT 1 FROM subscriptions WHERE subscription_id = ? LIMIT 1)",
        {subscriptionID}, error);
    if (!known || *known) {
        return known ? std::optional<bool>(false) : std::nullopt;
    }
    APMSqliteStore* store = openStore(error);
    if (store == nullptr ||
        !store->upsertRecord({{"subscription_id", subscriptionID}}, kSubscriptionsTable, error)) {
        return std::nullopt;
    }
    return true;
}

std::optional<std::int64_t> APMDatabase::deleteSubscriptionsOverLimit(sdk::Error* error) {
    return deleteRecords(
        kSubscriptionsTable,
        "rowid IN (SELECT rowid FROM subscriptions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
        {kMaxPurchaseKeys}, error);
}

std::optional<std::pair<APMEvent, std::int64_t>> APMDatabase::mainEventAndChildCountPairWithEventID(
    std::int64_t eventID, sdk::Error* error) {
    std::optional<std::vector<APMSqliteRecord>> records = recordsForQuery(
        "SELECT * FROM main_event_params WHERE event_id=? LIMIT 1", {eventID}, error);
    if (!records || records->empty()) {
        return std::nullopt;
    }
    const APMSqliteRecord& record = records->front();
    const auto blob = record.find("main_event");
    if (!APMCheckTrueOrSetError(blob != record.end() && !blob->second.isNull(), error, 3,
                                "Main event blob is nil in database")) {
        return std::nullopt;
    }
    std::optional<APMEvent> event = eventFromBlob(blob->second, error);
    if (!event) {
        return std::nullopt;
    }
    const auto count = record.find("children_to_process");
    if (!APMCheckTrueOrSetError(count != record.end() && count->second.isNumber(), error, 3,
                                "Complex event does not have children count in database")) {
        return std::nullopt;
    }
    return std::pair{std::move(*event), count->second.numberAsInt().value_or(0)};
}

std::optional<APMEvent> APMDatabase::eventFromBlob(const sdk::Value& blob, sdk::Error* error) {
    const sdk::Bytes* data = blob.bytes();
    if (!APMCheckNotNullOrSetError(data, error, 2,
                                   "Failed to convert data to an event. Data must be a NSData "
                                   "instance")) {
        return std::nullopt;
    }
    std::unique_ptr<APMPBEvent> proto = APMPBEvent::initWithBuffer(*data);
    if (!APMCheckNotNilOrSetError(proto, error, 2, "Failed to parse event from data")) {
        return std::nullopt;
    }
    std::optional<APMEvent> event =
        APMEvent::initWithEventProto(*proto, APMRemoteConfig::current()->parameterLimits());
    APMCheckTrueOrSetError(event.has_value(), error, 2,
                           "Failed to initialize event from proto data");
    return event;
}

sdk::Value APMDatabase::plainValue(const APMValue& value) {
    if (value.isString()) {
        return value.value();
    }
    return value.isDouble() ? sdk::Value(value.doubleValue()) : sdk::Value(value.int64Value());
}

bool APMDatabase::updateComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID,
                                                                     std::int64_t childEventCount,
                                                                     const APMEvent* mainEvent,
                                                                     sdk::Error* error) {
    if (!APMCheckNotNullOrSetError(mainEvent, error, 1, "Received nil main event")) {
        return false;
    }
    const std::optional<sdk::Bytes> blob = mainEvent->protoEvent().protoBuffer();
    if (!APMCheckTrueOrSetError(blob && !blob->empty(), error, 1,
                                "Cannot create the main event blob")) {
        return false;
    }
    const APMSqliteRecord record = {{"main_event", sdk::Value(*blob)},
                                    {"event_id", eventID},
                                    {"children_to_process", childEventCount}};
    APMSqliteStore* store = openStore(error);
    return store != nullptr && store->upsertRecord(record, kMainEventsTable, error);
}

bool APMDatabase::deleteComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID,
                                                                     sdk::Error* error) {
    return deleteRecords(kMainEventsTable, "event_id=?", {eventID}, error).has_value();
}

std::optional<APMSqliteRecord> APMDatabase::ODMValueWithName(std::string_view name,
                                                             sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(name.size(), error, 1,
                                   "Received ODM value with empty name for query")) {
        return std::nullopt;
    }
    std::optional<std::vector<APMSqliteRecord>> records =
        dataTypesFromTableWithName<APMSqliteRecord>(
            kODMTable, "name", sdk::Value(name), error,
            [](const APMSqliteRecord& record, sdk::Error*) { return record; });
    if (!records || records->empty()) {
        return std::nullopt;
    }
    return records->front();
}

bool APMDatabase::updateODMValue(std::string_view value, std::string_view name, double setTimestamp,
                                 sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(value.size(), error, 1, "Received empty ODM value for update") ||
        !APMCheckNonZeroOrSetError(name.size(), error, 1,
                                   "Received ODM value with empty name for update")) {
        return false;
    }
    const APMSqliteRecord record = {
        {"name", name}, {"value", value}, {"set_timestamp", setTimestamp}};
    return upsertDataType(record, kODMTable, "name", sdk::Value(name), kMaxODMValues, error);
}

bool APMDatabase::deleteODMValueWithName(std::string_view name, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(name.size(), error, 1,
                                   "Received ODM value with empty name for delete")) {
        return false;
    }
    APMSqliteStore* store = openStore(error);
    return store != nullptr &&
           store->deleteRecordFromTableWithName(kODMTable, "name", sdk::Value(name), error);
}
