#pragma once

#include <memory>

namespace cb {

// Drains the platform dispatch layer's main queue on the Qt event loop: while it exists, every
// block queued on the main queue (also by a timer) posts one event to the application object,
// whose handler runs the queued blocks on the UI thread.
//
// REQUIRES: a QCoreApplication exists for the bridge's whole life; one bridge at a time.
class MainQueueBridge {
  public:
    MainQueueBridge();
    // Removes the hook; blocks queued afterwards wait until someone drains the queue.
    ~MainQueueBridge();

    MainQueueBridge(const MainQueueBridge&) = delete;
    MainQueueBridge& operator=(const MainQueueBridge&) = delete;

  private:
    struct Link;
    std::shared_ptr<Link> link_;  // shared with the installed hook
};

}  // namespace cb
