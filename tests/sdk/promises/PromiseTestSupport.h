#pragma once

#include <chrono>
#include <ostream>
#include <stdexcept>
#include <string>

#include "platform/dispatch/MainQueue.h"
#include "sdk/promises/VPLPromise.h"

// Lets GoogleTest print values in failure messages.
inline void PrintTo(const VPLValue& value, std::ostream* os) {
    *os << value.description();
}

namespace promises_test {

inline constexpr auto kPatience = std::chrono::seconds(10);

// Drains the main queue until `promise` has settled; false when it is still pending after
// kPatience.
inline bool settles(const VPLPromise::Ptr& promise) {
    return platform::runMainQueueUntil([&] { return !promise->isPending(); }, kPatience);
}

// Drains the main queue until `done` holds; false after kPatience.
template <typename Done>
bool eventually(Done done) {
    return platform::runMainQueueUntil([&] { return static_cast<bool>(done()); }, kPatience);
}

// Runs the main queue until nothing is queued on it, including the blocks that the blocks it runs
// queue. Unlike a time window, this does not end early when a loaded machine is slow to run them.
inline void runQueuedMainBlocks() {
    while (platform::drainMainQueue() > 0) {
    }
}

// An error of a test domain, distinct per code.
inline sdk::Error testError(std::int64_t code) {
    return sdk::Error("test.domain", code, "failure " + std::to_string(code));
}

// The text of the std::logic_error that `call` throws; empty when it throws nothing.
template <typename Call>
std::string contractViolation(Call call) {
    try {
        call();
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return {};
}

}  // namespace promises_test
