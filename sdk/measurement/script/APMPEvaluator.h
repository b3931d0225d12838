#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "sdk/measurement/script/APMPRuntimeValue.h"

// Evaluation of program values. Every evaluation pays one instruction step from the budget of
// the scope's runtime and holds one nesting level while it runs, so neither a long loop nor
// runaway recursion outlasts the budget (error 18).
class APMPEvaluator {
  public:
    // Evaluates `value` in `scope`: a statement runs the command its name registers (see
    // APMPCommandRegistrar) or else calls the function the name resolves to in the scope with
    // the raw arguments (a name that is no function gives undefined); any other value is
    // itself. Error 18 when the budget is spent, the nesting is too deep, or the
    // scope belongs to no runtime (then there is no budget to pay from).
    static APMPValueRef evaluateStatement(const APMPValueRef& value, const APMPScopeRef& scope,
                                          sdk::Error& error);

    // Evaluates `statements` in order in `scope`. Stops at the first error (undefined) or the
    // first control value (returned); else the last value (undefined for none).
    static APMPValueRef executeStatements(std::span<const APMPValueRef> statements,
                                          const APMPScopeRef& scope, sdk::Error& error);
};

// Evaluates each of `arguments` in order into a new list; stops at the first error (then the
// list is empty).
APMPValueList APMPEvaluateArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                    sdk::Error& error);

// Checks that `arguments` has exactly `count` elements (else error 9) and evaluates them as
// APMPEvaluateArguments(); none when either fails.
std::optional<APMPValueList> APMPEvaluateExactly(APMPArguments arguments, std::size_t count,
                                                 const APMPScopeRef& scope, sdk::Error& error);

// One instruction step from the budget of `scope`'s runtime: error 18 when the budget is
// spent or the scope belongs to no runtime.
sdk::Error APMPCountInstruction(const APMPScope& scope);
