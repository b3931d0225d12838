// Raw events and the bundle metadata they were logged with: the "raw_events" and
// "raw_events_metadata" tables, their limits, and the conversion between events and rows.
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDigest.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

constexpr const char* kRawEventsTable = "raw_events";
constexpr const char* kMetadataTable = "raw_events_metadata";
constexpr const char* kOriginParameter = "_o";
constexpr std::int64_t kMaxMetadataRows = 100000;
constexpr std::int64_t kMaxEventsPerFingerprint = 1000;

// The integer of a column; no value when it is missing or not an integer.
std::optional<std::int64_t> integerColumn(const APMSqliteRecord& record, std::string_view column) {
    const auto found = record.find(column);
    if (found == record.end() || !found->second.isInt()) {
        return std::nullopt;
    }
    return found->second.intValue();
}

bool hasNonNullColumn(const APMSqliteRecord& record, std::string_view column) {
    const auto found = record.find(column);
    return found != record.end() && !found->second.isNull();
}

// The elements of a repeated EventParam field, in order.
std::vector<std::shared_ptr<NANOMessageBase>> repeatedParams(const NANOMessageBase* message,
                                                             std::int32_t fieldID) {
    std::vector<std::shared_ptr<NANOMessageBase>> params;
    for (APMPBRepeatedElement& element :
         APMPBGetRepeated<APMPBEventParam>(message, fieldID).value_or(APMPBRepeatedArray{})) {
        if (auto* param = std::get_if<std::shared_ptr<NANOMessageBase>>(&element)) {
            params.push_back(std::move(*param));
        }
    }
    return params;
}

}  // namespace

APMSqliteStore* APMDatabase::openStore(sdk::Error* error) {
    APMCheckNotNilOrSetError(sqliteStore_, error, 2, "Database not open.");
    return sqliteStore_.get();
}

std::optional<sdk::Value> APMDatabase::numberForQuery(std::string_view query,
                                                      const APMSqliteParameters& params,
                                                      sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    return store ? store->numberForQuery(query, params, error) : std::nullopt;
}

std::optional<bool> APMDatabase::booleanForQuery(std::string_view query,
                                                 const APMSqliteParameters& params,
                                                 sdk::Error* error) {
    std::optional<sdk::Value> number = numberForQuery(query, params, error);
    return number ? number->numberAsBool() : std::nullopt;
}

std::optional<std::int64_t> APMDatabase::deleteRecords(std::string_view table,
                                                       std::string_view condition,
                                                       const APMSqliteParameters& params,
                                                       sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    return store ? store->deleteRecordsFromTableWithName(table, condition, params, error)
                 : std::nullopt;
}

std::optional<std::pair<std::string, APMValue>> APMDatabase::eventParamFromProto(
    const NANOMessageBase* param, bool topLevel, sdk::Error* error) {
    if (!APMCheckNotNullOrSetError(param, error, 1, "Failed to parse empty event params data")) {
        return std::nullopt;
    }
    const std::string name = APMPBGetString(param, apmpb::EventParam::kName).value_or("");
    if (topLevel &&
        !APMCheckTrueOrSetError(!name.empty(), error, 1, "Event parameter name is empty")) {
        return std::nullopt;
    }
    if (APMPBHasField(param, apmpb::EventParam::kStringValue)) {
        if (std::optional<std::string> text =
                APMPBGetString(param, apmpb::EventParam::kStringValue)) {
            return std::pair{name, APMValue(std::move(*text))};
        }
    } else if (APMPBHasField(param, apmpb::EventParam::kIntValue)) {
        return std::pair{name, APMValue(APMPBGetInt64(param, apmpb::EventParam::kIntValue))};
    } else if (APMPBHasField(param, apmpb::EventParam::kDoubleValue)) {
        return std::pair{name, APMValue(APMPBGetDouble(param, apmpb::EventParam::kDoubleValue))};
    } else if (const std::vector<std::shared_ptr<NANOMessageBase>> children =
                   repeatedParams(param, apmpb::EventParam::kParamValue);
               topLevel && !children.empty()) {
        sdk::Value::Array items;
        for (const std::shared_ptr<NANOMessageBase>& child : children) {
            APMParameters item;
            const std::vector<std::shared_ptr<NANOMessageBase>> fields =
                repeatedParams(child.get(), apmpb::EventParam::kParamValue);
            if (fields.empty()) {
                if (auto entry = eventParamFromProto(child.get(), false, nullptr)) {
                    item.insert(std::move(*entry));
                }
            }
            for (const std::shared_ptr<NANOMessageBase>& field : fields) {
                auto entry = eventParamFromProto(field.get(), false, nullptr);
                if (entry &&
                    entry->first ==
                        APMPBGetString(field.get(), apmpb::EventParam::kName).value_or("")) {
                    item.insert(std::move(*entry));
                }
            }
            items.emplace_back(APMDictionaryFromParameters(item));
        }
        return std::pair{name, APMValue(std::move(items))};
    }
    APMSetErrorWithCode(error, 2, "Failed to parse invalid event params data");
    return std::nullopt;
}

bool APMDatabase::insertIfNotExistsRawEventMetadata(const APMPBMeasurementBundle* metadata,
                                                    sdk::Error* error) {
    const std::optional<sdk::Bytes> encoding = metadata ? metadata->protoBuffer() : std::nullopt;
    if (!APMCheckTrueOrSetError(
            encoding && !encoding->empty(), error, 3,
            "Received empty measurement bundle metadata for getting dictionary representation")) {
        return false;
    }
    const std::int64_t fingerprint = apm_64LSBMD5(*encoding);
    if (queryRawEventsMetadataWithFingerprint(fingerprint, nullptr)) {
        return true;
    }
    const APMSqliteRecord record = {{"metadata_fingerprint", fingerprint},
                                    {"metadata", sdk::Value(*encoding)}};
    return upsertDataType(record, kMetadataTable, "metadata_fingerprint", sdk::Value(fingerprint),
                          kMaxMetadataRows, error);
}

std::unique_ptr<APMPBMeasurementBundle> APMDatabase::queryRawEventsMetadataWithFingerprint(
    std::int64_t fingerprint, sdk::Error* error) {
    using Bundle = std::shared_ptr<APMPBMeasurementBundle>;
    std::optional<std::vector<Bundle>> bundles = dataTypesFromTableWithName<Bundle>(
        kMetadataTable, "metadata_fingerprint", sdk::Value(fingerprint), error,
        [](const APMSqliteRecord& record, sdk::Error* blockError) -> std::optional<Bundle> {
            const auto found = record.find("metadata");
            const sdk::Bytes* data = found != record.end() ? found->second.bytes() : nullptr;
            if (!APMCheckTrueOrSetError(
                    data != nullptr && !data->empty(), blockError, 3,
                    "Event metadata should not be empty for getting measurement bundle")) {
                return std::nullopt;
            }
            Bundle bundle = APMPBMeasurementBundle::initWithBuffer(*data);
            return bundle ? std::optional<Bundle>(std::move(bundle)) : std::nullopt;
        });
    if (!bundles || bundles->empty()) {
        return nullptr;
    }
    return std::make_unique<APMPBMeasurementBundle>(*bundles->front());
}

bool APMDatabase::deleteRawEventMetadataWithMetadataFingerprint(std::int64_t fingerprint,
                                                                sdk::Error* error) {
    return deleteRecords(kMetadataTable, "metadata_fingerprint == ?", {fingerprint}, error)
        .has_value();
}

bool APMDatabase::deleteUnusedRawEventsMetadata(sdk::Error* error) {
    return deleteRecords(
               kMetadataTable,
               "metadata_fingerprint NOT IN (SELECT DISTINCT metadata_fingerprint FROM raw_events)",
               {}, error)
        .has_value();
}

std::optional<bool> APMDatabase::isRawEventsTableEmpty(sdk::Error* error) {
    return booleanForQuery("SELECT NOT EXISTS (SELECT 1 FROM raw_events LIMIT 1)", {}, error);
}

std::optional<std::vector<APMRawEventData>> APMDatabase::allRawEventsWithError(sdk::Error* error) {
    return allDataTypesFromTableWithName<APMRawEventData>(
        kRawEventsTable, APMRemoteConfig::current()->maxEventsStored(), error,
        [this](const APMSqliteRecord& record, sdk::Error*) {
            return rawEventDataFromDictionary(&record, nullptr);
        });
}

std::optional<APMSqliteRecord> APMDatabase::recordFromRawEventData(const APMRawEventData* data,
                                                                   sdk::Error* error) {
    if (!APMCheckNotNullOrSetError(
            data, error, 3,
            "Received empty raw event data for getting dictionary representation")) {
        return std::nullopt;
    }
    const APMEvent& event = data->rawEvent();
    APMPBEvent proto = event.protoEvent();
    APMPBClearField(&proto, apmpb::Event::kName);
    return APMSqliteRecord{{"name", event.name()},
                           {"timestamp", event.timestamp()},
                           {"metadata_fingerprint", data->metadataFingerprint()},
                           {"data", sdk::Value(proto.protoBuffer().value_or(sdk::Bytes{}))},
                           {"is_realtime", std::int64_t{event.isRealtime() ? 1 : 0}}};
}

bool APMDatabase::insertRawEvent(const APMEvent* event, std::int64_t metadataFingerprint,
                                 bool isRealtime, sdk::Error* error) {
    if (!APMCheckNotNullOrSetError(event, error, 1,
                                   "Received empty event for inserting in the database")) {
        return false;
    }
    const std::optional<APMRawEventData> data =
        APMRawEventData::initWithRawEvent(event, 0, metadataFingerprint);
    std::optional<APMSqliteRecord> record = recordFromRawEventData(data ? &*data : nullptr, error);
    if (!record) {
        return false;
    }
    (*record)["is_realtime"] = std::int64_t{isRealtime ? 1 : 0};
    return insertDataType(record, kRawEventsTable, error);
}

std::optional<double> APMDatabase::queryLatestRawEventTime(sdk::Error* error) {
    std::optional<sdk::Value> latest =
        numberForQuery("SELECT MAX(timestamp) FROM raw_events", {}, error);
    return latest ? latest->numberAsDouble() : std::nullopt;
}

std::optional<std::vector<APMRawEventData>> APMDatabase::rawEventsWithMetadataFingerprint(
    std::int64_t fingerprint, sdk::Error* error, const APMSqliteRecordFilter& eventFilter) {
    APMSqliteStore* store = openStore(error);
    if (store == nullptr) {
        return std::nullopt;
    }
    constexpr std::string_view kQuery =
        "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?";
    const APMSqliteParameters params = {fingerprint, kMaxEventsPerFingerprint};
    std::optional<std::vector<APMSqliteRecord>> records =
        eventFilter ? store->recordsForQuery(kQuery, params, error, eventFilter)
                    : store->recordsForQuery(kQuery, params, error);
    if (!records) {
        return std::nullopt;
    }
    std::vector<APMRawEventData> events;
    sdk::Error rowError;
    for (const APMSqliteRecord& record : *records) {
        if (std::optional<APMRawEventData> event = rawEventDataFromDictionary(&record, &rowError)) {
            events.push_back(std::move(*event));
        }
    }
    if (!records->empty() && events.empty()) {
        if (error != nullptr) {
            *error = rowError;
        }
        return std::nullopt;
    }
    return events;
}

std::optional<bool> APMDatabase::containsRawEventWithMetadataFingerprint(std::int64_t fingerprint,
                                                                         sdk::Error* error) {
    return booleanForQuery(
        "SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)",
        {fingerprint}, error);
}

bool APMDatabase::updateRawEvent(const APMRawEventData* rawEventData, sdk::Error* error) {
    sdk::Error updateError;
    const std::optional<APMSqliteRecord> record =
        recordFromRawEventData(rawEventData, &updateError);
    const bool updated = record && updateDataType(record, kRawEventsTable, "rowid",
                                                  sdk::Value(rawEventData->rowID()), &updateError);
    if (!updated && error != nullptr) {
        *error = updateError;
    }
    return updated;
}

bool APMDatabase::deleteRawEventsWithMaxRowID(std::int64_t rowID, sdk::Error* error) {
    return deleteRecords(kRawEventsTable, "rowid <= ?", {rowID}, error).has_value();
}

std::optional<std::int64_t> APMDatabase::deleteRawEventsOverAbsoluteLimit(sdk::Error* error) {
    const std::int64_t keep =
        static_cast<std::int64_t>(APMRemoteConfig::current()->maxEventsStored()) - 1;
    // The rows lie within their row ID span, which two index look-ups give: while the span is
    // within the limit nothing can be over it, and the engine skips the delete's scan of the
    // table on every event it writes.
    sdk::Error spanError;
    const std::optional<sdk::Value> span = numberForQuery(
        "SELECT (SELECT max(rowid) FROM raw_events) - (SELECT min(rowid) FROM raw_events) + 1", {},
        &spanError);
    if (!span && !spanError.ok()) {
        if (error != nullptr) {
            *error = spanError;
        }
        return std::nullopt;
    }
    if (!span || span->numberAsInt().value_or(0) <= keep) {
        return 0;
    }
    return deleteRecords(
        kRawEventsTable,
        "rowid IN (SELECT rowid FROM raw_events ORDER BY rowid DESC LIMIT -1 OFFSET ?)", {keep},
        error);
}

bool APMDatabase::deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, sdk::Error* error) {
    if (!APMCheckTrueOrSetError(maxAge >= 0, error, 1,
                                "Cannot delete stale raw events given negative time period")) {
        return false;
    }
    const std::optional<std::int64_t> deleted =
        deleteRecords(kRawEventsTable, "abs(timestamp - cast(? as REAL)) > cast(? as REAL)",
                      {APMCurrentTimeInterval(), maxAge}, error);
    if (!deleted) {
        return false;
    }
    return *deleted == 0 || deleteUnusedRawEventsMetadata(error);
}

std::optional<std::int64_t> APMDatabase::nextMetadataFingerprintToProcess(sdk::Error* error) {
    std::optional<std::vector<APMSqliteRecord>> records =
        recordsForQuery("SELECT metadata_fingerprint, MIN(rowid) FROM raw_events", {}, error);
    if (!records) {
        return std::nullopt;
    }
    if (!APMCheckTrueOrSetError(records->size() == 1, error, 2,
                                "Only one event metadata should be processed")) {
        return std::nullopt;
    }
    return integerColumn(records->front(), "metadata_fingerprint");
}

std::optional<APMRawEventData> APMDatabase::rawEventDataFromDictionary(
    const APMSqliteRecord* record, sdk::Error* error) {
    if (!APMCheckNotNullOrSetError(record, error, 1,
                                   "Received empty dictionary for getting raw event data")) {
        return std::nullopt;
    }
    // A row ID or fingerprint that is not an integer makes the row as unreadable as a missing
    // one.
    const std::optional<std::int64_t> rowID = integerColumn(*record, "rowid");
    if (!APMCheckTrueOrSetError(rowID.has_value(), error, 1,
                                "Unable to find row ID in the database dictionary")) {
        return std::nullopt;
    }
    const auto dataColumn = record->find("data");
    const sdk::Bytes* data = dataColumn != record->end() ? dataColumn->second.bytes() : nullptr;
    if (!APMCheckTrueOrSetError(hasNonNullColumn(*record, "data"), error, 1,
                                "Unable to find event data in the database dictionary")) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> fingerprint = integerColumn(*record, "metadata_fingerprint");
    if (!APMCheckTrueOrSetError(fingerprint.has_value(), error, 1,
                                "Unable to find event metadata in the database dictionary")) {
        return std::nullopt;
    }
    std::unique_ptr<APMPBEvent> proto = data ? APMPBEvent::initWithBuffer(*data) : nullptr;
    if (!APMCheckNotNilOrSetError(proto, error, 3, "Failed to parse event from data")) {
        return std::nullopt;
    }
    const auto nameColumn = record->find("name");
    const std::string* name = nameColumn != record->end() ? nameColumn->second.string() : nullptr;
    const auto timeColumn = record->find("timestamp");
    const double timestamp =
        timeColumn != record->end() ? timeColumn->second.numberAsDouble().value_or(0.0) : 0.0;
    const double previousTimestamp =
        static_cast<double>(APMPBGetInt64(proto.get(), apmpb::Event::kPreviousTimestampMillis)) /
        1000.0;

    std::string origin;
    APMRawParameters parameters;
    for (const std::shared_ptr<NANOMessageBase>& element :
         repeatedParams(proto.get(), apmpb::Event::kParams)) {
        const NANOMessageBase* param = element.get();
        if (APMPBGetString(param, apmpb::EventParam::kName) == kOriginParameter) {
            std::optional<std::string> text =
                APMPBHasField(param, apmpb::EventParam::kStringValue)
                    ? APMPBGetString(param, apmpb::EventParam::kStringValue)
                    : std::nullopt;
            if (!APMCheckTrueOrSetError(
                    text.has_value(), error, 2,
                    "Cannot create an event from database. Origin parameter is not a string")) {
                return std::nullopt;
            }
            origin = *text;
            continue;
        }
        std::optional<std::pair<std::string, APMValue>> entry =
            eventParamFromProto(param, true, nullptr);
        if (!APMCheckTrueOrSetError(entry.has_value(), error, 2,
                                    "Failed to parse event params data")) {
            return std::nullopt;
        }
        parameters.insert_or_assign(std::move(entry->first), std::move(entry->second));
    }
    if (!APMCheckTrueOrSetError(!origin.empty(), error, 2,
                                "Cannot create an event from database. Missing origin parameter")) {
        return std::nullopt;
    }
    std::optional<APMEvent> event = APMEvent::initWithOrigin(
        origin, false, name ? *name : std::string(), timestamp, previousTimestamp, parameters,
        APMRemoteConfig::current()->parameterLimits());
    std::optional<APMRawEventData> rawEventData =
        event ? APMRawEventData::initWithRawEvent(&*event, *rowID, *fingerprint) : std::nullopt;
    APMCheckTrueOrSetError(rawEventData.has_value(), error, 2,
                           "Failed to initialize raw event data from dictionary");
    return rawEventData;
}

std::optional<bool> APMDatabase::containsRealtimeRawEventsWithError(sdk::Error* error) {
    return booleanForQuery("SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1 LIMIT 1)",
                           {}, error);
}
