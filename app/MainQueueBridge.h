#pragma once

#include <memory>

namespace cb {

// Drains the platform dispatch layer's main queue on the Qt event loop: while it exists, a block
// queued on the main queue (also by a timer) posts an event to the application object, whose
// handler runs the queued blocks on the UI thread. A burst of blocks posts one event, not one
// per block. The thread that makes the bridge becomes the dispatch layer's main thread.
//
// REQUIRES: made on the thread that runs the Qt event loop; a QCoreApplication exists for the
// bridge's whole life; one bridge at a time.
class MainQueueBridge {
  public:
    MainQueueBridge();
    // Removes the hook; blocks queued afterwards wait until someone drains the queue.
    ~MainQueueBridge();

    MainQueueBridge(const MainQueueBridge&) = delete;
    MainQueueBridge& operator=(const MainQueueBridge&) = delete;

    struct Link;  // shared with the installed hook and the posted events

  private:
    std::shared_ptr<Link> link_;
};

}  // namespace cb
