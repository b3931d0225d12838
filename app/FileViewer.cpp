#include "app/FileViewer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "platform/workspace/Workspace.h"

namespace cb {

namespace {

// Opens the folder that holds `path` with the desktop's handler for folders.
void openEnclosingFolder(const std::filesystem::path& path) {
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) {
        folder = path;
    }
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(folder.string()));
    platform::Workspace::shared().openUrl(url.toString(QUrl::FullyEncoded).toStdString());
}

}  // namespace

void showInFileViewer(const std::filesystem::path& path, bool isDirectory) {
    QString local = QString::fromStdString(path.string());
    if (isDirectory && !local.endsWith('/')) {
        local += '/';  // the URL of a folder ends in "/"
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openEnclosingFolder(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(local).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [path](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) {
                             openEnclosingFolder(path);
                         }
                         finished->deleteLater();
                     });
}

}  // namespace cb
