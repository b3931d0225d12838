#include "sdk/measurement/audiences/APMFilterEvaluation.h"

#include <cmath>

#include "sdk/measurement/audiences/APMAudienceLog.h"
#include "sdk/measurement/audiences/APMFilterDescription.h"
#include "sdk/measurement/audiences/APMNumberFilterEvaluation.h"
#include "sdk/measurement/audiences/APMRepeatedMessages.h"
#include "sdk/measurement/audiences/APMStringFilterEvaluation.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

std::optional<bool> numberFilterValue(const APMPBFilter& filter, const APMPBNumberFilter& number,
                                      const APMValue& value) {
    if (const std::string* text = value.stringValue()) {
        if (!APMIsDecimalNumberString(*text)) {
            return APMAudienceNoResult(3, 7001,
                                       "String value is not a numeric value. Audience filter "
                                       "will not be evaluated. Value, filter",
                                       *text, APMDescribeFilter(filter));
        }
        const std::optional<APMDecimalNumber> decimal = APMDecimalNumberFromString(*text);
        return decimal ? APMEvaluateNumberFilterDecimal(number, *decimal) : std::nullopt;
    }
    if (value.isDouble()) {
        if (!std::isfinite(value.doubleValue())) {
            return APMAudienceNoResult(
                3, 7002, "Value is not within double range. Audience filter will not be evaluated");
        }
        return APMEvaluateNumberFilterDouble(number, value.doubleValue());
    }
    if (value.isInt64()) {
        return APMEvaluateNumberFilterInt64(number, value.int64Value());
    }
    return std::nullopt;
}

std::optional<bool> countFilter(const APMPBEventFilter& filter, std::string_view eventName,
                                const APMEventAggregates* aggregates) {
    namespace slot = apmpb::EventFilter;
    if (aggregates == nullptr || aggregates->name() != eventName) {
        return APMAudienceNoResult(1, 7007,
                                   "Event aggregates name does not match event name. Audience "
                                   "filter will not be evaluated");
    }
    const auto count = APMPBGetMessage<APMPBNumberFilter>(&filter, slot::kEventCountFilter);
    const std::int32_t value = APMPBGetBool(&filter, slot::kSessionScoped)
                                   ? aggregates->currentSessionCount()
                                   : aggregates->lifetimeCount();
    return APMEvaluateNumberFilterInt64(*count, value);
}

std::optional<bool> parameterFilter(const APMPBFilter& filter, std::string_view eventName,
                                    const APMParameters& parameters) {
    const std::optional<std::string> name = APMPBGetString(&filter, apmpb::Filter::kParamName);
    if (!name) {
        return APMAudienceNoResult(1, 7008,
                                   "Event filter does not have parameter name. Audience filter "
                                   "will not be evaluated");
    }
    const auto parameter = parameters.find(*name);
    if (parameter == parameters.end()) {
        return APMAudienceNoResult(3, 7009,
                                   "Event does not have parameter required by filter. Audience "
                                   "filter will not be evaluated");
    }
    if (parameter->second.isString() && !APMPBHasField(&filter, apmpb::Filter::kStringFilter)) {
        return APMAudienceNoResult(
            3, 7010,
            "Event param is a string and the filter does not have a string filter. Audience "
            "filter will not be evaluated. Event name, event params, filter",
            eventName, APMDescribeParameters(parameters), APMDescribeFilter(filter));
    }
    return APMEvaluateFilterValue(filter, parameter->second);
}

}  // namespace

std::optional<bool> APMEvaluateFilterValue(const APMPBFilter& filter, const APMValue& value) {
    namespace slot = apmpb::Filter;
    std::optional<bool> result;
    if (const auto number = APMPBGetMessage<APMPBNumberFilter>(&filter, slot::kNumberFilter)) {
        result = numberFilterValue(filter, *number, value);
    } else if (const auto string =
                   APMPBGetMessage<APMPBStringFilter>(&filter, slot::kStringFilter)) {
        if (!value.isString()) {
            return APMAudienceNoResult(
                3, 7003, "Value is not a string. Audience filter will not be evaluated");
        }
        result = APMEvaluateStringFilter(*string, *value.stringValue());
    } else {
        return APMAudienceNoResult(1, 7000,
                                   "Filter has neither a number nor string filter. Audience "
                                   "filter will not be evaluated");
    }
    if (result && APMPBGetBool(&filter, slot::kComplement)) {
        return !*result;
    }
    return result;
}

std::optional<bool> APMEvaluateEventFilter(const APMPBEventFilter* filter,
                                           std::string_view eventName,
                                           const APMParameters& parameters,
                                           const APMEventAggregates* aggregates) {
    namespace slot = apmpb::EventFilter;
    if (filter == nullptr) {
        return APMAudienceNoResult(1, 7004,
                                   "Event filter is nil. Audience filter will not be evaluated");
    }
    if (eventName.empty()) {
        return APMAudienceNoResult(1, 7005,
                                   "Event name is nil. Audience filter will not be evaluated");
    }
    if (APMPBGetString(filter, slot::kEventName) != eventName) {
        return APMAudienceNoResult(1, 7006,
                                   "Event filter name does not match event name. Audience "
                                   "filter will not be evaluated");
    }
    if (APMPBHasField(filter, slot::kEventCountFilter)) {
        const std::optional<bool> counted = countFilter(*filter, eventName, aggregates);
        if (counted != true) {
            return counted;
        }
    }
    for (const auto& parameter : APMRepeatedMessagesOf<APMPBFilter>(filter, slot::kFilters)) {
        const std::optional<bool> result = parameterFilter(*parameter, eventName, parameters);
        if (result != true) {
            return result;
        }
    }
    return true;
}

std::optional<bool> APMEvaluatePropertyFilter(const APMPBPropertyFilter* filter,
                                              const APMUserAttribute* attribute) {
    namespace slot = apmpb::PropertyFilter;
    if (filter == nullptr) {
        return APMAudienceNoResult(1, 7011,
                                   "Property filter is nil. Audience filter will not be evaluated");
    }
    if (attribute == nullptr) {
        return APMAudienceNoResult(1, 7012,
                                   "User property is nil. Audience filter will not be evaluated");
    }
    if (APMPBGetString(filter, slot::kPropertyName) != attribute->name()) {
        return APMAudienceNoResult(1, 7013,
                                   "User property name does not match property filter name. "
                                   "Audience filter will not be evaluated");
    }
    const auto inner = APMPBGetMessage<APMPBFilter>(filter, slot::kFilter);
    if (!inner) {
        return APMAudienceNoResult(
            1, 7014, "Property filter does not have filter. Audience filter will not be evaluated");
    }
    if (attribute->value().isArray()) {
        return APMAudienceNoResult(
            1, 7015,
            "Unknown user property type. Audience filter will not be evaluated. Property Name",
            attribute->name());
    }
    return APMEvaluateFilterValue(*inner, attribute->value());
}
