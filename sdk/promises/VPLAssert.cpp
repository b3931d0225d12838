#include "sdk/promises/VPLAssert.h"

#include <string>

#include "sdk/utilities/AssertionHandler.h"

namespace {

constexpr std::string_view kFile = "VPLPromise.cpp";

}  // namespace

bool VPLRequireParameter(bool satisfied, std::string_view name) {
    if (!satisfied) {
        sdk::handleInvalidParameter(kFile, name);
    }
    return satisfied;
}

bool VPLRequire(bool satisfied, std::string_view message) {
    if (!satisfied) {
        sdk::handleAssertionFailure(kFile, std::string(message));
    }
    return satisfied;
}
