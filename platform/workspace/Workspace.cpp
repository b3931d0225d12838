#include "platform/workspace/Workspace.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QThread>
#include <QUrl>

namespace platform {

bool Workspace::openUrl(const std::string& url) {
    // Without a QGuiApplication there is no desktop session to talk to, and QDesktopServices
    // must not be used.
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr)
        return false;
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid())
        return false;
    if (QThread::currentThread() == app->thread())
        return QDesktopServices::openUrl(parsed);
    // QDesktopServices belongs to the GUI thread; hand the request over and do not wait.
    QMetaObject::invokeMethod(
        app, [parsed] { QDesktopServices::openUrl(parsed); }, Qt::QueuedConnection);
    return true;
}

Workspace& Workspace::shared() {
    static Workspace workspace;
    return workspace;
}

}  // namespace platform
