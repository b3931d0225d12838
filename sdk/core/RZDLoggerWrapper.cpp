#include "sdk/core/RZDLoggerWrapper.h"

#include "sdk/core/RZDLogger.h"

void RZDLoggerWrapper::logWithLevel(std::int64_t level, std::string_view service,
                                    std::string_view code, std::string_view message) {
    RZDLoggerLogBasic(level, service, code, message, nullptr);
}
