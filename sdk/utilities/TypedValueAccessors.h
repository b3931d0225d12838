#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

namespace sdk {

// The typed reads and writes of a key-value store, written once over the store's own
// `objectForKey(key)` and `setObject(optional value, key)`. A number reads as that kind (a double
// truncates to an integer, saturating; a boolean is 0 or 1); anything else reads as 0, 0.0 or
// false. The kind-checked reads give no value for an object of another kind.
// REQUIRES: `Store` derives from TypedValueAccessors<Store> and has both members, public.
template <class Store>
class TypedValueAccessors {
  public:
    std::int64_t integerForKey(std::string_view key) const {
        const std::optional<Value> value = self().objectForKey(key);
        return value ? value->numberAsInt().value_or(0) : 0;
    }
    double doubleForKey(std::string_view key) const {
        const std::optional<Value> value = self().objectForKey(key);
        return value ? value->numberAsDouble().value_or(0.0) : 0.0;
    }
    float floatForKey(std::string_view key) const { return static_cast<float>(doubleForKey(key)); }
    bool boolForKey(std::string_view key) const {
        const std::optional<Value> value = self().objectForKey(key);
        return value && value->numberAsBool().value_or(false);
    }

    std::optional<std::string> stringForKey(std::string_view key) const {
        const std::optional<Value> value = self().objectForKey(key);
        return value && value->isString() ? std::optional(*value->string()) : std::nullopt;
    }
    std::optional<Value> numberForKey(std::string_view key) const {
        std::optional<Value> value = self().objectForKey(key);
        return value && value->isNumber() ? value : std::nullopt;
    }
    std::optional<Value::Array> arrayForKey(std::string_view key) const {
        const std::optional<Value> value = self().objectForKey(key);
        return value && value->isArray() ? std::optional(*value->array()) : std::nullopt;
    }
    std::optional<Value::Dictionary> dictionaryForKey(std::string_view key) const {
        const std::optional<Value> value = self().objectForKey(key);
        return value && value->isDictionary() ? std::optional(*value->dictionary()) : std::nullopt;
    }

    void removeObjectForKey(std::string_view key) { mutableSelf().setObject(std::nullopt, key); }
    void setInteger(std::int64_t value, std::string_view key) {
        mutableSelf().setObject(Value(value), key);
    }
    void setFloat(float value, std::string_view key) {
        mutableSelf().setObject(Value(static_cast<double>(value)), key);
    }
    void setDouble(double value, std::string_view key) {
        mutableSelf().setObject(Value(value), key);
    }
    void setBool(bool value, std::string_view key) { mutableSelf().setObject(Value(value), key); }

  protected:
    TypedValueAccessors() = default;
    ~TypedValueAccessors() = default;

  private:
    const Store& self() const { return static_cast<const Store&>(*this); }
    Store& mutableSelf() { return static_cast<Store&>(*this); }
};

}  // namespace sdk
