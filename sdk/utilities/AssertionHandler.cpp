#include "sdk/utilities/AssertionHandler.h"

#include <utility>

namespace sdk {

namespace {

thread_local AssertionHandler tHandler;

}  // namespace

AssertionHandler setCurrentThreadAssertionHandler(AssertionHandler handler) {
    return std::exchange(tHandler, std::move(handler));
}

void handleAssertionFailure(std::string_view file, const std::string& message) {
    if (tHandler) {
        tHandler(file, message);
        return;
    }
    throw InternalInconsistencyException(message);
}

void handleInvalidParameter(std::string_view file, std::string_view parameter) {
    handleAssertionFailure(file, "Invalid parameter not satisfying: " + std::string(parameter));
}

}  // namespace sdk
