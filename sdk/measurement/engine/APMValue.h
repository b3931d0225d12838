#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sdk/utilities/Value.h"

class APMValue;

// Event parameters by name; a std::map so that every encoding of them is in name order.
using APMParameters = std::map<std::string, APMValue>;

// One typed parameter or property value: a double, a 64-bit integer, a string, or an array of
// parameter maps (the items of an array parameter). Immutable; copies share the array.
class APMValue {
  public:
    enum class ValueType : std::int64_t { kDouble = 0, kInt64 = 1, kString = 2, kArray = 3 };

    // A string value from a text, a double from a floating-point number, an int64 from an
    // integer or a boolean (0 or 1). Null logs 35000 and anything else 35001 (level 0); both
    // give no value.
    static std::optional<APMValue> valueFromObject(const sdk::Value& object);

    static APMValue initWithString(std::string value);
    static APMValue initWithInt64(std::int64_t value);
    static APMValue initWithDouble(double value);
    static APMValue initWithArray(std::vector<APMParameters> items);

    ValueType valueType() const { return static_cast<ValueType>(value_.index()); }
    bool isString() const { return valueType() == ValueType::kString; }
    bool isDouble() const { return valueType() == ValueType::kDouble; }
    bool isInt64() const { return valueType() == ValueType::kInt64; }
    bool isArray() const { return valueType() == ValueType::kArray; }

    // The value when it has that type; otherwise 0, 0.0, no value or an empty array.
    std::optional<std::string> stringValue() const;
    double doubleValue() const;
    std::int64_t int64Value() const;
    const std::vector<APMParameters>& arrayValue() const;

    friend bool operator==(const APMValue& a, const APMValue& b);

  private:
    using Items = std::shared_ptr<const std::vector<APMParameters>>;
    using Storage = std::variant<double, std::int64_t, std::string, Items>;

    explicit APMValue(Storage value) : value_(std::move(value)) {}

    Storage value_;
};
