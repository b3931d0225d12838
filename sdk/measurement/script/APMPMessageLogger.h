#pragma once

#include <memory>
#include <string>

#include "sdk/measurement/script/APMPModule.h"
#include "sdk/measurement/script/APMPixieLogger.h"

// The "internal.logger" module: the logging functions a program calls, over one logger.
class APMPMessageLogger : public APMPModule {
  public:
    explicit APMPMessageLogger(std::shared_ptr<APMPixieLogger> logger)
        : logger_(std::move(logger)) {}

    const std::string& name() const override { return name_; }
    const std::shared_ptr<APMPixieLogger>& logger() const { return logger_; }

  private:
    const std::string name_ = "internal.logger";
    std::shared_ptr<APMPixieLogger> logger_;
};
