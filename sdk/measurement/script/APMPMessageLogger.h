#pragma once

#include <memory>

#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPixieLogger.h"

// The module "internal.logger". Its properties:
//   "log"          an APMPFunctionLog (not silent, monitored);
//   "silent"       an APMPFunctionLogSilent, whose "log" is silent and monitored;
//   "unmonitored"  an APMPFunctionLogUnmonitored, whose "log" is neither.
// Calling the module itself gives undefined.
class APMPMessageLogger : public APMPFunctionValue {
  public:
    explicit APMPMessageLogger(std::shared_ptr<const APMPixieLogger> logger);

    APMPValueRef invokeWithArguments(const APMPValueList& arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;
};

// "silent" of the logger module; calling it gives itself.
class APMPFunctionLogSilent : public APMPFunctionValue {
  public:
    explicit APMPFunctionLogSilent(std::shared_ptr<const APMPixieLogger> logger);

    APMPValueRef invokeWithArguments(const APMPValueList& arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;
};

// "unmonitored" of the logger module; calling it gives itself.
class APMPFunctionLogUnmonitored : public APMPFunctionValue {
  public:
    explicit APMPFunctionLogUnmonitored(std::shared_ptr<const APMPixieLogger> logger);

    APMPValueRef invokeWithArguments(const APMPValueList& arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;
};
