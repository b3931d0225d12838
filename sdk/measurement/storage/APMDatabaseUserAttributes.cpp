// The user properties: one row per name with its origin, plain value and last set time.
#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/storage/APMDatabase.h"

namespace {

constexpr const char* kUserAttributesTable = "user_attributes";

std::optional<APMUserAttribute> userAttributeFromRecord(const APMSqliteRecord& record,
                                                        sdk::Error* error) {
    const auto name = record.find("name");
    if (!APMCheckTrueOrSetError(!record.empty() && name != record.end() && name->second.isString(),
                                error, 3, "Received empty dictionary for getting user property")) {
        return std::nullopt;
    }
    const auto value = record.find("value");
    std::optional<APMValue> converted =
        APMValue::valueFromObject(value != record.end() ? &value->second : nullptr);
    if (!APMCheckTrueOrSetError(converted.has_value(), error, 2,
                                "Failed to convert user property value from database")) {
        return std::nullopt;
    }
    const auto origin = record.find("origin");
    const auto set = record.find("set_timestamp");
    std::optional<APMUserAttribute> attribute = APMUserAttribute::initWithOrigin(
        origin != record.end() && origin->second.isString() ? *origin->second.string() : "",
        *name->second.string(), std::move(*converted),
        set != record.end() ? set->second.numberAsDouble().value_or(0.0) : 0.0);
    APMCheckTrueOrSetError(attribute.has_value(), error, 2,
                           "Failed to convert user property from database");
    return attribute;
}

// Internal properties (names beginning with "_"), reserved prefixes and reserved names.
bool isInternalOrReserved(const std::string& name) {
    const auto& reserved = APMReservedUserPropertyNames();
    return !APMIsPublicName(name) || APMDataTypeValidator::hasReservedPrefixes(name) ||
           reserved.find(name) != reserved.end();
}

}  // namespace

std::optional<std::int64_t> APMDatabase::publicUserAttributeCount(sdk::Error* error) {
    std::optional<sdk::Value> count = numberForQuery(
        "SELECT count(1) FROM user_attributes WHERE name NOT LIKE '!_%' ESCAPE '!'", {}, error);
    return count ? count->numberAsInt() : std::nullopt;
}

std::optional<std::int64_t> APMDatabase::userAttributeCountForOrigin(std::string_view origin,
                                                                     sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(origin.size(), error, 1,
                                   "Received empty user property origin for count query")) {
        return std::nullopt;
    }
    std::optional<sdk::Value> count =
        numberForQuery("SELECT count(1) FROM user_attributes WHERE origin = ?", {origin}, error);
    return count ? count->numberAsInt() : std::nullopt;
}

std::optional<bool> APMDatabase::containsUserAttributeWithName(std::string_view name,
                                                               sdk::Error* error) {
    if (!APMCheckNonZeroOrSetError(name.size(), error, 1,
                                   "Received empty user property name for exists query")) {
        return std::nullopt;
    }
    return booleanForQuery("SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name = ? LIMIT 1)",
                           {name}, error);
}

std::optional<APMUserAttribute> APMDatabase::userAttributeWithName(std::string_view name,
                                                                   sdk::Error* error) {
    std::optional<std::vector<APMUserAttribute>> attributes =
        dataTypesFromTableWithName<APMUserAttribute>(kUserAttributesTable, "name", sdk::Value(name),
                                                     error, userAttributeFromRecord);
    if (!attributes || attributes->empty()) {
        return std::nullopt;
    }
    return std::move(attributes->front());
}

std::optional<std::vector<APMUserAttribute>> APMDatabase::allLifetimeValueUserAttributes(
    sdk::Error* error) {
    return allOrNothing<APMUserAttribute>(
        recordsForQuery("SELECT * FROM user_attributes WHERE name LIKE '!_ltv!_%' ESCAPE '!' "
                        "ORDER BY set_timestamp DESC",
                        {}, error),
        error, userAttributeFromRecord);
}

std::optional<std::vector<APMUserAttribute>> APMDatabase::userAttributesIncludingInternal(
    bool includeInternal, sdk::Error* error) {
    std::optional<std::vector<APMUserAttribute>> attributes =
        allDataTypesFromTableWithName<APMUserAttribute>(kUserAttributesTable, kMaxUserAttributes,
                                                        error, userAttributeFromRecord);
    if (attributes && !includeInternal) {
        std::erase_if(*attributes, [](const APMUserAttribute& attribute) {
            return isInternalOrReserved(attribute.name());
        });
    }
    return attributes;
}

bool APMDatabase::updateUserAttribute(const APMUserAttribute* attribute, sdk::Error* error) {
    if (!APMCheckNotNullOrSetError(
            attribute, error, 3,
            "Received empty user property for getting dictionary representation") ||
        !APMCheckNonZeroOrSetError(
            attribute->origin().size(), error, 3,
            "Received user property with empty origin for getting dictionary representation") ||
        !APMCheckNonZeroOrSetError(
            attribute->name().size(), error, 1,
            "Received user property with empty name for getting dictionary representation")) {
        return false;
    }
    const std::string* text = attribute->value().stringValue();
    if (!APMCheckTrueOrSetError(text == nullptr || !text->empty(), error, 1,
                                "Received empty string value for user property")) {
        return false;
    }
    const APMSqliteRecord record = {{"origin", attribute->origin()},
                                    {"name", attribute->name()},
                                    {"value", plainValue(attribute->value())},
                                    {"set_timestamp", attribute->lastSetTimestamp()}};
    return upsertDataType(record, kUserAttributesTable, "name", sdk::Value(attribute->name()),
                          kMaxUserAttributes, error);
}

bool APMDatabase::deleteUserAttributeWithName(std::string_view name, sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    return store != nullptr && store->deleteRecordFromTableWithName(kUserAttributesTable, "name",
                                                                    sdk::Value(name), error);
}
