#include "app/FileViewer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>

#include "tests/app/AppStateFakes.h"

namespace cb {
namespace {

using ::testing::ElementsAre;

// A session bus of the test's own, when dbus-daemon is installed; without one the process has
// no session bus at all.
class PrivateSessionBus : public ::testing::Environment {
  public:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        if (!daemon.isEmpty()) {
            daemon_.start(daemon, {"--session", "--nofork", "--print-address=1"});
            if (daemon_.waitForStarted() && daemon_.waitForReadyRead(5000)) {
                address_ = daemon_.readLine().trimmed();
            }
        }
        // Nothing at this address: the connection fails when there is no daemon.
        const QByteArray address = address_.isEmpty() ? "unix:path=/nonexistent/bus" : address_;
        setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
        testing::ensureCoreApplication();
    }
    void TearDown() override {
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.kill();
            daemon_.waitForFinished();
        }
    }

    static const QByteArray& address() { return address_; }

  private:
    QProcess daemon_;
    static inline QByteArray address_;
};

[[maybe_unused]] ::testing::Environment* const kBus =
    ::testing::AddGlobalTestEnvironment(new PrivateSessionBus);

class RecordingWorkspace : public platform::Workspace {
  public:
    bool openUrl(const std::string& url) override {
        urls.push_back(url);
        return true;
    }
    std::vector<std::string> urls;
};

// Answers ShowItems as a file manager would, recording what it was asked to show.
class FakeFileManager : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != "org.freedesktop.FileManager1" ||
            message.member() != "ShowItems") {
            return false;
        }
        shown.push_back(message.arguments().value(0).toStringList());
        connection.send(message.createReply());
        return true;
    }
    std::vector<QStringList> shown;
};

TEST(FileViewerTest, WithoutAFileManagerTheEnclosingFolderIsOpened) {
    RecordingWorkspace workspace;
    showInFileViewer("/data/some folder/report.pdf", false, workspace);
    showInFileViewer("/data/projects", true, workspace);
    ASSERT_TRUE(testing::waitFor([&] { return workspace.urls.size() == 2; }));
    EXPECT_THAT(workspace.urls, ElementsAre("file:///data/some%20folder", "file:///data"));
}

TEST(FileViewerTest, TheFileManagerShowsTheItemSelected) {
    if (PrivateSessionBus::address().isEmpty()) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    QDBusConnection service =
        QDBusConnection::connectToBus(QString::fromLatin1(PrivateSessionBus::address()), "fm");
    ASSERT_TRUE(service.isConnected());
    FakeFileManager fileManager;
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/FileManager1", &fileManager));
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));

    RecordingWorkspace workspace;
    showInFileViewer("/data/some folder/report.pdf", false, workspace);
    showInFileViewer("/data/projects", true, workspace);
    ASSERT_TRUE(testing::waitFor([&] { return fileManager.shown.size() == 2; }));
    EXPECT_EQ(fileManager.shown[0], QStringList{"file:///data/some%20folder/report.pdf"});
    EXPECT_EQ(fileManager.shown[1], QStringList{"file:///data/projects/"});
    QTest::qWait(50);
    EXPECT_TRUE(workspace.urls.empty());

    service.unregisterService("org.freedesktop.FileManager1");
    service.unregisterObject("/org/freedesktop/FileManager1");
    QDBusConnection::disconnectFromBus("fm");
}

}  // namespace
}  // namespace cb
