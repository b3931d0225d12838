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

    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;
};

// A variant of the logger module, named `functionName`, whose property "log" logs with the
// given flags. Calling it gives itself, so `logger.silent().log(...)` works as
// `logger.silent.log(...)` does.
class APMPFunctionLogFlavour : public APMPFunctionValue,
                               public std::enable_shared_from_this<APMPFunctionLogFlavour> {
  public:
    APMPFunctionLogFlavour(std::u16string functionName,
                           std::shared_ptr<const APMPixieLogger> logger, bool silent,
                           bool monitored);

    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;
};

// "silent" of the logger module: its "log" is silent and monitored.
class APMPFunctionLogSilent : public APMPFunctionLogFlavour {
  public:
    explicit APMPFunctionLogSilent(std::shared_ptr<const APMPixieLogger> logger)
        : APMPFunctionLogFlavour(u"silent", std::move(logger), true, true) {}
};

// "unmonitored" of the logger module: its "log" is neither silent nor monitored.
class APMPFunctionLogUnmonitored : public APMPFunctionLogFlavour {
  public:
    explicit APMPFunctionLogUnmonitored(std::shared_ptr<const APMPixieLogger> logger)
        : APMPFunctionLogFlavour(u"unmonitored", std::move(logger), false, false) {}
};
