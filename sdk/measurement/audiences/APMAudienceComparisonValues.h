#pragma once

#include <optional>

#include "sdk/measurement/engine/APMDecimalNumber.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// The exact bounds of one number filter: the comparison value for "less than", "greater than"
// and "equal", the minimum and maximum for "between". A plain value.
struct APMAudienceComparisonValues {
    bool valid = true;
    std::optional<APMDecimalNumber> comparisonValue;
    std::optional<APMDecimalNumber> maxComparisonValue;
    std::optional<APMDecimalNumber> minComparisonValue;

    bool isValid() const { return valid; }

    // The bounds `filter`'s comparison type needs, each read with APMDecimalNumberFromString.
    // A missing or inexact bound clears `valid` and logs (level 1) 8001 or 8002 for the
    // comparison value, 8003 when "between" lacks a bound, 8004 or 8005 for an inexact minimum
    // or maximum. Another comparison type gives a valid record without bounds.
    static APMAudienceComparisonValues fromNumberFilter(const APMPBNumberFilter& filter);
};
