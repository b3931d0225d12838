#include "sdk/measurement/script/APMPFunctionEvaluator.h"

#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPScope.h"

APMPValueRef APMPFunctionEvaluator::runHandler(Handler handler, const std::u16string& name,
                                               APMPArguments arguments, const APMPScopeRef& scope,
                                               sdk::Error& error) const {
    (void)handler;
    // A copy: the call may reassign the name, and the function must outlive its own call.
    const APMPValueRef callee = scope->valueForName(name);
    if (callee->kind() != APMPValueKind::kFunction) {
        return APMPUndefined();
    }
    return static_cast<APMPFunctionValue&>(*callee).invokeWithArguments(arguments, scope, error);
}
