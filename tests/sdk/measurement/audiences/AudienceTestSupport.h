#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// Builders of audience filter messages for tests. An absent optional leaves the field unset.
namespace audiencetest {

inline APMPBNumberFilter numberFilter(std::optional<std::uint32_t> type,
                                      std::optional<std::string> value,
                                      std::optional<std::string> minimum = std::nullopt,
                                      std::optional<std::string> maximum = std::nullopt) {
    namespace slot = apmpb::NumberFilter;
    APMPBNumberFilter filter;
    if (type) {
        APMPBSetInt32(&filter, slot::kComparisonType, *type);
    }
    APMPBSetString(&filter, slot::kComparisonValue, value);
    APMPBSetString(&filter, slot::kMinComparisonValue, minimum);
    APMPBSetString(&filter, slot::kMaxComparisonValue, maximum);
    return filter;
}

inline APMPBStringFilter stringFilter(std::optional<std::uint32_t> type,
                                      std::optional<std::string> expression,
                                      std::optional<bool> caseSensitive = std::nullopt,
                                      std::vector<std::string> list = {}) {
    namespace slot = apmpb::StringFilter;
    APMPBStringFilter filter;
    if (type) {
        APMPBSetInt32(&filter, slot::kMatchType, *type);
    }
    APMPBSetString(&filter, slot::kExpression, expression);
    if (caseSensitive) {
        APMPBSetBool(&filter, slot::kCaseSensitive, *caseSensitive);
    }
    APMPBRepeatedArray entries;
    for (const std::string& entry : list) {
        entries.emplace_back(sdk::Value(entry));
    }
    APMPBSetRepeated(&filter, slot::kExpressionList, entries);
    return filter;
}

inline APMPBFilter filterWith(const APMPBNumberFilter* number, const APMPBStringFilter* string,
                              std::optional<std::string> parameterName = std::nullopt,
                              bool complement = false) {
    namespace slot = apmpb::Filter;
    APMPBFilter filter;
    APMPBSetMessage(&filter, slot::kNumberFilter, number);
    APMPBSetMessage(&filter, slot::kStringFilter, string);
    APMPBSetString(&filter, slot::kParamName, parameterName);
    if (complement) {
        APMPBSetBool(&filter, slot::kComplement, true);
    }
    return filter;
}

inline APMPBFilter numberFilterOf(const APMPBNumberFilter& number,
                                  std::optional<std::string> parameterName = std::nullopt) {
    return filterWith(&number, nullptr, std::move(parameterName));
}

inline APMPBFilter stringFilterOf(const APMPBStringFilter& string,
                                  std::optional<std::string> parameterName = std::nullopt) {
    return filterWith(nullptr, &string, std::move(parameterName));
}

// An event filter for `eventName` with an ID, parameter filters and optionally a count filter.
inline APMPBEventFilter eventFilter(std::optional<std::int32_t> filterID,
                                    std::optional<std::string> eventName,
                                    std::vector<APMPBFilter> parameters = {},
                                    const APMPBNumberFilter* count = nullptr,
                                    bool sessionScoped = false) {
    namespace slot = apmpb::EventFilter;
    APMPBEventFilter filter;
    if (filterID) {
        APMPBSetInt32(&filter, slot::kFilterId, static_cast<std::uint32_t>(*filterID));
    }
    APMPBSetString(&filter, slot::kEventName, eventName);
    APMPBRepeatedArray elements;
    for (const APMPBFilter& parameter : parameters) {
        elements.emplace_back(std::make_shared<APMPBFilter>(parameter));
    }
    APMPBSetRepeated(&filter, slot::kFilters, elements);
    APMPBSetMessage(&filter, slot::kEventCountFilter, count);
    if (sessionScoped) {
        APMPBSetBool(&filter, slot::kSessionScoped, true);
    }
    return filter;
}

inline APMPBPropertyFilter propertyFilter(std::optional<std::int32_t> filterID,
                                          std::optional<std::string> propertyName,
                                          const APMPBFilter* filter) {
    namespace slot = apmpb::PropertyFilter;
    APMPBPropertyFilter property;
    if (filterID) {
        APMPBSetInt32(&property, slot::kFilterId, static_cast<std::uint32_t>(*filterID));
    }
    APMPBSetString(&property, slot::kPropertyName, propertyName);
    APMPBSetMessage(&property, slot::kFilter, filter);
    return property;
}

}  // namespace audiencetest
