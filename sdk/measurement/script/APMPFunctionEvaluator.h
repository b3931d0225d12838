#pragma once

#include "sdk/measurement/script/APMPCommandEvaluator.h"

// The fallback for statements whose name is no command id: the name is looked up as a variable
// at every evaluation; a function is invoked with the raw arguments in the current scope, and
// anything else yields undefined without an error.
class APMPFunctionEvaluator : public APMPCommandEvaluator {
  public:
    APMPFunctionEvaluator() : APMPCommandEvaluator(Arguments::kRaw) {}

    // `handler` is unused: the name is looked up in `scope`.
    APMPValueRef runHandler(Handler handler, const std::u16string& name, APMPArguments arguments,
                            const APMPScopeRef& scope, sdk::Error& error) const override;
};
