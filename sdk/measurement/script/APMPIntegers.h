#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/measurement/script/APMPRuntimeValue.h"

// Integer conversions of the bitwise commands and the array and string methods, and the
// argument-count checks every command uses.

// NaN and the infinities give 0; otherwise the value truncated toward zero, taken modulo 2^32
// (with the value's sign) and read as a signed 32-bit integer.
std::int32_t APMPToInt32(double value);

// The same computation read as an unsigned 32-bit integer.
std::uint32_t APMPToUint32(double value);

// NaN gives 0; zeros and the infinities are returned unchanged; else truncated toward zero.
double APMPToInteger(double value);

// APMPToInteger() as a 64-bit integer, saturating at the int64 range (NaN gives 0).
std::int64_t APMPToInt64Saturating(double value);

// True for a number or string value whose number is finite, not negative and whole.
bool APMPIsArrayIndex(const APMPRuntimeValue& value);

// True for array, function, map and string values.
bool APMPIsObjectLike(const APMPRuntimeValue& value);

// Argument-count checks: true when `arguments` has exactly, at least or at most `count`
// elements; otherwise error 9 is stored in `error` and the answer is false.
bool APMPCheckArgumentCountEquals(APMPArguments arguments, std::size_t count, sdk::Error& error);
bool APMPCheckArgumentCountAtLeast(APMPArguments arguments, std::size_t count, sdk::Error& error);
bool APMPCheckArgumentCountAtMost(APMPArguments arguments, std::size_t count, sdk::Error& error);
