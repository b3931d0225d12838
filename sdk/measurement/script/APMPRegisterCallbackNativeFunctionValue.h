#pragma once

#include <memory>

#include "sdk/measurement/script/APMPEditingCallbackHandler.h"
#include "sdk/measurement/script/APMPFunctionValue.h"

// The module "internal.registerCallback": called with (identifier, callback, options) it
// registers the callback with the editing instance's handler.
//
// The handler is held weakly: it belongs to the editing instance, and the runtime (which
// caches this module) must not keep it alive.
class APMPRegisterCallbackNativeFunctionValue : public APMPFunctionValue {
  public:
    static constexpr std::int64_t kDefaultPriority = 1000;

    explicit APMPRegisterCallbackNativeFunctionValue(
        std::weak_ptr<APMPEditingCallbackHandler> callbackHandler);

    // Exactly three arguments (else error 9), evaluated in order; the first is not used. The
    // second must be a function and the third a map (else error 10). The map's "type" names the
    // kind (missing: editing error 2); its "priority", as a 32-bit integer of its number, the
    // priority (kDefaultPriority without it). Registration errors (editing errors 3 and 4)
    // pass through. Result: undefined.
    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;

  private:
    std::weak_ptr<APMPEditingCallbackHandler> callbackHandler_;
};
