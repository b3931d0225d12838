#include "sdk/measurement/script/APMPPrimitiveValues.h"

#include <limits>

#include "sdk/measurement/script/APMPError.h"

const APMPValueRef& APMPUndefinedValue::sharedInstance() {
    static const APMPValueRef& instance =
        *new APMPValueRef(APMPPermanentValue(new APMPUndefinedValue()));  // lives for the process
    return instance;
}

bool APMPUndefinedValue::booleanValueOrError(sdk::Error& error) const {
    (void)error;
    return false;
}

APMPValueRef APMPUndefinedValue::applyWithName(std::u16string_view name, APMPArguments arguments,
                                               const APMPScopeRef& scope, sdk::Error& error) {
    (void)name;
    (void)arguments;
    (void)scope;
    error = APMPError(APMPErrorCode::kMethodCallOnNothing);
    return APMPUndefined();
}

std::u16string APMPUndefinedValue::stringValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return u"undefined";
}

double APMPUndefinedValue::doubleValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return std::numeric_limits<double>::quiet_NaN();
}

bool APMPUndefinedValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                        int depth) const {
    (void)error;
    (void)depth;
    return other.kind() == APMPValueKind::kUndefined;
}

const APMPValueRef& APMPNullValue::sharedInstance() {
    static const APMPValueRef& instance =
        *new APMPValueRef(APMPPermanentValue(new APMPNullValue()));  // lives for the process
    return instance;
}

bool APMPNullValue::booleanValueOrError(sdk::Error& error) const {
    (void)error;
    return false;
}

APMPValueRef APMPNullValue::applyWithName(std::u16string_view name, APMPArguments arguments,
                                          const APMPScopeRef& scope, sdk::Error& error) {
    (void)name;
    (void)arguments;
    (void)scope;
    error = APMPError(APMPErrorCode::kMethodCallOnNothing);
    return APMPUndefined();
}

std::u16string APMPNullValue::stringValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return u"null";
}

double APMPNullValue::doubleValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return 0;
}

bool APMPNullValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                   int depth) const {
    (void)error;
    (void)depth;
    return other.kind() == APMPValueKind::kNull;
}

const APMPValueRef& APMPBooleanValue::booleanValueWithBool(bool value) {
    // Both made together, once; they live for the process.
    static const APMPValueRef instances[2] = {APMPPermanentValue(new APMPBooleanValue(false)),
                                              APMPPermanentValue(new APMPBooleanValue(true))};
    return instances[value ? 1 : 0];
}

bool APMPBooleanValue::booleanValueOrError(sdk::Error& error) const {
    (void)error;
    return value_;
}

std::u16string APMPBooleanValue::stringValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return value_ ? u"true" : u"false";
}

double APMPBooleanValue::doubleValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return value_ ? 1 : 0;
}

bool APMPBooleanValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                      int depth) const {
    (void)error;
    (void)depth;
    return other.kind() == APMPValueKind::kBoolean &&
           static_cast<const APMPBooleanValue&>(other).value_ == value_;
}
