#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/analytics/REROdazadeveSink.h"

namespace sdktest {

// Records every call it receives as one line of text, in order:
//   start <appID> <origin> | event <origin> <name> <parameters or "none">
//   user_property <name>=<value or "none"> | default_parameters <parameters or "none">
class RecordingSink : public REROdazadeveSink {
  public:
    void startWithAppID(const std::string& appID, const std::string& origin,
                        const std::shared_ptr<REROdazadeveConfiguration>& configuration,
                        const sdk::Value::Dictionary& options) override {
        add("start " + appID + " " + origin);
        std::lock_guard lock(mutex_);
        startConfiguration_ = configuration;
        startOptions_ = options;
    }
    void logEventWithOrigin(const std::string& origin, const std::string& name,
                            const std::optional<sdk::Value::Dictionary>& parameters) override {
        add("event " + origin + " " + name + " " + describe(parameters));
        std::lock_guard lock(mutex_);
        lastParameters_ = parameters;
    }
    void setUserPropertyString(const std::optional<std::string>& value,
                               const std::string& name) override {
        add("user_property " + name + "=" + value.value_or("none"));
    }
    void setDefaultEventParameters(
        const std::optional<sdk::Value::Dictionary>& parameters) override {
        add("default_parameters " + describe(parameters));
    }

    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // What the last start carried.
    std::shared_ptr<REROdazadeveConfiguration> startConfiguration() const {
        std::lock_guard lock(mutex_);
        return startConfiguration_;
    }
    sdk::Value::Dictionary startOptions() const {
        std::lock_guard lock(mutex_);
        return startOptions_;
    }
    std::optional<sdk::Value::Dictionary> lastParameters() const {
        std::lock_guard lock(mutex_);
        return lastParameters_;
    }

  private:
    static std::string describe(const std::optional<sdk::Value::Dictionary>& parameters) {
        return parameters ? sdk::Value(*parameters).description() : "none";
    }
    void add(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;                                 // guarded by mutex_
    std::optional<sdk::Value::Dictionary> lastParameters_;           // guarded by mutex_
    std::shared_ptr<REROdazadeveConfiguration> startConfiguration_;  // guarded by mutex_
    sdk::Value::Dictionary startOptions_;                            // guarded by mutex_
};

}  // namespace sdktest
