#include "sdk/measurement/script/APMPRuntimePlatform.h"

#include <cassert>

#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "sdk/measurement/script/APMPScope.h"

APMPRuntimePlatform::APMPRuntimePlatform()
    : APMPFunctionValue(u"internal.platform", {}, {}, APMPScope::make()) {
    // A host-made function has no budget, so this store cannot fail.
    const sdk::Error error =
        propertyMap().setValue(std::make_shared<APMPFunctionGetVersion>(), u"getVersion");
    assert(error.ok());
    (void)error;
}

APMPValueRef APMPRuntimePlatform::invokeWithArguments(APMPArguments arguments,
                                                      const APMPScopeRef& scope,
                                                      sdk::Error& error) {
    (void)arguments;
    (void)scope;
    (void)error;
    return APMPUndefined();
}

APMPFunctionGetVersion::APMPFunctionGetVersion()
    : APMPFunctionValue(u"getVersion", {}, {}, APMPScope::make()) {}

APMPValueRef APMPFunctionGetVersion::invokeWithArguments(APMPArguments arguments,
                                                         const APMPScopeRef& scope,
                                                         sdk::Error& error) {
    (void)arguments;
    (void)scope;
    (void)error;
    return APMPNumberValue::make(static_cast<double>(APMPRuntime::runtimeVersion()));
}
