#pragma once

#include "sdk/measurement/script/APMPRuntimeValue.h"

// undefined: "undefined", NaN, false; a method call on it fails with error 7.
class APMPUndefinedValue : public APMPRuntimeValue {
  public:
    // The one instance, shared for the life of the process.
    APMPUndefinedValue() : APMPRuntimeValue(APMPValueKind::kUndefined) {}
    static const APMPValueRef& sharedInstance();

    bool booleanValueOrError(sdk::Error& error) const override;
    APMPValueRef applyWithName(std::u16string_view name, APMPArguments arguments,
                               const APMPScopeRef& scope, sdk::Error& error) override;
    std::u16string stringValueAtDepth(sdk::Error& error, int depth) const override;
    double doubleValueAtDepth(sdk::Error& error, int depth) const override;
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
};

// null: "null", 0, false; a method call on it fails with error 7.
class APMPNullValue : public APMPRuntimeValue {
  public:
    APMPNullValue() : APMPRuntimeValue(APMPValueKind::kNull) {}
    static const APMPValueRef& sharedInstance();

    bool booleanValueOrError(sdk::Error& error) const override;
    APMPValueRef applyWithName(std::u16string_view name, APMPArguments arguments,
                               const APMPScopeRef& scope, sdk::Error& error) override;
    std::u16string stringValueAtDepth(sdk::Error& error, int depth) const override;
    double doubleValueAtDepth(sdk::Error& error, int depth) const override;
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
};

// A boolean: "true"/"false", 1/0, itself.
class APMPBooleanValue : public APMPRuntimeValue {
  public:
    // A private boolean; programs get the shared ones from booleanValueWithBool().
    explicit APMPBooleanValue(bool value)
        : APMPRuntimeValue(APMPValueKind::kBoolean), value_(value) {}
    // One of two shared instances, made together once.
    static const APMPValueRef& booleanValueWithBool(bool value);

    bool value() const { return value_; }

    bool booleanValueOrError(sdk::Error& error) const override;
    std::u16string stringValueAtDepth(sdk::Error& error, int depth) const override;
    double doubleValueAtDepth(sdk::Error& error, int depth) const override;
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;

  private:
    const bool value_;
};
