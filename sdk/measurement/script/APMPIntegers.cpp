#include "sdk/measurement/script/APMPIntegers.h"

#include <cmath>
#include <limits>

#include "sdk/measurement/script/APMPError.h"

namespace {

// The truncated value modulo 2^32 as the low 32 bits of a two's-complement integer.
std::uint32_t low32(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    const double remainder = std::fmod(std::trunc(value), 4294967296.0);
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(remainder));
}

bool checkCount(bool holds, sdk::Error& error) {
    if (!holds) {
        error = APMPError(APMPErrorCode::kArgumentCount);
    }
    return holds;
}

}  // namespace

std::int32_t APMPToInt32(double value) {
    return static_cast<std::int32_t>(low32(value));
}

std::uint32_t APMPToUint32(double value) {
    return low32(value);
}

double APMPToInteger(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value == 0 || std::isinf(value)) {
        return value;
    }
    return std::trunc(value);
}

std::int64_t APMPToInt64Saturating(double value) {
    const double integer = APMPToInteger(value);
    // 2^63 is exactly representable; anything at or above it saturates.
    if (integer >= 9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (integer <= -9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(integer);
}

bool APMPIsArrayIndex(const APMPRuntimeValue& value) {
    if (value.kind() != APMPValueKind::kNumber && value.kind() != APMPValueKind::kString) {
        return false;
    }
    sdk::Error error;
    const double number = value.doubleValueOrError(error);
    return error.ok() && std::isfinite(number) && number >= 0 && std::trunc(number) == number;
}

bool APMPIsObjectLike(const APMPRuntimeValue& value) {
    switch (value.kind()) {
        case APMPValueKind::kArray:
        case APMPValueKind::kFunction:
        case APMPValueKind::kMap:
        case APMPValueKind::kString:
            return true;
        default:
            return false;
    }
}

bool APMPCheckArgumentCountEquals(APMPArguments arguments, std::size_t count, sdk::Error& error) {
    return checkCount(arguments.size() == count, error);
}

bool APMPCheckArgumentCountAtLeast(APMPArguments arguments, std::size_t count, sdk::Error& error) {
    return checkCount(arguments.size() >= count, error);
}

bool APMPCheckArgumentCountAtMost(APMPArguments arguments, std::size_t count, sdk::Error& error) {
    return checkCount(arguments.size() <= count, error);
}
