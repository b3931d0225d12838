#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/utilities/FormatString.h"

// Two class operations over the logger, for callers that hold a format and an argument list.
class VDULoggerWrapper {
  public:
    VDULoggerWrapper() = delete;

    // `VDULoggerLogMessage` with the force flag off. A null `arguments` uses `message` as is.
    static void logWithLevel(std::int64_t level, std::string_view subsystem,
                             std::string_view category, std::string_view messageCode,
                             std::string_view message, const sdk::FormatArgs* arguments);

    // The same with subsystem "com.vovidu.utilities.logger" and `service` as the category.
    static void logWithLevel(std::int64_t level, std::string_view service,
                             std::string_view messageCode, std::string_view message,
                             const sdk::FormatArgs* arguments);
};
