// The conditional user properties: one row per name with the value it sets, its trigger,
// timeout and time to live, and the events it logs as encoded Event messages.
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/storage/APMDatabase.h"

namespace {

constexpr const char* kConditionalPropertiesTable = "conditional_properties";

// The three event columns with the property's accessor and setter of each.
struct EventColumn {
    const char* column;
    const std::optional<APMEvent>& (APMConditionalUserProperty::*get)() const;
    void (APMConditionalUserProperty::*set)(std::optional<APMEvent>);
};

constexpr EventColumn kEventColumns[] = {
    {"triggered_event", &APMConditionalUserProperty::triggeredEvent,
     &APMConditionalUserProperty::setTriggeredEvent},
    {"timed_out_event", &APMConditionalUserProperty::timedOutEvent,
     &APMConditionalUserProperty::setTimedOutEvent},
    {"expired_event", &APMConditionalUserProperty::expiredEvent,
     &APMConditionalUserProperty::setExpiredEvent},
};

double doubleColumn(const APMSqliteRecord& record, std::string_view column) {
    const auto found = record.find(column);
    return found != record.end() ? found->second.numberAsDouble().value_or(0.0) : 0.0;
}

const std::string* stringColumn(const APMSqliteRecord& record, std::string_view column) {
    const auto found = record.find(column);
    return found != record.end() ? found->second.string() : nullptr;
}

// `text` as a LIKE pattern that matches only itself (up to ASCII case), with "\" as escape.
std::string likeLiteral(std::string_view text) {
    std::string pattern;
    pattern.reserve(text.size());
    for (char c : text) {
        if (c == '\\' || c == '_' || c == '%') {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern;
}

}  // namespace

std::optional<APMConditionalUserProperty> APMDatabase::conditionalUserPropertyFromRecord(
    const APMSqliteRecord& record, sdk::Error* error) {
    const std::string* name = stringColumn(record, "name");
    const std::string* origin = stringColumn(record, "origin");
    if (!APMCheckTrueOrSetError(
            name != nullptr && origin != nullptr, error, 3,
            "Received empty dictionary for getting conditional user property")) {
        return std::nullopt;
    }
    const auto value = record.find("value");
    std::optional<APMValue> converted =
        APMValue::valueFromObject(value != record.end() ? &value->second : nullptr);
    if (!APMCheckTrueOrSetError(converted.has_value(), error, 2,
                                "Failed to convert conditional user property value from "
                                "database")) {
        return std::nullopt;
    }
    APMConditionalUserProperty property;
    property.setName(*name);
    property.setOrigin(*origin);
    property.setValue(std::move(converted));
    property.setCreationTimestamp(doubleColumn(record, "creation_timestamp"));
    const auto active = record.find("active");
    property.setActive(active != record.end() && active->second.numberAsBool().value_or(false));
    property.setTriggerTimeout(doubleColumn(record, "trigger_timeout"));
    property.setTriggeredTimestamp(doubleColumn(record, "triggered_timestamp"));
    property.setTimeToLive(doubleColumn(record, "time_to_live"));
    if (const std::string* trigger = stringColumn(record, "trigger_event_name")) {
        property.setTriggerEventName(*trigger);
    }
    for (const EventColumn& column : kEventColumns) {
        const auto blob = record.find(column.column);
        if (blob != record.end() && !blob->second.isNull()) {
            // An event that cannot be read is lost; the property itself still holds.
            sdk::Error ignored;
            (property.*column.set)(eventFromBlob(blob->second, &ignored));
        }
    }
    return property;
}

std::optional<APMSqliteRecord> APMDatabase::recordFromConditionalUserProperty(
    const APMConditionalUserProperty& property, sdk::Error* error) {
    const std::string_view description = " for getting dictionary representation";
    if (!APMCheckNonZeroOrSetError(
            property.name().size(), error, 3,
            "Received conditional user property with empty name" + std::string(description)) ||
        !APMCheckNonZeroOrSetError(
            property.origin().size(), error, 3,
            "Received conditional user property with empty origin" + std::string(description)) ||
        !APMCheckTrueOrSetError(
            property.value().has_value(), error, 3,
            "Received conditional user property with nil value" + std::string(description))) {
        return std::nullopt;
    }
    APMSqliteRecord record = {{"name", property.name()},
                              {"origin", property.origin()},
                              {"value", plainValue(*property.value())},
                              {"creation_timestamp", property.creationTimestamp()},
                              {"active", property.isActive()},
                              {"trigger_timeout", property.triggerTimeout()},
                              {"triggered_timestamp", property.triggeredTimestamp()},
                              {"time_to_live", property.timeToLive()}};
    // Columns left out are NULL: INSERT OR REPLACE writes the whole row.
    if (property.triggerEventName() && !property.triggerEventName()->empty()) {
        record.emplace("trigger_event_name", *property.triggerEventName());
    }
    for (const EventColumn& column : kEventColumns) {
        if (const std::optional<APMEvent>& event = (property.*column.get)()) {
            std::optional<sdk::Bytes> blob = event->protoEvent().protoBuffer();
            if (!APMCheckTrueOrSetError(blob && !blob->empty(), error, 2,
                                        "Failed to convert an event to data")) {
                return std::nullopt;
            }
            record.emplace(column.column, std::move(*blob));
        }
    }
    return record;
}

std::optional<APMConditionalUserProperty> APMDatabase::conditionalUserPropertyWithName(
    std::string_view name, sdk::Error* error) {
    std::optional<std::vector<APMConditionalUserProperty>> properties =
        dataTypesFromTableWithName<APMConditionalUserProperty>(kConditionalPropertiesTable, "name",
                                                               sdk::Value(name), error,
                                                               conditionalUserPropertyFromRecord);
    if (!properties || properties->empty()) {
        return std::nullopt;
    }
    return std::move(properties->front());
}

bool APMDatabase::updateConditionalUserProperty(const APMConditionalUserProperty* property,
                                                sdk::Error* error) {
    if (!APMCheckNotNullOrSetError(
            property, error, 3,
            "Received empty conditional user property for getting dictionary representation")) {
        return false;
    }
    std::optional<APMSqliteRecord> record = recordFromConditionalUserProperty(*property, error);
    return record &&
           upsertDataType(record, kConditionalPropertiesTable, "name", sdk::Value(property->name()),
                          kMaxConditionalUserProperties, error);
}

bool APMDatabase::deleteConditionalUserPropertyWithName(std::string_view name, sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    return store != nullptr && store->deleteRecordFromTableWithName(
                                   kConditionalPropertiesTable, "name", sdk::Value(name), error);
}

std::optional<std::vector<APMConditionalUserProperty>>
APMDatabase::timedOutConditionalUserPropertiesWithError(sdk::Error* error) {
    return conditionalUserPropertiesWithCondition(
        "active=0 and abs(? - creation_timestamp) > trigger_timeout", {APMCurrentTimeInterval()},
        error);
}

std::optional<std::vector<APMConditionalUserProperty>>
APMDatabase::expiredConditionalUserPropertiesWithError(sdk::Error* error) {
    return conditionalUserPropertiesWithCondition(
        "active=1 and abs(? - triggered_timestamp) > time_to_live", {APMCurrentTimeInterval()},
        error);
}

std::optional<std::vector<APMConditionalUserProperty>>
APMDatabase::triggeredConditionalUserPropertiesWithEventName(std::string_view eventName,
                                                             sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(
            eventName.size(), error, 1,
            "Received nil/empty event name for querying triggered conditional user properties")) {
        return std::nullopt;
    }
    return conditionalUserPropertiesWithCondition(
        "active=0 and trigger_event_name=? and abs(? - creation_timestamp) <= trigger_timeout",
        {eventName, APMCurrentTimeInterval()}, error);
}

std::optional<std::vector<APMConditionalUserProperty>>
APMDatabase::conditionalUserPropertiesWithPrefix(std::optional<std::string_view> prefix,
                                                 std::optional<std::string_view> origin,
                                                 sdk::Error* error) {
    // Both are compared literally: unescaped, "_" and "%" would match any character(s).
    std::string condition;
    APMSqliteParameters params;
    if (origin) {
        condition = "origin LIKE ? ESCAPE '\\'";
        params.emplace_back(likeLiteral(*origin));
    }
    if (prefix) {
        condition +=
            std::string(condition.empty() ? "" : " AND ") + "name LIKE ? || '%' ESCAPE '\\'";
        params.emplace_back(likeLiteral(*prefix));
    }
    return conditionalUserPropertiesWithCondition(condition.empty() ? "1 == 1" : condition, params,
                                                  error);
}

std::optional<std::vector<APMConditionalUserProperty>>
APMDatabase::conditionalUserPropertiesWithCondition(std::string_view condition,
                                                    const APMSqliteParameters& params,
                                                    sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(
            condition.size(), error, 1,
            "Received empty condition for querying a conditional user property")) {
        return std::nullopt;
    }
    return allOrNothing<APMConditionalUserProperty>(
        recordsForQuery(
            "SELECT rowid, * FROM conditional_properties WHERE " + std::string(condition), params,
            error),
        error, conditionalUserPropertyFromRecord);
}
