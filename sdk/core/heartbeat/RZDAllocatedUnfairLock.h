#pragma once

#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <variant>

// A value guarded by a lock that lives in its own heap allocation.
//
// `withLock` runs a body under the lock and releases it on every path out, a thrown exception
// included. The lock is not reentrant: a body must not take the same lock again.
//
// Thread-safety: every member may be called from any thread.
template <typename State = std::monostate>
class RZDAllocatedUnfairLock {
  public:
    RZDAllocatedUnfairLock() requires std::is_default_constructible_v<State>
    = default;
    explicit RZDAllocatedUnfairLock(State initialState) : state_(std::move(initialState)) {}

    RZDAllocatedUnfairLock(const RZDAllocatedUnfairLock&) = delete;
    RZDAllocatedUnfairLock& operator=(const RZDAllocatedUnfairLock&) = delete;

    // Take and release the lock directly. REQUIRES: each lock() is followed by one unlock() on
    // the same thread.
    void lock() { lockPointer_->lock(); }
    void unlock() { lockPointer_->unlock(); }

    // Runs `body` under the lock and returns its result. A body that takes `State&` may read
    // and change the state; a body without parameters only runs under the lock. An exception
    // the body throws leaves the lock released and the state as the body left it.
    template <typename Body>
    decltype(auto) withLock(Body&& body) {
        std::lock_guard guard(*lockPointer_);
        if constexpr (std::is_invocable_v<Body, State&>) {
            return std::forward<Body>(body)(state_);
        } else {
            return std::forward<Body>(body)();
        }
    }

    // A copy of the state, taken under the lock.
    State value() const {
        std::lock_guard guard(*lockPointer_);
        return state_;
    }

  private:
    const std::unique_ptr<std::mutex> lockPointer_ = std::make_unique<std::mutex>();
    State state_{};  // guarded by *lockPointer_
};
