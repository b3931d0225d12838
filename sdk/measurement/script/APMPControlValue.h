#pragma once

#include "sdk/measurement/script/APMPRuntimeValue.h"

enum class APMPControlType { kBreak, kContinue, kReturn };

// A break, continue or return travelling outward from a statement to the loop or function
// that consumes it. Break and continue are shared instances; each return is new.
class APMPControlValue : public APMPRuntimeValue {
  public:
    APMPControlValue(APMPControlType type, APMPValueRef data)
        : APMPRuntimeValue(APMPValueKind::kControl), type_(type), data_(std::move(data)) {}

    static const APMPValueRef& breakValue();
    static const APMPValueRef& continueValue();
    // A new return value carrying `data` (undefined when null).
    static APMPValueRef returnValueWithData(APMPValueRef data);

    APMPControlType type() const { return type_; }
    // The carried value; undefined when none was given.
    const APMPValueRef& data() const { return data_; }

    // The same object, or the same type with equal data.
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
    // Only a return carries a value of its own; the shared break and continue are never
    // written to by marking.
    bool holdsReferences() const override { return type_ == APMPControlType::kReturn; }
    void markReferences(APMPMarker& marker) const override;
    void releaseReferences(Released& released) override;

  private:
    const APMPControlType type_;
    APMPValueRef data_;
};
