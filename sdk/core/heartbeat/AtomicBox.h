#pragma once

#include <mutex>
#include <utility>

// A value that any thread may read and replace; every access holds the box's mutex.
template <typename T>
class AtomicBox {
  public:
    explicit AtomicBox(T value) : value_(std::move(value)) {}

    AtomicBox(const AtomicBox&) = delete;
    AtomicBox& operator=(const AtomicBox&) = delete;

    // A copy of the value.
    T value() const {
        std::lock_guard guard(lock_);
        return value_;
    }

    // Replaces the value.
    void setValue(T value) {
        std::lock_guard guard(lock_);
        value_ = std::move(value);
    }

    // Runs `body` with the value under the mutex (read, change or both) and returns its result.
    // REQUIRES: `body` does not use this box.
    template <typename Body>
    decltype(auto) withLock(Body&& body) {
        std::lock_guard guard(lock_);
        return std::forward<Body>(body)(value_);
    }

  private:
    T value_;  // guarded by lock_
    mutable std::mutex lock_;
};
