#include "sdk/measurement/script/APMPEditingError.h"

#include <string>

sdk::Error APMPEditingError(APMPEditingErrorCode code) {
    return sdk::Error(std::string(kAPMPEditingErrorDomain), static_cast<std::int64_t>(code));
}
