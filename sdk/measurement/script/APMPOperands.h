#pragma once

#include <array>
#include <cstddef>

#include "sdk/measurement/script/APMPRuntimeValue.h"

// The numbers of an operator's evaluated operands: exactly `count` (1 or 2) operands, else
// error 9; a conversion error passes on. Returns false on either error.
bool APMPNumberOperands(APMPArguments arguments, std::size_t count, std::array<double, 2>& numbers,
                        sdk::Error& error);

// A new number value.
APMPValueRef APMPNumber(double value);

// An operation on one or two operand numbers (the second is 0 for one operand).
using APMPNumberOperation = double (*)(double a, double b);

// A command handler that runs `operation` on the numbers of exactly `count` operands and
// yields the result as a new number.
template <APMPNumberOperation operation, std::size_t count>
APMPValueRef APMPNumberCommand(APMPArguments arguments, const APMPScopeRef& scope,
                               sdk::Error& error) {
    (void)scope;
    std::array<double, 2> numbers{0, 0};
    if (!APMPNumberOperands(arguments, count, numbers, error)) {
        return APMPUndefined();
    }
    return APMPNumber(operation(numbers[0], numbers[1]));
}
