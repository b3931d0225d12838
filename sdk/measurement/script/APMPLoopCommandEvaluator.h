#pragma once

#include "sdk/measurement/script/APMPCommandEvaluator.h"

// The loop commands, on raw arguments, each with an exact count (else error 9): for-in over
// keys ("47" assigns an existing variable, "54" a constant per iteration, "55" a variable per
// iteration), for-of over values ("64", "65", "66" likewise), the counted loop "63" with
// per-iteration copies of its variables, and the while loop "42".
//
// A body is a statement list. An error ends the loop with undefined; break ends it with
// undefined; a return ends it and is its result; continue and normal completion go on. Keys
// and values are taken once, before the first iteration, so a body that changes its subject
// does not change the walk. Every iteration evaluates at least one value, so the instruction
// budget ends any endless loop with error 18.
class APMPLoopCommandEvaluator : public APMPCommandEvaluator {
  public:
    APMPLoopCommandEvaluator();
};
