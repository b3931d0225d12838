#include "sdk/core/RZDConfiguration.h"

#include "sdk/core/REROdazadeveConfiguration.h"
#include "sdk/core/RZDLogger.h"
#include "sdk/utilities/AssertionHandler.h"

RZDConfiguration& RZDConfiguration::sharedInstance() {
    static RZDConfiguration* const instance = new RZDConfiguration();  // lives until exit
    return *instance;
}

RZDConfiguration::RZDConfiguration()
    : analyticsConfiguration_(REROdazadeveConfiguration::sharedInstance()) {}

std::int64_t RZDConfiguration::loggerLevel() const {
    std::lock_guard lock(mutex_);
    return RZDLoggerGetLevel();
}

void RZDConfiguration::setLoggerLevel(std::int64_t level) {
    if (level < 3 || level > 7) {
        sdk::handleAssertionFailure(
            __FILE__, sdk::formatString("Invalid logger level, %ld", {{sdk::FormatArg(level)}}));
        return;
    }
    std::lock_guard lock(mutex_);
    RZDLoggerSetLevel(level);
}

std::shared_ptr<REROdazadeveConfiguration> RZDConfiguration::analyticsConfiguration() const {
    std::lock_guard lock(mutex_);
    return analyticsConfiguration_;
}

void RZDConfiguration::setAnalyticsConfiguration(
    std::shared_ptr<REROdazadeveConfiguration> configuration) {
    std::lock_guard lock(mutex_);
    analyticsConfiguration_ = std::move(configuration);
}
