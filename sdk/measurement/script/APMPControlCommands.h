#pragma once

#include <memory>

#include "sdk/measurement/script/APMPControlValue.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

class APMPArrayValue;

// Pieces shared by the control and loop commands.

// True when `value` is a control value of `type`.
bool APMPIsControl(const APMPValueRef& value, APMPControlType type);

// Evaluates `argument` and requires an array value (else `kindError`). Null on an error.
std::shared_ptr<APMPArrayValue> APMPEvaluateArray(
    const APMPValueRef& argument, const APMPScopeRef& scope, sdk::Error& error,
    APMPErrorCode kindError = APMPErrorCode::kArgumentKind);

// Runs the elements of the statement list `list` (an array; holes run as undefined) in `scope`
// as executeStatements() does. A body that changes the array does not change the run: a list
// the caller holds the only reference to cannot change, so it runs in place; any other runs
// from a copy. Either way the copy is paid. REQUIRES: `list` is an array.
APMPValueRef APMPRunStatementList(const APMPValueRef& list, const APMPScopeRef& scope,
                                  sdk::Error& error);

// Switch ("38"): discriminant, case list and body list are evaluated first; the lists must be
// arrays (else error 9). The first case that strictly equals the discriminant starts a
// fall-through over that body and every later one; a body list one longer than the case list
// ends with the default body, run after the cases whether or not one matched. A break ends the
// switch with undefined; continue and return end it and are its result.
APMPValueRef APMPSwitchCommand(APMPArguments arguments, const APMPScopeRef& scope,
                               sdk::Error& error);

// Function literal ("51"): at least 2 arguments (else error 9): the name (arg 0's string, not
// evaluated), the parameter names (arg 1, evaluated, an array, else error 10) and the body
// (the rest, not evaluated). The function is defined in `scope` and tracked by its manager.
APMPValueRef APMPFunctionLiteralCommand(APMPArguments arguments, const APMPScopeRef& scope,
                                        sdk::Error& error);

// Function declaration ("50"): as "51", then assigns the function to its name in `scope`.
APMPValueRef APMPFunctionDeclarationCommand(APMPArguments arguments, const APMPScopeRef& scope,
                                            sdk::Error& error);
