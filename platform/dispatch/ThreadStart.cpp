#include "platform/dispatch/ThreadStart.h"

#include <mutex>
#include <thread>
#include <utility>

namespace platform {

namespace {

struct StarterSlot {
    std::mutex mutex;
    ThreadStarter starter;  // guarded by mutex; empty: std::thread
};

StarterSlot& slot() {
    // Never destroyed: workers may start threads while the process exits.
    static StarterSlot* const instance = new StarterSlot();
    return *instance;
}

}  // namespace

void startDetachedThread(std::function<void()> body) {
    ThreadStarter starter;
    {
        StarterSlot& s = slot();
        std::lock_guard<std::mutex> lock(s.mutex);
        starter = s.starter;
    }
    if (starter) {
        starter(std::move(body));
        return;
    }
    std::thread(std::move(body)).detach();
}

void TEST_setThreadStarter(ThreadStarter starter) {
    StarterSlot& s = slot();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.starter = std::move(starter);
}

}  // namespace platform
