#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "sdk/utilities/Date.h"

namespace sdk {

// Raw bytes, as held by a data value.
using Bytes = std::vector<std::uint8_t>;

// One Foundation-style value: null, boolean, 64-bit integer, double, UTF-8 string, bytes, date,
// array or dictionary with string keys. This is what the SDK passes around where the original
// platform passes property-list and JSON objects.
//
// A boolean is its own type: Value(true) is not Value(1), and `isInt()` is false for it. The
// `numberAs...` readers treat booleans, integers and doubles alike, as a Foundation number.
// Dictionaries iterate in key order (bytewise), so output built from them is deterministic.
//
// Values are plain data: copies are deep, and a value may be read from many threads at once.
class Value {
  public:
    using Array = std::vector<Value>;
    using Dictionary = std::map<std::string, Value, std::less<>>;

    enum class Type { kNull, kBool, kInt, kDouble, kString, kBytes, kDate, kArray, kDictionary };

    // Makes null.
    Value() noexcept = default;
    Value(std::nullptr_t) noexcept {}
    Value(bool value) : storage_(std::in_place_type<bool>, value) {}
    // Any integer but bool. An unsigned value above INT64_MAX saturates to INT64_MAX.
    template <std::integral T>
    requires(!std::same_as<T, bool>) Value(T value)
        : storage_(std::in_place_type<std::int64_t>, saturate(value)) {}
    Value(double value) : storage_(std::in_place_type<double>, value) {}
    Value(const char* value) : storage_(std::in_place_type<std::string>, value) {}
    Value(std::string value) : storage_(std::in_place_type<std::string>, std::move(value)) {}
    Value(std::string_view value) : storage_(std::in_place_type<std::string>, value) {}
    Value(Bytes value) : storage_(std::in_place_type<Bytes>, std::move(value)) {}
    Value(Date value) : storage_(std::in_place_type<Date>, value) {}
    Value(Array value) : storage_(std::in_place_type<Array>, std::move(value)) {}
    Value(Dictionary value) : storage_(std::in_place_type<Dictionary>, std::move(value)) {}

    Type type() const { return static_cast<Type>(storage_.index()); }

    bool isNull() const { return type() == Type::kNull; }
    bool isBool() const { return type() == Type::kBool; }
    bool isInt() const { return type() == Type::kInt; }
    bool isDouble() const { return type() == Type::kDouble; }
    bool isString() const { return type() == Type::kString; }
    bool isBytes() const { return type() == Type::kBytes; }
    bool isDate() const { return type() == Type::kDate; }
    bool isArray() const { return type() == Type::kArray; }
    bool isDictionary() const { return type() == Type::kDictionary; }
    // True for a boolean, an integer or a double: what Foundation calls a number.
    bool isNumber() const { return isBool() || isInt() || isDouble(); }

    // The held value when the type matches exactly; no value otherwise.
    std::optional<bool> boolValue() const;
    std::optional<std::int64_t> intValue() const;
    std::optional<double> doubleValue() const;
    std::optional<Date> dateValue() const;

    // A number read as another kind of number; no value when this is not a number. A double
    // becomes an integer by truncation, saturating at the int64 range, NaN giving 0. A number
    // is true when it is not zero.
    std::optional<std::int64_t> numberAsInt() const;
    std::optional<double> numberAsDouble() const;
    std::optional<bool> numberAsBool() const;

    // The platform class name a value of this kind has in diagnostics ("NSNumber", "NSString",
    // "NSData", "NSDate", "NSArray", "NSDictionary", "NSNull").
    const char* className() const;

    // The held object when the type matches exactly; nullptr otherwise. The pointer stays
    // valid until this value is assigned to or destroyed.
    const std::string* string() const { return std::get_if<std::string>(&storage_); }
    const Bytes* bytes() const { return std::get_if<Bytes>(&storage_); }
    const Array* array() const { return std::get_if<Array>(&storage_); }
    Array* array() { return std::get_if<Array>(&storage_); }
    const Dictionary* dictionary() const { return std::get_if<Dictionary>(&storage_); }
    Dictionary* dictionary() { return std::get_if<Dictionary>(&storage_); }

    // The dictionary entry for `key`; nullptr when this is not a dictionary or has no such key.
    const Value* find(std::string_view key) const;

    // Equal when the types are the same and the contents are equal (doubles compare with ==,
    // so NaN is unequal to itself; a boolean never equals an integer).
    friend bool operator==(const Value& a, const Value& b) { return a.storage_ == b.storage_; }

    // A readable, single-line rendering for logs and test failures; not a wire format.
    std::string description() const;

  private:
    using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, Bytes,
                                 Date, Array, Dictionary>;

    template <std::integral T>
    static std::int64_t saturate(T value) {
        if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(std::int64_t)) {
            constexpr auto kMax = static_cast<T>(std::numeric_limits<std::int64_t>::max());
            return value > kMax ? std::numeric_limits<std::int64_t>::max()
                                : static_cast<std::int64_t>(value);
        } else {
            return static_cast<std::int64_t>(value);
        }
    }

    Storage storage_;
};

}  // namespace sdk
