#pragma once

#include "sdk/measurement/script/APMPCommandEvaluator.h"

// The bitwise commands ("56" to "62"), on evaluated arguments: each operand's number is
// brought to 32 bits (APMPToInt32, or APMPToUint32 for the unsigned shift and shift counts,
// which are masked with 31) and the 32-bit result becomes a number.
class APMPBitwiseCommandEvaluator : public APMPCommandEvaluator {
  public:
    APMPBitwiseCommandEvaluator();
};
