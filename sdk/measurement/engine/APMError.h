#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMMonitorContext.h"
#include "sdk/utilities/Error.h"

// Errors of the measurement SDK: one domain, small codes chosen by each caller, the message as
// the localized description and an optional monitor context (the short, comma-separated text
// the store builds to say which operation failed and how).

// The domain of every measurement error.
inline constexpr std::string_view kAPMErrorDomain = "com.vovidu.vud.measurement.ErrorDomain";

// The user-info key of the monitor context.
inline constexpr std::string_view kAPMMonitorContextKey = "APMMonitorContext";

// Returns an error of kAPMErrorDomain with `code`. `description` is stored as the localized
// description and `monitorContext` under kAPMMonitorContextKey, each only when not empty.
sdk::Error apm_errorWithCode(std::int64_t code, std::string_view description,
                             std::string_view monitorContext = {});

// The monitor context of a measurement error; empty when it has none.
std::string_view APMMonitorContextOfError(const sdk::Error& error);

// Stores apm_errorWithCode(code, description) in *error; does nothing when `error` is null.
void APMSetErrorWithCode(sdk::Error* error, std::int64_t code, std::string_view description);

// As APMSetErrorWithCode, with a monitor context.
void APMSetErrorWithCodeAndContext(sdk::Error* error, std::int64_t code,
                                   std::string_view description, std::string_view context);

// The checks below return true when their condition holds; otherwise they store the error
// (code, description) as APMSetErrorWithCode does (when `error` is not null) and return false.

// For lengths and counts: holds when `value` is not zero.
bool APMCheckNonZeroOrSetError(std::uint64_t value, sdk::Error* error, std::int64_t code,
                               std::string_view description);

// Holds when `object` is present: a non-null pointer or smart pointer, an engaged optional, a
// callable std::function.
template <typename T>
bool APMCheckNotNilOrSetError(const T& object, sdk::Error* error, std::int64_t code,
                              std::string_view description) {
    if (static_cast<bool>(object)) {
        return true;
    }
    APMSetErrorWithCode(error, code, description);
    return false;
}

// Holds when `condition` is true.
bool APMCheckTrueOrSetError(bool condition, sdk::Error* error, std::int64_t code,
                            std::string_view description);

// For raw handles (a database connection, a statement): holds when `pointer` is not null.
bool APMCheckNotNullOrSetError(const void* pointer, sdk::Error* error, std::int64_t code,
                               std::string_view description);

// The non-empty monitor contexts of those `contexts` that are errors of kAPMErrorDomain,
// joined with ","; empty when there are none.
std::string APMJoinedErrorContexts(const std::vector<APMMonitorContext>& contexts);
