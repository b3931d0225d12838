#pragma once

#include <optional>
#include <string_view>

#include "sdk/measurement/engine/APMEventAggregates.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/APMValue.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// The leaf tests of audience evaluation: an event, a user property or one value against one
// filter. Each answers true, false, or no value when it cannot be evaluated (the caller then
// leaves the audience as it is); every "no value" is logged through the engine's monitor with
// its code. Pure functions; called on the worker queue.

// `value` against `filter`. A number filter wins over a string filter: a decimal-string value
// is compared exactly (7001 when the string is not a number), a double must be finite (7002),
// an int64 is compared exactly, an array never. A string filter takes only strings (7003).
// Neither filter: 7000. A complemented filter inverts true and false; no value stays no value.
std::optional<bool> APMEvaluateFilterValue(const APMPBFilter& filter, const APMValue& value);

// The event `eventName` with `parameters` and its running counts against `filter`. No value
// for no filter (7004), no event name (7005), a filter for another event (7006), counts of
// another event when the filter counts (7007), a parameter filter without a name (7008), an
// event without that parameter (7009), or a string parameter under a filter without a string
// filter (7010). A filter with neither a count filter nor parameter filters matches every
// event of its name. The count is the current session's for a session-scoped filter, else the
// lifetime count. The first result that is not true is the answer.
std::optional<bool> APMEvaluateEventFilter(const APMPBEventFilter* filter,
                                           std::string_view eventName,
                                           const APMParameters& parameters,
                                           const APMEventAggregates* aggregates);

// The user property `attribute` against `filter`: no value for no filter (7011), no attribute
// (7012), a filter of another property (7013), a filter without a Filter (7014) or an array
// value (7015). A numeric string value can meet a number filter.
std::optional<bool> APMEvaluatePropertyFilter(const APMPBPropertyFilter* filter,
                                              const APMUserAttribute* attribute);
