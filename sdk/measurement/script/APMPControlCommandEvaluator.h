#pragma once

#include "sdk/measurement/script/APMPCommandEvaluator.h"

// The control commands, on raw arguments (each handler evaluates what it needs, in order):
// method call "2", block "53", break "4", continue "6", statement lists "5" and "9", sequence
// "13", if "22", conditional "39", switch "38", return "36", statement list literal "46",
// function literal "51" and declaration "50".
//
// Break, continue and return travel outward as control values: a statement list stops at the
// first one, loops consume break and continue, and a function call unwraps a return.
class APMPControlCommandEvaluator : public APMPCommandEvaluator {
  public:
    APMPControlCommandEvaluator();
};
