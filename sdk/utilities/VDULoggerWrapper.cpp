#include "sdk/utilities/VDULoggerWrapper.h"

#include "sdk/utilities/VDULogger.h"

void VDULoggerWrapper::logWithLevel(std::int64_t level, std::string_view subsystem,
                                    std::string_view category, std::string_view messageCode,
                                    std::string_view message, const sdk::FormatArgs* arguments) {
    VDULoggerLogMessage(level, subsystem, category, false, messageCode, message, arguments);
}

void VDULoggerWrapper::logWithLevel(std::int64_t level, std::string_view service,
                                    std::string_view messageCode, std::string_view message,
                                    const sdk::FormatArgs* arguments) {
    VDULoggerLogMessage(level, "com.vovidu.utilities.logger", service, false, messageCode, message,
                        arguments);
}
