#include "sdk/measurement/script/APMPVariableCommandEvaluator.h"

#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStringValue.h"

namespace {

// The name a string value holds, read in place (the caller holds the value); error 10 and null
// for any other value.
const std::u16string* nameOf(const APMPValueRef& value, sdk::Error& error) {
    if (value->kind() != APMPValueKind::kString) {
        error = APMPError(APMPErrorCode::kArgumentKind);
        return nullptr;
    }
    return &static_cast<const APMPStringValue&>(*value).value();
}

bool evenCount(APMPArguments arguments, sdk::Error& error) {
    if (arguments.size() % 2 != 0) {
        error = APMPError(APMPErrorCode::kArgumentCount);
        return false;
    }
    return true;
}

APMPValueRef declare(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    for (const auto& argument : arguments) {
        const std::u16string* name = nameOf(argument, error);
        if (name == nullptr) {
            return APMPUndefined();
        }
        error = scope->addValue(APMPUndefined(), *name);
        if (!error.ok()) {
            return APMPUndefined();
        }
    }
    return APMPUndefined();
}

APMPValueRef declareConstants(APMPArguments arguments, const APMPScopeRef& scope,
                              sdk::Error& error) {
    if (!evenCount(arguments, error)) {
        return APMPUndefined();
    }
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        const std::u16string* name = nameOf(arguments[i], error);
        if (name == nullptr) {
            return APMPUndefined();
        }
        error = scope->addImmutableValue(arguments[i + 1], *name);
        if (!error.ok()) {
            return APMPUndefined();
        }
    }
    return APMPUndefined();
}

APMPValueRef assign(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    const std::u16string* name =
        APMPCheckArgumentCountEquals(arguments, 2, error) ? nameOf(arguments[0], error) : nullptr;
    if (name == nullptr) {
        return APMPUndefined();
    }
    if (!scope->hasName(*name)) {
        error = APMPError(APMPErrorCode::kUndeclaredVariable);
        return APMPUndefined();
    }
    error = scope->setValue(arguments[1], *name);
    return arguments[1];
}

APMPValueRef read(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    const std::u16string* name =
        APMPCheckArgumentCountEquals(arguments, 1, error) ? nameOf(arguments[0], error) : nullptr;
    if (name == nullptr) {
        return APMPUndefined();
    }
    return scope->valueForName(*name);
}

APMPValueRef readProperty(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 2, error)) {
        return APMPUndefined();
    }
    return APMPReadProperty(arguments[0], *arguments[1], *scope, error);
}

APMPValueRef writeProperty(APMPArguments arguments, const APMPScopeRef&, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 3, error)) {
        return APMPUndefined();
    }
    APMPRuntimeValue& target = *arguments[0];
    const APMPRuntimeValue& key = *arguments[1];
    switch (target.kind()) {
        case APMPValueKind::kUndefined:
        case APMPValueKind::kNull:
            error = APMPError(APMPErrorCode::kPropertyWriteOnNothing);
            break;
        case APMPValueKind::kArray:
            error = static_cast<APMPArrayValue&>(target).setValueForProperty(arguments[2], key);
            break;
        case APMPValueKind::kMap:
            error = static_cast<APMPMapValue&>(target).setValueForProperty(arguments[2], key);
            break;
        case APMPValueKind::kFunction:
            error = static_cast<APMPFunctionValue&>(target).setValueForProperty(arguments[2], key);
            break;
        default:
            // Booleans, numbers and strings ignore the write.
            break;
    }
    return arguments[2];
}

APMPValueRef arrayLiteral(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    return APMPObjectManager::arrayValueWithArray(APMPValueList(arguments.begin(), arguments.end()),
                                                  *scope, error);
}

APMPValueRef mapLiteral(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!evenCount(arguments, error)) {
        return APMPUndefined();
    }
    auto map = APMPObjectManager::mapValueWithScope(*scope);
    for (std::size_t i = 0; i < arguments.size() && error.ok(); i += 2) {
        error = map->setValueForProperty(arguments[i + 1], *arguments[i]);
    }
    return map;
}

const char16_t* typeName(APMPValueKind kind) {
    switch (kind) {
        case APMPValueKind::kBoolean:
            return u"boolean";
        case APMPValueKind::kFunction:
            return u"function";
        case APMPValueKind::kNumber:
            return u"number";
        case APMPValueKind::kString:
            return u"string";
        case APMPValueKind::kUndefined:
            return u"undefined";
        default:
            return u"object";
    }
}

APMPValueRef typeOf(APMPArguments arguments, const APMPScopeRef&, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 1, error)) {
        return APMPUndefined();
    }
    return APMPStringValue::make(typeName(arguments[0]->kind()));
}

APMPValueRef undefinedLiteral(APMPArguments, const APMPScopeRef&, sdk::Error&) {
    return APMPUndefined();
}

APMPValueRef nullLiteral(APMPArguments, const APMPScopeRef&, sdk::Error&) {
    return APMPNull();
}

APMPValueRef stringProperty(const APMPStringValue& target, const APMPRuntimeValue& key,
                            const APMPScope& scope, sdk::Error& error) {
    const std::u16string& text = target.value();
    if (key.kind() == APMPValueKind::kString &&
        static_cast<const APMPStringValue&>(key).value() == u"length") {
        return APMPNumberValue::make(static_cast<double>(text.size()));
    }
    if (!APMPIsArrayIndex(key)) {
        return APMPUndefined();
    }
    const double index = key.doubleValueOrError(error);
    if (!error.ok() || index >= static_cast<double>(text.size())) {
        return APMPUndefined();
    }
    APMPValueRef unit = APMPStringValue::makeInScope(
        text.substr(static_cast<std::size_t>(index), 1), &scope, error);
    return error.ok() ? unit : APMPUndefined();
}

}  // namespace

APMPValueRef APMPReadProperty(const APMPValueRef& target, const APMPRuntimeValue& key,
                              const APMPScope& scope, sdk::Error& error) {
    switch (target->kind()) {
        case APMPValueKind::kArray:
            return static_cast<const APMPArrayValue&>(*target).valueForProperty(key, error);
        case APMPValueKind::kMap:
            return static_cast<const APMPMapValue&>(*target).valueForProperty(key, error);
        case APMPValueKind::kFunction:
            return static_cast<const APMPFunctionValue&>(*target).valueForProperty(key, error);
        case APMPValueKind::kString:
            return stringProperty(static_cast<const APMPStringValue&>(*target), key, scope, error);
        default:
            return APMPUndefined();
    }
}

APMPVariableCommandEvaluator::APMPVariableCommandEvaluator()
    : APMPCommandEvaluator(Arguments::kEvaluated) {
    addHandler(u"41", declare);
    addHandler(u"52", declareConstants);
    addHandler(u"3", assign);
    addHandler(u"15", read);
    addHandler(u"16", readProperty);
    addHandler(u"17", readProperty);
    addHandler(u"43", writeProperty);
    addHandler(u"7", arrayLiteral);
    addHandler(u"8", mapLiteral);
    addHandler(u"40", typeOf);
    addHandler(u"44", undefinedLiteral);
    addHandler(u"45", nullLiteral);
}
