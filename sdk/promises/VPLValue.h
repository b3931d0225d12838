#pragma once

#include <concepts>
#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <typeindex>
#include <utility>
#include <variant>
#include <vector>

#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

class VPLPromise;

// Anything the promise library hands around: what a promise is fulfilled with, what a user
// callable returns to settle the next promise, and the elements of the lists the combinators
// take and give. One of:
//  - nil (the default);
//  - a plain SDK value (sdk::Value; its null is the placeholder that lists use for nil);
//  - an error (sdk::Error that is not ok): settling with it rejects;
//  - a promise: a callable's result that is a promise is adopted;
//  - an SDK object, held by shared pointer and read back with its exact type;
//  - a list of the above (the combinators' results, whose elements may be errors or objects).
//
// Conversions make nil of the "empty" forms: an ok sdk::Error, a null promise pointer and a
// null object pointer all give nil, as a nil object would on the original platform.
//
// Thread-safety: a VPLValue is immutable once made; copies share promises and objects.
class VPLValue {
  public:
    using List = std::vector<VPLValue>;

    // Makes nil.
    VPLValue() noexcept = default;
    // Deleted so that a bare nullptr never silently means either nil or the null value: write
    // VPLValue() for nil and sdk::Value() for the null placeholder.
    VPLValue(std::nullptr_t) = delete;

    // A plain value, from anything an sdk::Value is made from (numbers, strings, arrays...),
    // except raw pointers other than C strings, which would otherwise turn into booleans.
    template <typename T>
    requires(std::is_constructible_v<sdk::Value, T> &&
             !std::is_same_v<std::remove_cvref_t<T>, std::nullptr_t> &&
             (!std::is_pointer_v<std::decay_t<T>> ||
              std::is_same_v<std::decay_t<T>, const char*>)&&!std::is_same_v<std::remove_cvref_t<T>,
                                                                             VPLValue>)
        VPLValue(T&& value)
        : storage_(std::in_place_type<sdk::Value>, std::forward<T>(value)) {}

    // An error; an ok `error` makes nil.
    VPLValue(sdk::Error error);

    // A promise; null makes nil.
    VPLValue(std::shared_ptr<VPLPromise> promise);

    // An SDK object of any type but VPLPromise; null makes nil.
    template <typename T>
    requires(!std::is_base_of_v<VPLPromise, T>) VPLValue(std::shared_ptr<T> object)
        : storage_(objectStorage(std::move(object))) {}

    // A list.
    VPLValue(List list) : storage_(std::move(list)) {}

    bool isNil() const { return std::holds_alternative<std::monostate>(storage_); }
    bool isError() const { return std::holds_alternative<sdk::Error>(storage_); }
    bool isPromise() const { return std::holds_alternative<std::shared_ptr<VPLPromise>>(storage_); }
    bool isObject() const { return std::holds_alternative<Object>(storage_); }
    bool isList() const { return std::holds_alternative<List>(storage_); }

    // The plain value; nullptr when this is not one.
    const sdk::Value* value() const { return std::get_if<sdk::Value>(&storage_); }

    // The error; ok when this is not one.
    sdk::Error error() const;

    // The promise; null when this is not one.
    std::shared_ptr<VPLPromise> promise() const;

    // The object when it was made from a std::shared_ptr<T> of exactly this T; else null.
    template <typename T>
    std::shared_ptr<T> object() const {
        const Object* held = std::get_if<Object>(&storage_);
        if (held == nullptr || held->type != std::type_index(typeid(std::remove_cv_t<T>))) {
            return nullptr;
        }
        return std::static_pointer_cast<T>(held->pointer);
    }

    // The list; nullptr when this is not one.
    const List* list() const { return std::get_if<List>(&storage_); }

    // Equal when both hold the same kind and equal contents; promises and objects compare by
    // identity, errors by domain, code and user info.
    friend bool operator==(const VPLValue& a, const VPLValue& b);

    // A readable one-line rendering for descriptions, logs and test failures: "(null)" for nil,
    // the value's or error's own text, "<VPLPromise 0x...>" for a promise (without its state,
    // so a promise that holds itself cannot recurse), "<object 0x...>", "(a, b)" for a list.
    std::string description() const;

  private:
    struct Object {
        std::shared_ptr<void> pointer;
        std::type_index type;
    };

    using Storage = std::variant<std::monostate, sdk::Value, sdk::Error,
                                 std::shared_ptr<VPLPromise>, Object, List>;

    template <typename T>
    static Storage objectStorage(std::shared_ptr<T> object) {
        if (object == nullptr) {
            return Storage();
        }
        return Storage(std::in_place_type<Object>,
                       Object{std::const_pointer_cast<std::remove_cv_t<T>>(std::move(object)),
                              std::type_index(typeid(std::remove_cv_t<T>))});
    }

    Storage storage_;
};
