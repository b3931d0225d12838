#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace cb {

// Runs jobs off the UI thread, each on a thread of its own, and joins them all when it is
// destroyed, so no job outlives its owner.
//
// The jobs of the window state are few and long (a scan, a move to the Trash, a run of the
// snapshot tool, freeing a tree), so a thread per job is cheap and no job waits behind another.
// run() and waitForAll() are called from one thread (the owner's); the jobs themselves may run
// concurrently with anything.
class BackgroundWork {
  public:
    BackgroundWork() = default;
    ~BackgroundWork() { waitForAll(); }

    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Starts `job` on a new thread. Threads of jobs that have finished are joined first.
    // REQUIRES: `job` does not throw.
    void run(std::function<void()> job);

    // Blocks until every job started so far has finished, and joins their threads.
    void waitForAll();

  private:
    struct Worker {
        std::shared_ptr<std::atomic<bool>> done;
        std::thread thread;
    };

    std::list<Worker> workers_;  // owner's thread only
};

}  // namespace cb
