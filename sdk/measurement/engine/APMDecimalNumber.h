#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// An exact decimal number: a sign, up to 38 significant decimal digits and a power-of-ten
// exponent in [-128, 127], the range of the decimal numbers numeric audience filters compare.
// Binary floating point is never involved. A plain value, safe to share between threads.
class APMDecimalNumber {
  public:
    static constexpr int kMaxDigits = 38;
    static constexpr int kMinExponent = -128;
    static constexpr int kMaxExponent = 127;

    // Zero.
    APMDecimalNumber() = default;

    // Parses `text` of the form [+-]digits[.digits] (either side of the point may be empty, not
    // both). No value for anything else or a number outside the range. `exact` (when not null)
    // tells whether every significant digit was kept; digits beyond kMaxDigits are dropped.
    static std::optional<APMDecimalNumber> parse(std::string_view text, bool* exact = nullptr);

    // The exact value of `value` (every int64 has at most 19 digits, so none is lost).
    static APMDecimalNumber fromInt64(std::int64_t value);

    // The plain text form: "-" for a negative number, the digits without leading or trailing
    // zeros around the point, and no exponent ("0.5", "-12", "1200").
    std::string stringValue() const;

    bool isNegative() const { return negative_; }
    bool isZero() const { return digits_.empty(); }
    APMDecimalNumber negated() const;

    // Orders by value.
    std::strong_ordering operator<=>(const APMDecimalNumber& other) const;
    bool operator==(const APMDecimalNumber& other) const = default;

  private:
    // Significant digits without leading or trailing zeros ("" for zero); the value is
    // digits_ x 10^exponent_. Zero is never negative.
    bool negative_ = false;
    std::string digits_;
    int exponent_ = 0;
};

// True when `text` is not empty and matches "^[+-]?(([0-9]+\.?)|([0-9]*\.[0-9]+))$" as a whole.
// The expression is compiled once (ICU); when it cannot be compiled, logs 26000 (level 2) with
// the pattern and the error, answers false, and compiles again on the next call. Thread-safe.
bool APMIsDecimalNumberString(std::string_view text);

// The exact decimal value of `text`, or no value with a monitor message (level 2): 26001 when
// it is not a decimal number string, 26002 when it cannot be made into a number, 26003 when
// the number would lose digits. Thread-safe.
std::optional<APMDecimalNumber> APMDecimalNumberFromString(std::string_view text);
