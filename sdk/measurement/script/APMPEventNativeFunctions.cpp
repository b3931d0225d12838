#include "sdk/measurement/script/APMPEventNativeFunctions.h"

#include <array>
#include <utility>

#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPRuntimeEntityConverter.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStringValue.h"
#include "sdk/measurement/script/APMPUnicode.h"

APMPEventNativeFunctions::APMPEventNativeFunctions(std::shared_ptr<APMPEventContext> eventContext,
                                                   std::shared_ptr<APMPRuntimeBudget> budget)
    : APMPMapValue(std::move(budget)), eventContext_(std::move(eventContext)) {}

APMPEventNativeFunctions::Native APMPEventNativeFunctions::nativeForName(std::u16string_view name) {
    static const std::array<std::pair<std::u16string_view, Native>, 6> kNatives{{
        {u"getEventName", &APMPEventNativeFunctions::getEventName},
        {u"getParamValue", &APMPEventNativeFunctions::getParamValue},
        {u"getParams", &APMPEventNativeFunctions::getParams},
        {u"getTimestamp", &APMPEventNativeFunctions::getTimestamp},
        {u"setEventName", &APMPEventNativeFunctions::setEventName},
        {u"setParamValue", &APMPEventNativeFunctions::setParamValue},
    }};
    for (const auto& [nativeName, native] : kNatives) {
        if (nativeName == name) {
            return native;
        }
    }
    return nullptr;
}

APMPValueRef APMPEventNativeFunctions::applyWithName(std::u16string_view name,
                                                     APMPArguments arguments,
                                                     const APMPScopeRef& scope, sdk::Error& error) {
    const Native native = nativeForName(name);
    if (native == nullptr) {
        return APMPMapValue::applyWithName(name, arguments, scope, error);
    }
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    return (this->*native)(values, scope, error);
}

APMPValueRef APMPEventNativeFunctions::getEventName(APMPArguments values, const APMPScopeRef& scope,
                                                    sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 0, error)) {
        return APMPUndefined();
    }
    APMPValueRef name =
        APMPStringValue::makeInScope(APMPFromUTF8(event().name()), scope.get(), error);
    return error.ok() ? name : APMPUndefined();
}

APMPValueRef APMPEventNativeFunctions::getParamValue(APMPArguments values,
                                                     const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 1, error)) {
        return APMPUndefined();
    }
    const std::u16string name = values[0]->stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    const sdk::Value* parameter = event().parameterForName(APMPToUTF8(name));
    if (parameter == nullptr) {
        return APMPNull();
    }
    return APMPRuntimeEntityConverter::runtimeValueFromObject(*parameter, *scope, error);
}

APMPValueRef APMPEventNativeFunctions::getParams(APMPArguments values, const APMPScopeRef& scope,
                                                 sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 0, error)) {
        return APMPUndefined();
    }
    const auto map = APMPObjectManager::mapValueWithScope(*scope);
    if (!map) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return APMPUndefined();
    }
    for (const auto& [name, parameter] : event().parameters()) {
        APMPValueRef value =
            APMPRuntimeEntityConverter::runtimeValueFromObject(parameter, *scope, error);
        if (error.ok()) {
            error = map->propertyMap().setValue(std::move(value), APMPFromUTF8(name));
        }
        if (!error.ok()) {
            return APMPUndefined();
        }
    }
    return map;
}

APMPValueRef APMPEventNativeFunctions::getTimestamp(APMPArguments values, const APMPScopeRef& scope,
                                                    sdk::Error& error) {
    (void)scope;
    if (!APMPCheckArgumentCountEquals(values, 0, error)) {
        return APMPUndefined();
    }
    return APMPNumberValue::make(event().timestamp());
}

APMPValueRef APMPEventNativeFunctions::setEventName(APMPArguments values, const APMPScopeRef& scope,
                                                    sdk::Error& error) {
    (void)scope;
    if (!APMPCheckArgumentCountEquals(values, 1, error)) {
        return APMPUndefined();
    }
    const APMPValueKind kind = values[0]->kind();
    if (kind == APMPValueKind::kNull || kind == APMPValueKind::kUndefined) {
        error = APMPError(APMPErrorCode::kArgumentKind);
        return APMPUndefined();
    }
    const std::u16string name = values[0]->stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    event().setName(APMPToUTF8(name));
    return APMPStringValue::make(name);
}

APMPValueRef APMPEventNativeFunctions::setParamValue(APMPArguments values,
                                                     const APMPScopeRef& scope, sdk::Error& error) {
    (void)scope;
    if (!APMPCheckArgumentCountEquals(values, 2, error)) {
        return APMPUndefined();
    }
    const std::u16string name = values[0]->stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    std::optional<sdk::Value> value =
        APMPRuntimeEntityConverter::objectFromRuntimeValue(*values[1], error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    event().setParameter(std::move(value), APMPToUTF8(name));
    return values[1];
}
