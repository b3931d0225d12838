#include "sdk/measurement/script/APMPRuntimeValue.h"

#include <limits>

#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPPrimitiveValues.h"
#include "sdk/measurement/script/APMPStringValue.h"

bool APMPRuntimeValue::booleanValueOrError(sdk::Error& error) const {
    error = APMPError(APMPErrorCode::kNoBooleanValue);
    return false;
}

APMPValueRef APMPRuntimeValue::applyWithName(std::u16string_view name, APMPArguments arguments,
                                             const APMPScopeRef& scope, sdk::Error& error) {
    (void)arguments;
    if (name != u"toString") {
        error = APMPError(APMPErrorCode::kUnknownMethod);
        return APMPUndefined();
    }
    std::u16string text = stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    APMPValueRef result = APMPStringValue::makeInScope(std::move(text), scope.get(), error);
    return error.ok() ? result : APMPUndefined();
}

std::u16string APMPRuntimeValue::stringValueAtDepth(sdk::Error& error, int depth) const {
    (void)depth;
    error = APMPError(APMPErrorCode::kNoStringValue);
    return {};
}

double APMPRuntimeValue::doubleValueAtDepth(sdk::Error& error, int depth) const {
    (void)depth;
    error = APMPError(APMPErrorCode::kNoNumberValue);
    return std::numeric_limits<double>::quiet_NaN();
}

bool APMPRuntimeValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                      int depth) const {
    (void)error;
    (void)depth;
    return this == &other;
}

const APMPValueRef& APMPUndefined() {
    return APMPUndefinedValue::sharedInstance();
}

const APMPValueRef& APMPNull() {
    return APMPNullValue::sharedInstance();
}

const APMPValueRef& APMPBoolean(bool value) {
    return APMPBooleanValue::booleanValueWithBool(value);
}
