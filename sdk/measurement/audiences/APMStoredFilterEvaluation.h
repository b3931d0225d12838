#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sdk/measurement/engine/APMEventAggregates.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/APMValue.h"
#include "sdk/measurement/storage/APMEventFilter.h"
#include "sdk/measurement/storage/APMPropertyFilter.h"

// Running stored filters and keeping their results. Pure functions; worker queue.

// The stored filter's encoded EventFilter decoded and evaluated against the event (as
// APMEvaluateEventFilter, under the record's event name). No value, logging 6035 (level 1;
// contexts: event name, filter ID, audience ID, dynamic flag), when the data is empty or does
// not decode.
std::optional<bool> APMEvaluateStoredEventFilter(const APMEventFilter& filter,
                                                 const APMParameters& parameters,
                                                 const APMEventAggregates* aggregates);

// The stored filter's encoded PropertyFilter decoded and evaluated against `attribute` (6036
// as above when it does not decode). When the filter was true and the answer is not true, a
// dynamic, sequence or session-scoped filter gives that answer and a static one gives no value
// (its result does not change).
std::optional<bool> APMEvaluateStoredPropertyFilter(bool wasTrue, const APMPropertyFilter& filter,
                                                    const APMUserAttribute& attribute);

// False only for a filter that is already true and neither dynamic, sequence nor
// session-scoped: such a result is final until the session-scoped results are cleared.
template <class Filter>
bool APMShouldEvaluateFilter(bool wasTrue, const Filter& filter) {
    return !wasTrue || filter.isDynamic() || filter.isSequence() || filter.isSessionScoped();
}

// Whether a property filter's new result replaces the old one: a true result always, a false
// one only for a dynamic filter that is not session-scoped.
bool APMShouldTakePropertyResult(bool result, const APMPropertyFilter& filter);

// Result bits: filter ID f is bit f % 64 of word f / 64 (valid IDs are never negative).
inline std::int32_t APMFilterResultWordIndex(std::int32_t filterID) {
    return filterID / 64;
}
inline std::int32_t APMFilterResultBitIndex(std::int32_t filterID) {
    return filterID % 64;
}
// True when any word is not zero.
bool APMHasAnyBitSet(const std::vector<std::uint64_t>& words);
