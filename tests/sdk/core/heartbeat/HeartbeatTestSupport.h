#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sdk/core/heartbeat/Storage.h"
#include "sdk/utilities/Date.h"
#include "tests/support/Command.h"

namespace heartbeattest {

// 00:00:00 UTC of the given day plus `seconds`.
inline sdk::Date utc(int year, unsigned month, unsigned day, double seconds = 0) {
    using namespace std::chrono;
    const sys_days days{std::chrono::year(year) / std::chrono::month(month) /
                        std::chrono::day(day)};
    return sdk::Date::fromTimeIntervalSince1970(
        static_cast<double>(days.time_since_epoch().count()) * 86400.0 + seconds);
}

// Decodes a header value with tools that share no code with ours: tr back to the standard
// alphabet, "=" padding, base64 -d, gzip -dc. Returns "" for a value that is not web-safe.
inline std::string decodeHeader(const std::string& value) {
    if (value.find_first_of("=+/'") != std::string::npos) {
        return "";
    }
    std::string padded = value;
    padded.append((4 - padded.size() % 4) % 4, '=');
    return cb::testsupport::commandOutput("printf '%s' '" + padded +
                                          "' | tr '_-' '/+' | base64 -d | gzip -dc");
}

// A clock the test sets; shared by copies.
class ManualClock {
  public:
    void set(sdk::Date now) {
        std::lock_guard lock(state_->mutex);
        state_->now = now;
    }
    std::function<sdk::Date()> function() const {
        return [state = state_] {
            std::lock_guard lock(state->mutex);
            return state->now;
        };
    }

  private:
    struct State {
        std::mutex mutex;
        sdk::Date now;  // guarded by mutex
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// A Storage back end in memory whose bytes the test can read and whose reads or writes it can
// make fail.
class MemoryStorage final : public heartbeat::Storage {
  public:
    struct State {
        std::mutex mutex;
        std::optional<sdk::Bytes> bytes;  // guarded by mutex; none: nothing stored yet
        bool failReads = false;           // guarded by mutex
        bool failWrites = false;          // guarded by mutex
        int writes = 0;                   // guarded by mutex
    };

    explicit MemoryStorage(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::optional<heartbeat::StorageError> read(sdk::Bytes* out) override {
        std::lock_guard lock(state_->mutex);
        if (state_->failReads || !state_->bytes) {
            return heartbeat::StorageError::readError;
        }
        *out = *state_->bytes;
        return std::nullopt;
    }

    std::optional<heartbeat::StorageError> write(const std::optional<sdk::Bytes>& data) override {
        std::lock_guard lock(state_->mutex);
        if (state_->failWrites) {
            return heartbeat::StorageError::writeError;
        }
        ++state_->writes;
        state_->bytes = data.value_or(sdk::Bytes{});
        return std::nullopt;
    }

  private:
    std::shared_ptr<State> state_;
};

inline std::string text(const sdk::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace heartbeattest
