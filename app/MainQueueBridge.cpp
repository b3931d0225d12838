#include "app/MainQueueBridge.h"

#include <QCoreApplication>

#include "platform/dispatch/MainQueue.h"

namespace cb {

MainQueueBridge::MainQueueBridge() {
    QCoreApplication* application = QCoreApplication::instance();
    platform::setMainQueueWakeup([application] {
        // Any thread: a queued call is the one thread-safe way into the event loop.
        QMetaObject::invokeMethod(
            application, [] { platform::drainMainQueue(); }, Qt::QueuedConnection);
    });
    // Blocks queued before the bridge existed.
    QMetaObject::invokeMethod(
        application, [] { platform::drainMainQueue(); }, Qt::QueuedConnection);
}

MainQueueBridge::~MainQueueBridge() {
    platform::setMainQueueWakeup({});
}

}  // namespace cb
