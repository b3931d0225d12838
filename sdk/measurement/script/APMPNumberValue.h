#pragma once

#include <string>

#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

// The double of a number value, in a plain base (as APMPValueKindTag is): operators read it at
// every step.
class APMPNumberDouble {
  public:
    double value() const { return value_; }

  protected:
    explicit APMPNumberDouble(double value) : value_(value) {}

    const double value_;
};

// A number (a double): its string is the shortest text that reads back as the same double, in
// the decimal form for magnitudes from 1e-6 up to 1e21 and the exponent form outside it.
//
// A number made while a program runs is accounted, unchecked, against the running program's
// memory budget for as long as it lives (numbers are objects too: an array of a million of
// them holds a million of these blocks).
class APMPNumberValue : public APMPRuntimeValue, public APMPNumberDouble {
  public:
    explicit APMPNumberValue(double value)
        : APMPRuntimeValue(APMPValueKind::kNumber), APMPNumberDouble(value) {}
    // Accounted against the active budget (APMPActiveBudget()) when a program is running.
    static std::shared_ptr<APMPNumberValue> make(double value);

    // The longest text stringFromDouble() gives.
    static constexpr std::size_t kMaxTextLength = 40;

    // The text of `value`: "NaN", "Infinity", "-Infinity", "0" for both zeros, else the
    // shortest round-trip digits ("1234567", "0.000001", "1e-7", "1e+21"); never grouped.
    static std::u16string stringFromDouble(double value);
    // The same text written to `out`; returns its length.
    static std::size_t writeDouble(double value, char16_t (&out)[kMaxTextLength]);

    // True unless 0 or NaN.
    bool booleanValueOrError(sdk::Error& error) const override;
    std::u16string stringValueAtDepth(sdk::Error& error, int depth) const override;
    double doubleValueAtDepth(sdk::Error& error, int depth) const override;
    // By value; NaN equals NaN.
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
};
