#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

// Numbers of the remote configuration. Remote values are decimal texts; they read the same
// under every locale, so one configuration means the same on every machine.

// The number `text` holds: an optional sign, digits, and an optional "." with more digits,
// nothing else (no blanks, no exponent, no grouping). An integer that fits 64 bits stays an
// integer; any other number is a double. None for any other text, and for a value that does
// not fit a double.
std::optional<sdk::Value> APMRemoteConfigNumberFromText(std::string_view text);

// Compares two numbers: negative, 0 or positive as a is below, equal to or above b. Integers
// compare exactly; with a double involved both compare as doubles. None when either is not a
// number or is NaN.
std::optional<int> APMRemoteConfigCompareNumbers(const sdk::Value& a, const sdk::Value& b);

// A number truncated toward zero and saturated to 32 bits (NaN and non-numbers give 0).
std::int32_t APMRemoteConfigInt32(const sdk::Value& number);

// A number as text: an integer's digits, a double's shortest round-trip form ("60", "0.5"),
// 1 or 0 for a boolean; none for anything that is not a number.
std::optional<std::string> APMRemoteConfigNumberString(const sdk::Value& number);
