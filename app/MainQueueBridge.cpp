#include "app/MainQueueBridge.h"

#include <QCoreApplication>
#include <mutex>

#include "platform/dispatch/MainQueue.h"

namespace cb {

// Shared between the bridge and its hook. The hook may be running on another thread at the
// moment the bridge goes away; the pointer, read under the mutex, keeps it from posting to an
// application that is being destroyed.
struct MainQueueBridge::Link {
    std::mutex mutex;
    QCoreApplication* application = nullptr;  // guarded by mutex; null once the bridge is gone
};

namespace {

void postDrain(QCoreApplication* application) {
    QMetaObject::invokeMethod(
        application, [] { platform::drainMainQueue(); }, Qt::QueuedConnection);
}

}  // namespace

MainQueueBridge::MainQueueBridge() : link_(std::make_shared<Link>()) {
    link_->application = QCoreApplication::instance();
    platform::setMainQueueWakeup([link = link_] {
        // Any thread: a queued call is the one thread-safe way into the event loop.
        std::lock_guard lock(link->mutex);
        if (link->application != nullptr) {
            postDrain(link->application);
        }
    });
    postDrain(link_->application);  // blocks queued before the bridge existed
}

MainQueueBridge::~MainQueueBridge() {
    platform::setMainQueueWakeup({});
    std::lock_guard lock(link_->mutex);
    link_->application = nullptr;
}

}  // namespace cb
