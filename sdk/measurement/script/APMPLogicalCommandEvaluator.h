#pragma once

#include "sdk/measurement/script/APMPCommandEvaluator.h"

// The logical commands, on raw arguments evaluated lazily: "1" (and) and "30" (or) yield an
// operand, not a boolean, and evaluate their second operand only when the first does not
// decide; "28" is the negation of its operand's boolean.
class APMPLogicalCommandEvaluator : public APMPCommandEvaluator {
  public:
    APMPLogicalCommandEvaluator();
};
