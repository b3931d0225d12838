#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/utilities/Error.h"

// Errors of the script runtime: one domain, the codes below, no message and no user info.

inline constexpr std::string_view kAPMPErrorDomain = "com.vovidu.vud.measurement.pixie.ErrorDomain";

enum class APMPErrorCode : std::int64_t {
    kUndeclaredVariable = 2,
    kNoBooleanValue = 3,
    kNoNumberValue = 4,
    kNoStringValue = 5,
    kPropertyWriteOnNothing = 6,
    kMethodCallOnNothing = 7,
    kReduceOfEmptyArray = 8,
    kArgumentCount = 9,
    kArgumentKind = 10,
    kInvalidArrayLength = 11,
    kInvalidEntityType = 12,
    kUnsupportedObject = 13,
    kStatementWithoutName = 14,
    kModuleWithoutValue = 15,
    kNotIterable = 16,
    kUnknownMethod = 17,
    // The instruction budget, the memory cap or the depth limit was exceeded.
    kLimitExceeded = 18,
};

// An error of kAPMPErrorDomain with `code`.
sdk::Error APMPError(APMPErrorCode code);

// True when `error` is the script runtime's error `code`.
bool APMPIsError(const sdk::Error& error, APMPErrorCode code);
