#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

class REROdazadeveConfiguration;

// The process-wide core configuration: the logger level (kept by the shared logger, not here)
// and the analytics configuration handed to the analytics interface at start. Safe from any
// thread.
class RZDConfiguration {
  public:
    // The one instance, made on the first call; its analytics configuration is the shared
    // REROdazadeveConfiguration.
    static RZDConfiguration& sharedInstance();

    // The logging layer's current level (RZDLoggerGetLevel).
    std::int64_t loggerLevel() const;

    // Sets the logging layer's level. REQUIRES: 3 <= level <= 7; another level is reported to
    // the calling thread's assertion handler ("Invalid logger level, <level>") and, when that
    // handler returns, changes nothing.
    void setLoggerLevel(std::int64_t level);

    std::shared_ptr<REROdazadeveConfiguration> analyticsConfiguration() const;
    void setAnalyticsConfiguration(std::shared_ptr<REROdazadeveConfiguration> configuration);

    RZDConfiguration();
    RZDConfiguration(const RZDConfiguration&) = delete;
    RZDConfiguration& operator=(const RZDConfiguration&) = delete;

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<REROdazadeveConfiguration> analyticsConfiguration_;  // guarded by mutex_
};
