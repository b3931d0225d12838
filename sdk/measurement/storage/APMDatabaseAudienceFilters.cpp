// The audience filters of the remote configuration and the last evaluation result of each
// audience. The two filter tables differ only in their name column, their texts and the
// slots of their flags, which FilterTable describes.
#include <set>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"

namespace {

constexpr const char* kResultsTable = "audience_filter_values";

template <typename Filter>
struct FilterTable;

template <>
struct FilterTable<APMEventFilter> {
    using Message = APMPBEventFilter;
    static constexpr const char* kTable = "event_filters";
    static constexpr const char* kNameColumn = "event_name";
    static constexpr std::int32_t kSessionScopedSlot = apmpb::EventFilter::kSessionScoped;
    static constexpr std::int32_t kDynamicSlot = apmpb::EventFilter::kDynamic;
    static constexpr std::int32_t kSequenceSlot = apmpb::EventFilter::kSequence;
    static constexpr const char* kEmptyRecord =
        "Received empty dictionary for getting event filter";
    static constexpr const char* kNothingToUpdate = "Received empty event filters to update";
    static constexpr const char* kEmptyName =
        "Received event filter with empty event name for getting dictionary representation";
    static constexpr const char* kEmptyData =
        "Received event filter with empty data for getting dictionary representation";
    static constexpr const char* kNothingToDelete = "Received empty event filters to delete";
    static const std::string& name(const APMEventFilter& filter) { return filter.eventName(); }
};

template <>
struct FilterTable<APMPropertyFilter> {
    using Message = APMPBPropertyFilter;
    static constexpr const char* kTable = "property_filters";
    static constexpr const char* kNameColumn = "property_name";
    static constexpr std::int32_t kSessionScopedSlot = apmpb::PropertyFilter::kSessionScoped;
    static constexpr std::int32_t kDynamicSlot = apmpb::PropertyFilter::kDynamic;
    static constexpr std::int32_t kSequenceSlot = apmpb::PropertyFilter::kSequence;
    static constexpr const char* kEmptyRecord =
        "Received empty dictionary for getting property filter";
    static constexpr const char* kNothingToUpdate = "Received empty property filters to update";
    static constexpr const char* kEmptyName =
        "Received property filter with empty property name for getting dictionary "
        "representation";
    static constexpr const char* kEmptyData =
        "Received property filter with empty data for getting dictionary representation";
    static constexpr const char* kNothingToDelete = "Received empty property filters to delete";
    static const std::string& name(const APMPropertyFilter& filter) {
        return filter.propertyName();
    }
};

// A number column as a 32-bit ID; no value when it is absent or not a number.
std::optional<std::int32_t> int32Column(const APMSqliteRecord& record, std::string_view column) {
    const auto found = record.find(column);
    if (found == record.end() || !found->second.isNumber()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(found->second.numberAsInt().value_or(0));
}

// A blob column; empty when it is absent (a zero-length blob is not read), NULL or not bytes.
sdk::Bytes bytesColumn(const APMSqliteRecord& record, std::string_view column) {
    const auto found = record.find(column);
    const sdk::Bytes* bytes = found != record.end() ? found->second.bytes() : nullptr;
    return bytes != nullptr ? *bytes : sdk::Bytes();
}

template <typename Filter>
std::optional<Filter> filterFromRecord(const APMSqliteRecord& record, sdk::Error* error) {
    using Table = FilterTable<Filter>;
    const std::optional<std::int32_t> audienceID = int32Column(record, "audience_id");
    const std::optional<std::int32_t> filterID = int32Column(record, "filter_id");
    const auto name = record.find(Table::kNameColumn);
    if (!APMCheckTrueOrSetError(
            audienceID && filterID && name != record.end() && name->second.isString(), error, 3,
            Table::kEmptyRecord)) {
        return std::nullopt;
    }
    sdk::Bytes data = bytesColumn(record, "data");
    // Only the session-scoped flag has a column; the message holds all three.
    std::unique_ptr<typename Table::Message> message = Table::Message::initWithBuffer(data);
    const auto flag = [&message](std::int32_t slot) {
        return message != nullptr && APMPBGetBool(message.get(), slot);
    };
    return Filter(*audienceID, *filterID, *name->second.string(), std::move(data),
                  flag(Table::kSessionScopedSlot), flag(Table::kDynamicSlot),
                  flag(Table::kSequenceSlot));
}

// Upserts each filter in order; the first that cannot be written ends the call.
template <typename Filter>
bool upsertFilters(APMSqliteStore& store, const std::vector<Filter>& filters, sdk::Error* error) {
    using Table = FilterTable<Filter>;
    for (const Filter& filter : filters) {
        if (!APMCheckNonZeroOrSetError(Table::name(filter).size(), error, 3, Table::kEmptyName) ||
            !APMCheckNonZeroOrSetError(filter.data().size(), error, 3, Table::kEmptyData)) {
            return false;
        }
        const APMSqliteRecord record = {{"audience_id", filter.audienceID()},
                                        {"filter_id", filter.filterID()},
                                        {Table::kNameColumn, Table::name(filter)},
                                        {"data", filter.data()},
                                        {"session_scoped", filter.isSessionScoped()}};
        if (!store.upsertRecord(record, Table::kTable, error)) {
            return false;
        }
    }
    return true;
}

// "(audience_id, filter_id) IN (VALUES (1,2),(3,4))": one condition for any number of filters.
// (A chain of ORs would exceed SQLite's expression depth limit beyond about a thousand.)
template <typename Filter>
std::string filterKeysCondition(const std::vector<Filter>& filters) {
    std::string condition = "(audience_id, filter_id) IN (VALUES ";
    for (std::size_t i = 0; i < filters.size(); ++i) {
        condition += (i == 0 ? "(" : ",(") + std::to_string(filters[i].audienceID()) + "," +
                     std::to_string(filters[i].filterID()) + ")";
    }
    return condition + ")";
}

std::optional<APMFilterResult> filterResultFromRecord(const APMSqliteRecord& record,
                                                      sdk::Error* error) {
    const std::optional<std::int32_t> audienceID = int32Column(record, "audience_id");
    if (!APMCheckTrueOrSetError(audienceID.has_value(), error, 3,
                                "Received empty dictionary for getting filter result")) {
        return std::nullopt;
    }
    return APMFilterResult(*audienceID, bytesColumn(record, "current_results"),
                           bytesColumn(record, "previous_results"));
}

}  // namespace

std::optional<std::map<std::int32_t, APMFilterResult>> APMDatabase::allFilterResults(
    sdk::Error* error) {
    std::optional<std::vector<APMSqliteRecord>> records =
        recordsForQuery("SELECT rowid, * FROM audience_filter_values", {}, error);
    if (!records) {
        return std::nullopt;
    }
    std::map<std::int32_t, APMFilterResult> results;
    for (const APMSqliteRecord& record : *records) {
        if (std::optional<APMFilterResult> result = filterResultFromRecord(record, error)) {
            results.insert_or_assign(result->audienceID(), std::move(*result));
        }
    }
    return results;
}

std::optional<APMFilterResult> APMDatabase::filterResultForAudienceID(std::int32_t audienceID,
                                                                      sdk::Error* error) {
    std::optional<std::vector<APMFilterResult>> results =
        dataTypesFromTableWithName<APMFilterResult>(
            kResultsTable, "audience_id", sdk::Value(audienceID), error, filterResultFromRecord);
    if (!results || results->empty()) {
        return std::nullopt;
    }
    return std::move(results->front());
}

std::optional<std::vector<std::int32_t>> APMDatabase::allAudienceIDs(sdk::Error* error) {
    std::optional<std::vector<APMSqliteRecord>> records = recordsForQuery(
        "SELECT audience_id FROM event_filters UNION SELECT audience_id FROM property_filters", {},
        error);
    if (!records) {
        return std::nullopt;
    }
    std::vector<std::int32_t> audienceIDs;
    for (const APMSqliteRecord& record : *records) {
        const std::optional<std::int32_t> audienceID = int32Column(record, "audience_id");
        if (!APMCheckTrueOrSetError(audienceID.has_value(), error, 1,
                                    "Received nil audience ID for querying all audience IDs")) {
            return std::nullopt;
        }
        audienceIDs.push_back(*audienceID);
    }
    return audienceIDs;
}

std::optional<std::vector<APMEventFilter>> APMDatabase::eventFiltersForEventName(
    std::string_view eventName, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(eventName.size(), error, 1,
                                   "Received empty event name for getting event filters")) {
        return std::nullopt;
    }
    return dataTypesFromTableWithName<APMEventFilter>(
        FilterTable<APMEventFilter>::kTable, FilterTable<APMEventFilter>::kNameColumn,
        sdk::Value(eventName), error, filterFromRecord<APMEventFilter>);
}

std::optional<std::vector<APMPropertyFilter>> APMDatabase::propertyFiltersForPropertyName(
    std::string_view propertyName, sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(propertyName.size(), error, 1,
                                   "Received empty property name for getting property filters")) {
        return std::nullopt;
    }
    return dataTypesFromTableWithName<APMPropertyFilter>(
        FilterTable<APMPropertyFilter>::kTable, FilterTable<APMPropertyFilter>::kNameColumn,
        sdk::Value(propertyName), error, filterFromRecord<APMPropertyFilter>);
}

std::optional<std::map<std::int32_t, std::vector<std::int32_t>>>
APMDatabase::allSessionScopedFilters(sdk::Error* error) {
    std::optional<std::vector<APMSqliteRecord>> records = recordsForQuery(
        "SELECT audience_id, filter_id FROM event_filters WHERE session_scoped = 1 UNION "
        "SELECT audience_id, filter_id FROM property_filters WHERE session_scoped = 1",
        {}, error);
    if (!records) {
        return std::nullopt;
    }
    std::map<std::int32_t, std::vector<std::int32_t>> filters;
    for (const APMSqliteRecord& record : *records) {
        const std::optional<std::int32_t> audienceID = int32Column(record, "audience_id");
        const std::optional<std::int32_t> filterID = int32Column(record, "filter_id");
        if (audienceID && filterID) {
            filters[*audienceID].push_back(*filterID);
        }
    }
    return filters;
}

bool APMDatabase::updateEventFilters(const std::vector<APMEventFilter>& filters,
                                     sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(filters.size(), error, 1,
                                   FilterTable<APMEventFilter>::kNothingToUpdate)) {
        return false;
    }
    APMSqliteStore* store = openStore(error);
    return store != nullptr && upsertFilters(*store, filters, error);
}

bool APMDatabase::updatePropertyFilters(const std::vector<APMPropertyFilter>& filters,
                                        sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(filters.size(), error, 1,
                                   FilterTable<APMPropertyFilter>::kNothingToUpdate)) {
        return false;
    }
    APMSqliteStore* store = openStore(error);
    return store != nullptr && upsertFilters(*store, filters, error);
}

bool APMDatabase::updateFilterResults(const std::vector<APMFilterResult>& results,
                                      sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(results.size(), error, 1,
                                   "Received empty filter results to update")) {
        return false;
    }
    APMSqliteStore* store = openStore(error);
    if (store == nullptr) {
        return false;
    }
    for (const APMFilterResult& result : results) {
        if (!APMCheckNonZeroOrSetError(
                result.currentResults().size(), error, 3,
                "Received filter result with empty data for getting dictionary representation")) {
            return false;
        }
        // Left out, the previous results are NULL: INSERT OR REPLACE writes the whole row.
        APMSqliteRecord record = {{"audience_id", result.audienceID()},
                                  {"current_results", result.currentResults()}};
        if (!result.previousResults().empty()) {
            record.emplace("previous_results", result.previousResults());
        }
        if (!store->upsertRecord(record, kResultsTable, error)) {
            return false;
        }
    }
    return true;
}

bool APMDatabase::deleteEventFilters(const std::vector<APMEventFilter>& filters,
                                     sdk::Error* error) {
    using Table = FilterTable<APMEventFilter>;
    return APMCheckNonZeroOrSetError(filters.size(), error, 1, Table::kNothingToDelete) &&
           deleteRecords(Table::kTable, filterKeysCondition(filters), {}, error).has_value();
}

bool APMDatabase::deletePropertyFilters(const std::vector<APMPropertyFilter>& filters,
                                        sdk::Error* error) {
    using Table = FilterTable<APMPropertyFilter>;
    return APMCheckNonZeroOrSetError(filters.size(), error, 1, Table::kNothingToDelete) &&
           deleteRecords(Table::kTable, filterKeysCondition(filters), {}, error).has_value();
}

bool APMDatabase::deleteFilterResults(const std::vector<APMFilterResult>& results,
                                      sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(results.size(), error, 1,
                                   "Received empty filter results to delete")) {
        return false;
    }
    std::set<std::int32_t> audienceIDs;
    for (const APMFilterResult& result : results) {
        audienceIDs.insert(result.audienceID());
    }
    std::string list;
    for (std::int32_t audienceID : audienceIDs) {
        list += (list.empty() ? "" : ",") + std::to_string(audienceID);
    }
    return deleteRecords(kResultsTable, "audience_id IN (" + list + ")", {}, error).has_value();
}

bool APMDatabase::deleteAllEventFilters(sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    return store != nullptr &&
           store->deleteAllRecordsFromTableWithName(FilterTable<APMEventFilter>::kTable, error);
}

bool APMDatabase::deleteAllPropertyFilters(sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    return store != nullptr &&
           store->deleteAllRecordsFromTableWithName(FilterTable<APMPropertyFilter>::kTable, error);
}
