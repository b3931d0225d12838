#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

#include "sdk/utilities/Value.h"

// One typed parameter or user-property value of the measurement engine: a double, a 64-bit
// integer, a string or (for the item lists of ecommerce events) an array whose elements are
// parameter dictionaries. Plain data: copies are independent and may be read from any thread.
class APMValue {
  public:
    enum class Type : std::int64_t { kDouble = 0, kInt64 = 1, kString = 2, kArray = 3 };

    explicit APMValue(double value) : type_(Type::kDouble), value_(value) {}
    explicit APMValue(std::int64_t value) : type_(Type::kInt64), value_(value) {}
    explicit APMValue(std::string value) : type_(Type::kString), value_(std::move(value)) {}
    explicit APMValue(const char* value) : APMValue(std::string(value)) {}
    explicit APMValue(sdk::Value::Array items) : type_(Type::kArray), value_(std::move(items)) {}

    // The value of a raw object: a string gives a string value, an integer or a boolean an
    // int64 value (true is 1), a double a double value, and an array an array value only when
    // `allowArray`. No object (nullptr) logs 35000; any other kind logs 35001; both give none.
    static std::optional<APMValue> valueFromObject(const sdk::Value* object,
                                                   bool allowArray = false);
    // A string value; none for no object (35002) or a non-string (35003).
    static std::optional<APMValue> initWithString(const sdk::Value* object);
    // An array value; none for no object (35004) or a non-array (35005).
    static std::optional<APMValue> initWithArray(const sdk::Value* object);

    Type valueType() const { return type_; }
    bool isDouble() const { return type_ == Type::kDouble; }
    bool isInt64() const { return type_ == Type::kInt64; }
    bool isString() const { return type_ == Type::kString; }
    bool isArray() const { return type_ == Type::kArray; }

    // The held value; 0, 0.0 or nullptr when the type differs.
    double doubleValue() const { return value_.doubleValue().value_or(0.0); }
    std::int64_t int64Value() const { return value_.intValue().value_or(0); }
    const std::string* stringValue() const { return value_.string(); }
    const sdk::Value::Array* arrayValue() const { return value_.array(); }

    // The held value as a plain value (double, integer, string or array).
    const sdk::Value& value() const { return value_; }
    std::string description() const;

    friend bool operator==(const APMValue& a, const APMValue& b) {
        return a.type_ == b.type_ && a.value_ == b.value_;
    }

  private:
    Type type_;
    sdk::Value value_;
};

// A parameter as a caller hands it in: a raw value still to be checked and converted, or an
// APMValue made already.
using APMParameterInput = std::variant<sdk::Value, APMValue>;
// Parameters as callers hand them in, by name.
using APMRawParameters = std::map<std::string, APMParameterInput, std::less<>>;
// Checked parameters, by name; iteration (and so encoding) follows the names' byte order.
using APMParameters = std::map<std::string, APMValue, std::less<>>;

// The raw form of a dictionary of values, ready for cleaning.
APMRawParameters APMRawParametersFromDictionary(const sdk::Value::Dictionary& dictionary);
// The plain dictionary of checked parameters (how an item of an array value is kept).
sdk::Value::Dictionary APMDictionaryFromParameters(const APMParameters& parameters);
