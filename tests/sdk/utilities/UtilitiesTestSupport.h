#pragma once

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sdk/utilities/VDULogger.h"

namespace sdktest {

// Sets an environment variable for the object's lifetime, then restores it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* saved = std::getenv(name)) {
            saved_ = saved;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

// Routes the logger to itself while it lives and records each line as
// "<subsystem> <line>", in order.
class LoggedLines {
  public:
    LoggedLines() {
        TEST_VDULoggerReset();
        TEST_VDULoggerSetSink(sink_);
    }
    ~LoggedLines() { TEST_VDULoggerSetSink(nullptr); }
    LoggedLines(const LoggedLines&) = delete;
    LoggedLines& operator=(const LoggedLines&) = delete;

    // Every line so far (waits for queued lines), and forgets them.
    std::vector<std::string> take() {
        TEST_VDULoggerFlush();
        std::lock_guard lock(sink_->mutex);
        return std::exchange(sink_->lines, {});
    }

  private:
    struct Sink : VDULogSink {
        struct Object : VDULogObject {
            Object(Sink* sink, std::string subsystem)
                : sink(sink), subsystem(std::move(subsystem)) {}
            bool isEnabled(VDULogType) const override { return true; }
            void write(VDULogType, const std::string& line) override {
                std::lock_guard lock(sink->mutex);
                sink->lines.push_back(subsystem + " " + line);
            }
            Sink* sink;
            std::string subsystem;
        };
        std::unique_ptr<VDULogObject> createLogObject(std::string_view subsystem,
                                                      std::string_view) override {
            return std::make_unique<Object>(this, std::string(subsystem));
        }
        std::mutex mutex;
        std::vector<std::string> lines;  // guarded by mutex
    };
    std::shared_ptr<Sink> sink_ = std::make_shared<Sink>();
};

}  // namespace sdktest
