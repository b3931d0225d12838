#pragma once

#include "sdk/measurement/script/APMPCommandEvaluator.h"

// The comparison commands, on evaluated arguments, each with exactly two (error 9, checked
// before anything is evaluated): loose ("12", "29") and strict ("20", "21") equality and the
// relations "23" (<), "24" (<=), "18" (>) and "19" (>=), all four false when NaN takes part.
class APMPComparisonCommandEvaluator : public APMPCommandEvaluator {
  public:
    APMPComparisonCommandEvaluator();

    APMPValueRef runHandler(Handler handler, const std::u16string& id, APMPArguments arguments,
                            const APMPScopeRef& scope, sdk::Error& error) const override;
};

// Three-way comparison of the relational commands: when both are strings, arrays, maps or
// functions their strings compare by UTF-16 code units; otherwise their numbers give -1 (x < y),
// 0 (equal) or 1 (greater, or either is NaN). A conversion error is stored in `error` (the
// answer is then 1).
int APMPCompareValues(const APMPRuntimeValue& x, const APMPRuntimeValue& y, sdk::Error& error);
