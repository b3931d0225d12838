#pragma once

#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sdk/measurement/script/APMPMarkable.h"
#include "sdk/utilities/Error.h"

class APMPScope;
class APMPRuntimeValue;

// Values are shared: a program's variables, arrays and maps reference them, and the collector
// breaks the references of unreachable ones.
using APMPValueRef = std::shared_ptr<APMPRuntimeValue>;
using APMPValueList = std::vector<APMPValueRef>;
using APMPScopeRef = std::shared_ptr<APMPScope>;

// The arguments of a command, method or call: a view of values the caller holds for the length
// of the call (a statement's own list, an APMPArgumentList on the caller's stack, or a list
// written at the call, which lives until the call's full expression ends).
class APMPArguments : public std::span<const APMPValueRef> {
  public:
    using std::span<const APMPValueRef>::span;
    APMPArguments() = default;
    APMPArguments(std::span<const APMPValueRef> values) : span(values) {}
    APMPArguments(std::initializer_list<APMPValueRef> values)
        : span(values.begin(), values.size()) {}
};

// The classes of runtime values. kPlain is the base class itself (the array hole marker).
enum class APMPValueKind {
    kPlain,
    kUndefined,
    kNull,
    kBoolean,
    kNumber,
    kString,
    kArray,
    kMap,
    kFunction,
    kStatement,
    kControl,
};

// The kind every value carries, fixed when the value is made. It sits in a base of its own
// with no virtual functions, so reading it takes neither a virtual call nor, in the sanitizer
// build, a check of the object's dynamic type: evaluation asks it at every step.
class APMPValueKindTag {
  public:
    APMPValueKind kind() const { return kind_; }

  protected:
    explicit APMPValueKindTag(APMPValueKind kind) : kind_(kind) {}

  private:
    const APMPValueKind kind_;
};

// Every datum a program touches. Conversions and calls report failures through `error`, which
// they set only when they fail; a failing call returns the value the contract names (the empty
// string, NaN, false or undefined).
//
// Walks over nested values (joins, structural equality) carry their depth and stop past
// APMPRuntimeBudget::kMaxDepth with error 18, which also ends walks around cycles.
//
// Thread-safety: values belong to the thread that runs their runtime; the shared instances are
// immutable.
class APMPRuntimeValue : public APMPMarkable, public APMPValueKindTag {
  public:
    explicit APMPRuntimeValue(APMPValueKind kind = APMPValueKind::kPlain)
        : APMPValueKindTag(kind) {}

    // The value's string; the base class fails with error 5 and returns "".
    std::u16string stringValueOrError(sdk::Error& error) const {
        return stringValueAtDepth(error, 0);
    }
    // The value's number; the base class fails with error 4 and returns NaN.
    double doubleValueOrError(sdk::Error& error) const { return doubleValueAtDepth(error, 0); }
    // The value's boolean; the base class fails with error 3 and returns false.
    virtual bool booleanValueOrError(sdk::Error& error) const;

    // Calls the method `name` with raw (unevaluated) `arguments` in `scope`. The base class
    // answers "toString" with a new string of the value's string and fails any other name with
    // error 17.
    virtual APMPValueRef applyWithName(std::u16string_view name, APMPArguments arguments,
                                       const APMPScopeRef& scope, sdk::Error& error);

    // Structural equality; the base class compares identity.
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other, sdk::Error& error) const {
        return isEqualAtDepth(other, error, 0);
    }

    // The walks behind the conversions above, `depth` levels into a nested value.
    virtual std::u16string stringValueAtDepth(sdk::Error& error, int depth) const;
    virtual double doubleValueAtDepth(sdk::Error& error, int depth) const;
    virtual bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const;
};

// A reference to `value` that owns nothing, for the shared instances that live for the whole
// process: copying or dropping one touches no reference count, so handing undefined or a
// boolean around costs nothing beyond the pointer. REQUIRES: `value` is never destroyed.
inline APMPValueRef APMPPermanentValue(APMPRuntimeValue* value) {
    return APMPValueRef(APMPValueRef(), value);
}

// The shared undefined value.
const APMPValueRef& APMPUndefined();
// The shared null value.
const APMPValueRef& APMPNull();
// One of the two shared booleans.
const APMPValueRef& APMPBoolean(bool value);
