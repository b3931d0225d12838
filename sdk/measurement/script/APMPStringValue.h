#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

// The text of a string value, in a plain base (as APMPValueKindTag is): names and keys are
// read from it at every step.
class APMPStringText {
  public:
    const std::u16string& value() const { return value_; }

  protected:
    explicit APMPStringText(std::u16string value) : value_(std::move(value)) {}

    std::u16string value_;
    APMPMemoryReservation reservation_;
};

// A string of UTF-16 code units. Strings made while a program runs are accounted against its
// runtime's memory budget (the object and its text buffer, as allocated) for as long as they
// live; program literals and strings the host makes outside a run are not. Converting,
// comparing or scanning a string pays its units to the running program's instruction budget.
class APMPStringValue : public APMPRuntimeValue, public APMPStringText {
  public:
    explicit APMPStringValue(std::u16string value)
        : APMPRuntimeValue(APMPValueKind::kString), APMPStringText(std::move(value)) {}
    // A string accounted, unchecked, against the active budget (APMPActiveBudget()) when a
    // program is running, else unaccounted (program literals, host text).
    static std::shared_ptr<APMPStringValue> make(std::u16string value);
    // What a string value of `capacity` units costs the allocator.
    static double allocationBytes(std::size_t capacity);

    // A string accounted against the budget of `scope`'s runtime (none when `scope` is null or
    // outside a runtime): error 18 and null when it would pass the memory cap.
    static std::shared_ptr<APMPStringValue> makeInScope(std::u16string value,
                                                        const APMPScope* scope, sdk::Error& error);

    // `first` followed by `second`, accounted as makeInScope(); the cap is checked before the
    // text is built, so a doubling loop fails with error 18 instead of exhausting memory.
    static std::shared_ptr<APMPStringValue> concatenate(std::u16string_view first,
                                                        std::u16string_view second,
                                                        const APMPScope* scope, sdk::Error& error);

    // The number a text reads as: trimmed of white space and line breaks, "" is 0; exactly
    // "NaN", "Infinity" and "-Infinity"; otherwise a signed decimal number that takes the whole
    // text ("+.5", "1e5"); anything else (hex, "inf", "12abc") is NaN.
    static double numberFromString(std::u16string_view text);

    // True when not empty.
    bool booleanValueOrError(sdk::Error& error) const override;
    std::u16string stringValueAtDepth(sdk::Error& error, int depth) const override;
    double doubleValueAtDepth(sdk::Error& error, int depth) const override;
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
    // The string methods of APMPStringCommandEvaluator, on this value's text.
    APMPValueRef applyWithName(std::u16string_view name, APMPArguments arguments,
                               const APMPScopeRef& scope, sdk::Error& error) override;
};

// Room on the caller's stack for a property name that is converted rather than read in place:
// a number's text fits in it without an allocation.
struct APMPPropertyNameBuffer {
    char16_t number[APMPNumberValue::kMaxTextLength];
    std::u16string text;
};

// The name a property key stands for, as its string conversion gives it and pays for it, read
// without a copy where none is needed: a string's own text, the fixed text of a map, a number's
// text written into `buffer`, else the key's string converted into `buffer`. Valid while `key`
// and `buffer` live unchanged; empty on an error.
std::u16string_view APMPPropertyName(const APMPRuntimeValue& key, APMPPropertyNameBuffer& buffer,
                                     sdk::Error& error);
