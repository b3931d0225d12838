#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sdk {

// Where the SDK reports a broken contract (a required argument missing, an internal state
// that cannot happen), in place of the platform's per-thread assertion handler.

// Thrown by the default handler.
class InternalInconsistencyException : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

// Receives the reporting source file's name and the message.
using AssertionHandler = std::function<void(std::string_view file, const std::string& message)>;

// Installs `handler` for the calling thread and returns the one it replaces (empty for the
// default). An empty handler restores the default.
AssertionHandler setCurrentThreadAssertionHandler(AssertionHandler handler);

// Reports a failed assertion to the calling thread's handler. The default handler throws
// InternalInconsistencyException with `message`; when an installed handler returns, the
// caller carries on as the contract of its function says.
void handleAssertionFailure(std::string_view file, const std::string& message);

// Reports a missing required argument: "Invalid parameter not satisfying: <parameter>".
void handleInvalidParameter(std::string_view file, std::string_view parameter);

}  // namespace sdk
