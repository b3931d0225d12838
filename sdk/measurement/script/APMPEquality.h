#pragma once

#include "sdk/measurement/script/APMPRuntimeValue.h"

// Strict equality (commands "20" and "21", switch cases, indexOf): the same class; numbers and
// booleans compare as doubles (NaN is unequal to itself); strings by their text; anything else
// by identity.
bool APMPStrictEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b);

// The rank of a value for loose equality: undefined and null 0, number and boolean 1, string 2,
// anything else 3.
int APMPLooseTypeRank(const APMPRuntimeValue& value);

// Loose equality (commands "12" and "29"): the operand of lower rank leads (the first on a
// tie); rank 2 compares both strings, rank 1 both numbers, rank 0 holds when the other operand
// is undefined or null too, rank 3 compares identity. A conversion error is stored in `error`
// and the answer is false.
bool APMPLooseEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, sdk::Error& error);
