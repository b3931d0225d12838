#include "sdk/measurement/script/APMPMessageLogger.h"

#include <cassert>

#include "sdk/measurement/script/APMPFunctionLog.h"
#include "sdk/measurement/script/APMPScope.h"

namespace {

// Host-made functions have no budget, so these stores cannot fail.
void setProperty(APMPFunctionValue& function, APMPValueRef value, const std::u16string& name) {
    const sdk::Error error = function.propertyMap().setValue(std::move(value), name);
    assert(error.ok());
    (void)error;
}

}  // namespace

APMPMessageLogger::APMPMessageLogger(std::shared_ptr<const APMPixieLogger> logger)
    : APMPFunctionValue(u"internal.logger", {}, {}, APMPScope::make()) {
    setProperty(*this, std::make_shared<APMPFunctionLog>(logger, false, true), u"log");
    setProperty(*this, std::make_shared<APMPFunctionLogSilent>(logger), u"silent");
    setProperty(*this, std::make_shared<APMPFunctionLogUnmonitored>(logger), u"unmonitored");
}

APMPValueRef APMPMessageLogger::invokeWithArguments(APMPArguments arguments,
                                                    const APMPScopeRef& scope, sdk::Error& error) {
    (void)arguments;
    (void)scope;
    (void)error;
    return APMPUndefined();
}

APMPFunctionLogFlavour::APMPFunctionLogFlavour(std::u16string functionName,
                                               std::shared_ptr<const APMPixieLogger> logger,
                                               bool silent, bool monitored)
    : APMPFunctionValue(std::move(functionName), {}, {}, APMPScope::make()) {
    setProperty(*this, std::make_shared<APMPFunctionLog>(std::move(logger), silent, monitored),
                u"log");
}

APMPValueRef APMPFunctionLogFlavour::invokeWithArguments(APMPArguments arguments,
                                                         const APMPScopeRef& scope,
                                                         sdk::Error& error) {
    (void)arguments;
    (void)scope;
    (void)error;
    return shared_from_this();
}
