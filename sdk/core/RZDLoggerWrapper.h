#pragma once

#include <cstdint>
#include <string_view>

// For callers that hold a finished message text: logs it verbatim, so a "%@" or "%d" inside the
// text is printed as it stands.
class RZDLoggerWrapper {
  public:
    RZDLoggerWrapper() = delete;

    // RZDLoggerLogBasic with no argument list. Safe from any thread.
    static void logWithLevel(std::int64_t level, std::string_view service, std::string_view code,
                             std::string_view message);
};
