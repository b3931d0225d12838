#include "sdk/measurement/script/APMPRegisterCallbackNativeFunctionValue.h"

#include "sdk/measurement/script/APMPEditingError.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPUnicode.h"

APMPRegisterCallbackNativeFunctionValue::APMPRegisterCallbackNativeFunctionValue(
    std::weak_ptr<APMPEditingCallbackHandler> callbackHandler)
    : APMPFunctionValue(u"internal.registerCallback", {}, {}, APMPScope::make()),
      callbackHandler_(std::move(callbackHandler)) {}

APMPValueRef APMPRegisterCallbackNativeFunctionValue::invokeWithArguments(APMPArguments arguments,
                                                                          const APMPScopeRef& scope,
                                                                          sdk::Error& error) {
    const std::optional<APMPValueList> evaluated = APMPEvaluateExactly(arguments, 3, scope, error);
    if (!evaluated) {
        return APMPUndefined();
    }
    const APMPValueList& values = *evaluated;
    if (values[1]->kind() != APMPValueKind::kFunction || values[2]->kind() != APMPValueKind::kMap) {
        error = APMPError(APMPErrorCode::kArgumentKind);
        return APMPUndefined();
    }
    const auto& options = static_cast<const APMPMapValue&>(*values[2]).propertyMap();
    if (!options.hasName(u"type")) {
        error = APMPEditingError(APMPEditingErrorCode::kMissingCallbackType);
        return APMPUndefined();
    }
    const std::u16string ruleType = options.valueForName(u"type")->stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    std::int64_t priority = kDefaultPriority;
    if (options.hasName(u"priority")) {
        const double number = options.valueForName(u"priority")->doubleValueOrError(error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        priority = APMPToInt32(number);
    }
    const std::shared_ptr<APMPEditingCallbackHandler> handler = callbackHandler_.lock();
    if (!handler) {
        // The editing instance is gone; nothing can run the callback any more.
        return APMPUndefined();
    }
    error = handler->registerWithPriority(
        priority, std::static_pointer_cast<APMPFunctionValue>(values[1]), APMPToUTF8(ruleType));
    return APMPUndefined();
}
