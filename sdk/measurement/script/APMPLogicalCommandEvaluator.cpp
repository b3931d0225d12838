#include "sdk/measurement/script/APMPLogicalCommandEvaluator.h"

#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPIntegers.h"

namespace {

// "1" and "30": the first operand decides when its boolean equals `decidesWhen`; otherwise
// the second operand is evaluated and returned.
APMPValueRef shortCircuit(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error,
                          bool decidesWhen) {
    if (!APMPCheckArgumentCountEquals(arguments, 2, error)) {
        return APMPUndefined();
    }
    APMPValueRef first = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    const bool truth = error.ok() && first->booleanValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (truth == decidesWhen) {
        return first;
    }
    return APMPEvaluator::evaluateStatement(arguments[1], scope, error);
}

APMPValueRef logicalAnd(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    return shortCircuit(arguments, scope, error, false);
}

APMPValueRef logicalOr(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    return shortCircuit(arguments, scope, error, true);
}

APMPValueRef logicalNot(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 1, error)) {
        return APMPUndefined();
    }
    const APMPValueRef value = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    const bool truth = error.ok() && value->booleanValueOrError(error);
    return APMPBoolean(!truth);
}

}  // namespace

APMPLogicalCommandEvaluator::APMPLogicalCommandEvaluator() : APMPCommandEvaluator(Arguments::kRaw) {
    addHandler(u"1", logicalAnd);
    addHandler(u"30", logicalOr);
    addHandler(u"28", logicalNot);
}
