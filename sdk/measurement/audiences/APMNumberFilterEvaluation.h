#pragma once

#include <cstdint>
#include <optional>

#include "sdk/measurement/engine/APMDecimalNumber.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// The number tests of audience filters. Comparison types: 1 less than, 2 greater than, 3 equal,
// 4 between (both bounds inclusive). A result is true or false, or no value when the filter
// cannot be evaluated; every "no value" has been logged through the engine's monitor. Bounds
// are decimal strings ("+7", ".5", "1."). Pure functions; any thread.

// Whether `filter` can be evaluated: a comparison type of 1-4 and, for it, decimal-string
// bounds. Logs (level 1) 8006 without a type, 8007 for type 0, 8011 above 4, 8008 for a bad
// comparison value, and 8009 and 8010 for a bad minimum and maximum (both when both are bad).
// A minimum above the maximum is valid (it never matches).
bool APMIsValidNumberFilter(const APMPBNumberFilter& filter);

// `value` against the bounds read as doubles. "Equal" holds within one representable step of
// the comparison value on either side (so 0.1 + 0.2 equals 0.3). No value for an invalid
// filter, or with 8012 when a bound is not a finite double.
std::optional<bool> APMEvaluateNumberFilterDouble(const APMPBNumberFilter& filter, double value);

// `value` against the exact decimal bounds (APMAudienceComparisonValues). No value for an
// invalid filter, or with 8015 when a bound has no exact decimal value (a 40-digit bound, say).
std::optional<bool> APMEvaluateNumberFilterDecimal(const APMPBNumberFilter& filter,
                                                   const APMDecimalNumber& value);

// The exact decimal value of `value` against the filter, as APMEvaluateNumberFilterDecimal
// (integers beyond 2^53 compare exactly).
std::optional<bool> APMEvaluateNumberFilterInt64(const APMPBNumberFilter& filter,
                                                 std::int64_t value);
