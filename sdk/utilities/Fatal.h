#pragma once

#include <string_view>

namespace sdk {

// Ends the process for a broken invariant that the SDK cannot carry on from: first writes the
// lines still queued in the SDK's logger (VDULoggerFlush), then `message` on stderr, then
// aborts.
[[noreturn]] void abortWithMessage(std::string_view message);

}  // namespace sdk
