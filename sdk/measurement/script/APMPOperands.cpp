#include "sdk/measurement/script/APMPOperands.h"

#include <cassert>

#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPNumberValue.h"

bool APMPNumberOperands(APMPArguments arguments, std::size_t count, std::array<double, 2>& numbers,
                        sdk::Error& error) {
    assert(count <= numbers.size());
    if (!APMPCheckArgumentCountEquals(arguments, count, error)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        numbers[i] = arguments[i]->doubleValueOrError(error);
        if (!error.ok()) {
            return false;
        }
    }
    return true;
}

APMPValueRef APMPNumber(double value) {
    return APMPNumberValue::make(value);
}
