#include "sdk/measurement/script/APMPError.h"

#include <string>

sdk::Error APMPError(APMPErrorCode code) {
    return sdk::Error(std::string(kAPMPErrorDomain), static_cast<std::int64_t>(code));
}

bool APMPIsError(const sdk::Error& error, APMPErrorCode code) {
    return error.is(kAPMPErrorDomain, static_cast<std::int64_t>(code));
}
