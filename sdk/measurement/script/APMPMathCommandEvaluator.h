#pragma once

#include "sdk/measurement/script/APMPCommandEvaluator.h"

// The math commands, on evaluated arguments: "0" (add, or concatenate when either operand is
// a string, array, map or function), "37", "26", "10" (double arithmetic), "25" (fmod), "27"
// (negate) and the pass-through commands "32" to "35". Every arity is exact (else error 9).
class APMPMathCommandEvaluator : public APMPCommandEvaluator {
  public:
    APMPMathCommandEvaluator();
};
