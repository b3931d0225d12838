#include "sdk/measurement/audiences/APMAudienceValidation.h"

#include <memory>
#include <string>
#include <vector>

#include "sdk/measurement/audiences/APMNumberFilterEvaluation.h"
#include "sdk/measurement/audiences/APMRepeatedMessages.h"
#include "sdk/measurement/audiences/APMStringFilterEvaluation.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

constexpr std::int64_t kAudienceError = 9;
constexpr std::int64_t kEventFilterError = 10;
constexpr std::int64_t kPropertyFilterError = 11;

bool fail(sdk::Error* error, std::int64_t code, const char* description) {
    APMSetErrorWithCode(error, code, description);
    return false;
}

bool hasText(const NANOMessageBase& message, std::int32_t slot) {
    const std::optional<std::string> text = APMPBGetString(&message, slot);
    return text && !text->empty();
}

// The filter ID checks event and property filters share; the ID joins `usedIDs` when it
// passes. `messages`: missing, out of range, duplicate.
bool checkFilterID(const NANOMessageBase& filter, std::int32_t slot,
                   const APMAudienceLimits& limits, std::set<std::int32_t>& usedIDs,
                   std::int64_t code, const char* const (&messages)[3], sdk::Error* error) {
    if (!APMPBHasField(&filter, slot)) {
        return fail(error, code, messages[0]);
    }
    const auto filterID = static_cast<std::int32_t>(APMPBGetInt32(&filter, slot));
    if (filterID < 0 || filterID >= limits.maxFiltersPerAudience) {
        return fail(error, code, messages[1]);
    }
    if (!usedIDs.insert(filterID).second) {
        return fail(error, code, messages[2]);
    }
    return true;
}

bool checkParameterFilter(const APMPBFilter& filter, sdk::Error* error) {
    namespace slot = apmpb::Filter;
    if (!hasText(filter, slot::kParamName)) {
        return fail(error, kEventFilterError, "Event filter missing parameter name");
    }
    const auto number = APMPBGetMessage<APMPBNumberFilter>(&filter, slot::kNumberFilter);
    const auto string = APMPBGetMessage<APMPBStringFilter>(&filter, slot::kStringFilter);
    if (static_cast<bool>(number) == static_cast<bool>(string)) {
        return fail(error, kEventFilterError,
                    "Event filter must have exactly one of number or string filter");
    }
    if (number && !APMIsValidNumberFilter(*number)) {
        return fail(error, kEventFilterError, "Event filter has invalid number filter");
    }
    if (string && !APMIsValidStringFilter(*string)) {
        return fail(error, kEventFilterError, "Event filter has invalid string filter");
    }
    return true;
}

bool checkEventFilter(const APMPBEventFilter& filter, const APMAudienceLimits& limits,
                      std::set<std::int32_t>& usedIDs, sdk::Error* error) {
    namespace slot = apmpb::EventFilter;
    static const char* const kIDMessages[3] = {
        "Missing event filter ID", "Event filter ID is out of range", "Duplicate event filter ID"};
    if (!hasText(filter, slot::kEventName)) {
        return fail(error, kEventFilterError, "Event filter missing event name");
    }
    if (!checkFilterID(filter, slot::kFilterId, limits, usedIDs, kEventFilterError, kIDMessages,
                       error)) {
        return false;
    }
    if (const auto count = APMPBGetMessage<APMPBNumberFilter>(&filter, slot::kEventCountFilter)) {
        if (APMPBGetBool(count.get(), apmpb::NumberFilter::kMatchAsFloat)) {
            return fail(error, kEventFilterError, "Event filter has float event count filter");
        }
        if (!APMIsValidNumberFilter(*count)) {
            return fail(error, kEventFilterError, "Event filter has invalid event count filter");
        }
    }
    const auto parameters = APMRepeatedMessagesOf<APMPBFilter>(&filter, slot::kFilters);
    if (parameters.size() > static_cast<std::size_t>(std::max(limits.maxParametersPerFilter, 0))) {
        return fail(error, kEventFilterError, "Event filter parameters filters count out of range");
    }
    for (const auto& parameter : parameters) {
        if (!checkParameterFilter(*parameter, error)) {
            return false;
        }
    }
    return true;
}

bool checkPropertyFilter(const APMPBPropertyFilter& filter, const APMAudienceLimits& limits,
                         std::set<std::int32_t>& usedIDs, sdk::Error* error) {
    namespace slot = apmpb::PropertyFilter;
    static const char* const kIDMessages[3] = {"Missing property filter ID",
                                               "Property filter ID is out of range",
                                               "Duplicate property filter ID"};
    if (!hasText(filter, slot::kPropertyName)) {
        return fail(error, kPropertyFilterError, "Property filter missing property name");
    }
    if (!checkFilterID(filter, slot::kFilterId, limits, usedIDs, kPropertyFilterError, kIDMessages,
                       error)) {
        return false;
    }
    const auto inner = APMPBGetMessage<APMPBFilter>(&filter, slot::kFilter);
    if (!inner) {
        return fail(error, kPropertyFilterError, "Property filter has no filter");
    }
    const auto number =
        APMPBGetMessage<APMPBNumberFilter>(inner.get(), apmpb::Filter::kNumberFilter);
    const auto string =
        APMPBGetMessage<APMPBStringFilter>(inner.get(), apmpb::Filter::kStringFilter);
    if (static_cast<bool>(number) == static_cast<bool>(string) ||
        (number && !APMIsValidNumberFilter(*number))) {
        return fail(error, kPropertyFilterError,
                    "Property filter must have exactly one of number or string filter");
    }
    if (string && !APMIsValidStringFilter(*string)) {
        return fail(error, kPropertyFilterError, "Property filter has invalid string filter");
    }
    return true;
}

bool checkAudience(const APMPBAudience& audience, const std::set<std::int32_t>& acceptedIDs,
                   std::size_t filterCount, const APMAudienceLimits& limits, sdk::Error* error) {
    namespace slot = apmpb::Audience;
    if (!APMPBHasField(&audience, slot::kAudienceId)) {
        return fail(error, kAudienceError, "Missing audience ID");
    }
    const auto audienceID = static_cast<std::int32_t>(APMPBGetInt32(&audience, slot::kAudienceId));
    if (audienceID < 0) {
        return fail(error, kAudienceError, "Audience ID is negative");
    }
    if (acceptedIDs.contains(audienceID)) {
        return fail(error, kAudienceError, "Duplicate audience ID");
    }
    if (filterCount == 0) {
        // Repeated fields on the wire cannot tell an empty list from none.
        return fail(error, kAudienceError, "Audience missing filters arrays");
    }
    if (filterCount > static_cast<std::size_t>(std::max(limits.maxFiltersPerAudience, 0))) {
        return fail(error, kAudienceError, "Audience filter count out of range");
    }
    return true;
}

}  // namespace

bool APMValidateAudience(const APMPBAudience& audience, const std::set<std::int32_t>& acceptedIDs,
                         const APMAudienceLimits& limits, sdk::Error* error) {
    namespace slot = apmpb::Audience;
    const auto eventFilters =
        APMRepeatedMessagesOf<APMPBEventFilter>(&audience, slot::kEventFilters);
    const auto propertyFilters =
        APMRepeatedMessagesOf<APMPBPropertyFilter>(&audience, slot::kPropertyFilters);
    if (!checkAudience(audience, acceptedIDs, eventFilters.size() + propertyFilters.size(), limits,
                       error)) {
        return false;
    }
    std::set<std::int32_t> usedIDs;
    for (const auto& filter : eventFilters) {
        if (!checkEventFilter(*filter, limits, usedIDs, error)) {
            return false;
        }
    }
    for (const auto& filter : propertyFilters) {
        if (!checkPropertyFilter(*filter, limits, usedIDs, error)) {
            return false;
        }
    }
    return true;
}
