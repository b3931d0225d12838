#include "app/FileViewer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace cb {

namespace {

// Opens the folder that holds `path` with the desktop's handler for folders.
void openEnclosingFolder(const std::filesystem::path& path, platform::Workspace& workspace) {
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) {
        folder = path;
    }
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(folder.string()));
    workspace.openUrl(url.toString(QUrl::FullyEncoded).toStdString());
}

}  // namespace

void showInFileViewer(const std::filesystem::path& path, bool isDirectory,
                      platform::Workspace& workspace) {
    QString local = QString::fromStdString(path.string());
    if (isDirectory && !local.endsWith('/')) {
        local += '/';  // the URL of a folder ends in "/"
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openEnclosingFolder(path, workspace);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(local).toString(QUrl::FullyEncoded)} << QString();
    // Owned by the application, so a reply still pending at exit is not leaked.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [path, &workspace](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) {
                             openEnclosingFolder(path, workspace);
                         }
                         finished->deleteLater();
                     });
}

}  // namespace cb
