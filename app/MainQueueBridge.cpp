#include "app/MainQueueBridge.h"

#include <QCoreApplication>
#include <atomic>
#include <mutex>

#include "platform/dispatch/MainQueue.h"

namespace cb {

// Shared between the bridge and its hook. The hook may be running on another thread at the
// moment the bridge goes away; the pointer, read under the mutex, keeps it from posting to an
// application that is being destroyed.
//
// Wakeups are merged: while a drain event is posted and has not started, further blocks post
// nothing, because that drain runs them too. The event clears the flag before it drains, so a
// block queued after the drain took its snapshot posts a new event.
struct MainQueueBridge::Link {
    std::mutex mutex;
    QCoreApplication* application = nullptr;  // guarded by mutex; null once the bridge is gone
    std::atomic<bool> drainPosted{false};
};

namespace {

void postDrain(const std::shared_ptr<MainQueueBridge::Link>& link) {
    if (link->drainPosted.exchange(true)) {
        return;  // the posted drain has not started yet and will run this block too
    }
    QMetaObject::invokeMethod(
        link->application,
        [link] {
            link->drainPosted.store(false);
            platform::drainMainQueue();
        },
        Qt::QueuedConnection);
}

}  // namespace

MainQueueBridge::MainQueueBridge() : link_(std::make_shared<Link>()) {
    link_->application = QCoreApplication::instance();
    platform::registerMainThread();
    platform::setMainQueueWakeup([link = link_] {
        // Any thread: a queued call is the one thread-safe way into the event loop.
        std::lock_guard lock(link->mutex);
        if (link->application != nullptr) {
            postDrain(link);
        }
    });
    std::lock_guard lock(link_->mutex);
    postDrain(link_);  // blocks queued before the bridge existed
}

MainQueueBridge::~MainQueueBridge() {
    platform::setMainQueueWakeup({});
    std::lock_guard lock(link_->mutex);
    link_->application = nullptr;
}

}  // namespace cb
