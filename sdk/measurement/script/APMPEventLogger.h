#pragma once

#include <memory>

#include "sdk/measurement/script/APMPEventContext.h"
#include "sdk/measurement/script/APMPFunctionValue.h"

// The module "internal.eventLogger": called with (name, timestamp, parameters) it logs a new
// event into the context's created events.
class APMPEventLogger : public APMPFunctionValue {
  public:
    explicit APMPEventLogger(std::shared_ptr<APMPEventContext> eventContext);

    // Exactly three arguments (else error 9), evaluated in order. The name is the first one's
    // string; the timestamp the second one's number truncated toward zero (saturating at the
    // 64-bit range, NaN giving 0); the third must be a map (else error 10), whose properties
    // become the parameters (a null property is left out). Any error stops before logging.
    // Result: undefined.
    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;

  private:
    std::shared_ptr<APMPEventContext> eventContext_;
};
