#pragma once

#include "sdk/measurement/script/APMPFunctionValue.h"

// The module "internal.platform": a function value whose property "getVersion" holds an
// APMPFunctionGetVersion. Calling the module itself gives undefined.
class APMPRuntimePlatform : public APMPFunctionValue {
  public:
    APMPRuntimePlatform();

    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;
};

// "getVersion": the runtime version as a number; arguments are not evaluated.
class APMPFunctionGetVersion : public APMPFunctionValue {
  public:
    APMPFunctionGetVersion();

    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;
};
