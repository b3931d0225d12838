#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/utilities/Error.h"

// Errors of the event-editing front end: its own domain, the codes below, no message and no
// user info. Script errors keep the runtime's domain (APMPError.h) and pass through unchanged.

inline constexpr std::string_view kAPMPEditingErrorDomain =
    "com.vovidu.vud.measurement.pixie.editing.ErrorDomain";

enum class APMPEditingErrorCode : std::int64_t {
    // The options map of a callback registration has no "type".
    kMissingCallbackType = 2,
    // The callback type is neither "create" nor "edit".
    kUnknownCallbackType = 3,
    // A callback was registered while the limit of callbacks was held.
    kTooManyCallbacks = 4,
    // A program's top-level statements end in a control value.
    kProgramEndsInControlValue = 5,
    // An activity entity does not evaluate to a map.
    kActivityRuleNotAMap = 6,
    // An activity names something that is not a function.
    kActivityNotAFunction = 7,
};

// An error of kAPMPEditingErrorDomain with `code`.
sdk::Error APMPEditingError(APMPEditingErrorCode code);
