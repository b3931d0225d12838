#include "sdk/measurement/audiences/APMStoredFilterEvaluation.h"

#include <algorithm>
#include <memory>

#include "sdk/measurement/audiences/APMAudienceLog.h"
#include "sdk/measurement/audiences/APMFilterEvaluation.h"
#include "sdk/measurement/messages/APMPBMessages.h"

namespace {

template <class Message>
std::unique_ptr<Message> decoded(const sdk::Bytes& data) {
    return data.empty() ? nullptr : Message::initWithBuffer(data);
}

}  // namespace

std::optional<bool> APMEvaluateStoredEventFilter(const APMEventFilter& filter,
                                                 const APMParameters& parameters,
                                                 const APMEventAggregates* aggregates) {
    const auto message = decoded<APMPBEventFilter>(filter.data());
    if (!message) {
        return APMAudienceNoResult(1, 6035,
                                   "Event filter contains no data or corrupt data. Event will not "
                                   "be evaluated. Event name, filter ID, audience ID, dynamic",
                                   filter.eventName(), filter.filterID(), filter.audienceID(),
                                   filter.isDynamic());
    }
    return APMEvaluateEventFilter(message.get(), filter.eventName(), parameters, aggregates);
}

std::optional<bool> APMEvaluateStoredPropertyFilter(bool wasTrue, const APMPropertyFilter& filter,
                                                    const APMUserAttribute& attribute) {
    const auto message = decoded<APMPBPropertyFilter>(filter.data());
    if (!message) {
        return APMAudienceNoResult(
            1, 6036,
            "User property filter contains no data or corrupt data. User property will not be "
            "evaluated. User property name, filter ID, audience ID, dynamic",
            filter.propertyName(), filter.filterID(), filter.audienceID(), filter.isDynamic());
    }
    const std::optional<bool> result = APMEvaluatePropertyFilter(message.get(), &attribute);
    if (wasTrue && result != true && !filter.isDynamic() && !filter.isSequence() &&
        !filter.isSessionScoped()) {
        return std::nullopt;
    }
    return result;
}

bool APMShouldTakePropertyResult(bool result, const APMPropertyFilter& filter) {
    return result || (filter.isDynamic() && !filter.isSessionScoped());
}

bool APMHasAnyBitSet(const std::vector<std::uint64_t>& words) {
    return std::any_of(words.begin(), words.end(), [](std::uint64_t word) { return word != 0; });
}
