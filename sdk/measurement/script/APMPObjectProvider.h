#pragma once

#include <functional>
#include <string>

#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/utilities/Value.h"

// A module that answers a host object ("internal.appMetadata"): calling it converts a fresh
// object from the block into a runtime value (a dictionary becomes a map).
class APMPObjectProvider : public APMPFunctionValue {
  public:
    using ObjectBlock = std::function<sdk::Value()>;

    APMPObjectProvider(std::u16string functionName, ObjectBlock objectProviderBlock);

    // Any arguments, not evaluated. The block's object converted in `scope` (null without a
    // block); a conversion error gives undefined.
    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;

  private:
    ObjectBlock objectProviderBlock_;
};
