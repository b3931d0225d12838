#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/utilities/Error.h"

// The domain of the errors the promise library makes itself. Every other rejection carries the
// error that a source promise or a user callable produced, unchanged.
inline constexpr std::string_view kVPLPromiseErrorDomain = "com.vovidu.VPLPromises.Error";

// Codes of kVPLPromiseErrorDomain.
enum class VPLPromiseErrorCode : std::int64_t {
    kTimedOut = 1,           // a `timeout` interval passed before its source settled
    kValidationFailure = 2,  // a `validate` predicate returned false
    kAdoptsItself = 3,       // a promise was to settle as itself, which it never could
};

// Returns the error of kVPLPromiseErrorDomain with `code`; it carries no message or user info.
sdk::Error VPLPromiseError(VPLPromiseErrorCode code);

// Returns true when `error` is the library's own error with `code`.
bool VPLPromiseErrorIs(const sdk::Error& error, VPLPromiseErrorCode code);
