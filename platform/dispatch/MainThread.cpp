#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/dispatch/MainQueue.h"

namespace platform {

namespace {

// The registered main thread; a default id (no thread) until one registers.
std::atomic<std::thread::id> gMainThread{};

}  // namespace

void registerMainThread() {
    gMainThread.store(std::this_thread::get_id(), std::memory_order_release);
}

bool isMainThread() {
    const std::thread::id registered = gMainThread.load(std::memory_order_acquire);
    if (registered != std::thread::id()) {
        return registered == std::this_thread::get_id();
    }
    return gettid() == getpid();
}

}  // namespace platform
