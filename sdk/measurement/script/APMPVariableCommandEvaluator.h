#pragma once

#include "sdk/measurement/script/APMPCommandEvaluator.h"

// The variable commands, on evaluated arguments: declarations "41" (let) and "52" (constants),
// assignment "3" (only to a declared name, else error 2), reads "15", property reads "16" and
// "17", property write "43", literals "7" (array), "8" (map), "44" (undefined), "45" (null),
// and the type name "40".
class APMPVariableCommandEvaluator : public APMPCommandEvaluator {
  public:
    APMPVariableCommandEvaluator();
};

// The property `key` of `target` ("16", "17"): arrays, maps and functions read their own; a
// string answers "length" (in UTF-16 units) and an index below its length (the one-unit
// string there); anything else is undefined, without an error.
APMPValueRef APMPReadProperty(const APMPValueRef& target, const APMPRuntimeValue& key,
                              const APMPScope& scope, sdk::Error& error);
