#include "sdk/promises/VPLPromiseError.h"

#include <string>

sdk::Error VPLPromiseError(VPLPromiseErrorCode code) {
    return sdk::Error(std::string(kVPLPromiseErrorDomain), static_cast<std::int64_t>(code));
}

bool VPLPromiseErrorIs(const sdk::Error& error, VPLPromiseErrorCode code) {
    return error.is(kVPLPromiseErrorDomain, static_cast<std::int64_t>(code));
}
