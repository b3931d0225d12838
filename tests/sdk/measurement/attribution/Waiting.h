#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace sdktest {

// Waits (up to a generous limit, so a broken test fails instead of hanging) until `done`,
// checked under `mutex` each time `changed` is signalled.
inline bool waitFor(std::mutex& mutex, std::condition_variable& changed,
                    const std::function<bool()>& done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), done);
}

}  // namespace sdktest
