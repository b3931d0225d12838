#include "app/BackgroundWork.h"

#include <utility>

namespace cb {

void BackgroundWork::run(std::function<void()> job) {
    workers_.remove_if([](Worker& worker) {
        if (!worker.done->load(std::memory_order_acquire)) {
            return false;
        }
        worker.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([job = std::move(job), done] {
        job();
        done->store(true, std::memory_order_release);
    });
    workers_.push_back({std::move(done), std::move(thread)});
}

void BackgroundWork::waitForAll() {
    for (Worker& worker : workers_) {
        worker.thread.join();
    }
    workers_.clear();
}

}  // namespace cb
