#pragma once

#include <memory>

#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPixieLogger.h"

// "log" of the logger module: sends a script message to the measurement monitor (code 24005)
// through the logger, with the flags of the module it hangs on.
class APMPFunctionLog : public APMPFunctionValue {
  public:
    // Script level of a message logged without one.
    static constexpr std::int64_t kDefaultLevel = 4;

    APMPFunctionLog(std::shared_ptr<const APMPixieLogger> logger, bool silent, bool monitored);

    // At least one argument (else error 9); all are evaluated in order. One argument: its
    // string is the message at kDefaultLevel. More: the first one's number truncated toward
    // zero (saturating, NaN giving 0) is the level, the second's string the message, and the
    // strings of the third to fifth are the contexts; further ones are not logged. A conversion
    // error stops before logging. Result: undefined.
    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;

  private:
    std::shared_ptr<const APMPixieLogger> logger_;
    const bool silent_;
    const bool monitored_;
};
