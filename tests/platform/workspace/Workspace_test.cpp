#include <QDesktopServices>
#include <QGuiApplication>
#include <QObject>
#include <QUrl>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/workspace/Workspace.h"

namespace {

// Stands in for the desktop's handler of one URL scheme.
class RecordingHandler : public QObject {
    Q_OBJECT

  public:
    std::vector<std::string> opened;

  public slots:
    void open(const QUrl& url) { opened.push_back(url.toString().toStdString()); }
};

TEST(WorkspaceTest, OpensOnlyWithAGraphicalApplicationAndFromAnyThread) {
    const std::string url =
        "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_AllFiles";
    // No application object yet: nothing happens, and nothing crashes.
    EXPECT_FALSE(platform::Workspace::shared().openUrl(url));

    int argc = 1;
    char name[] = "workspace_test";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    RecordingHandler handler;
    QDesktopServices::setUrlHandler("x-apple.systempreferences", &handler, "open");

    EXPECT_TRUE(platform::Workspace::shared().openUrl(url));
    ASSERT_EQ(handler.opened, std::vector<std::string>{url});

    std::thread worker([&] { EXPECT_TRUE(platform::Workspace::shared().openUrl(url + "2")); });
    worker.join();
    EXPECT_EQ(handler.opened.size(), 1u);  // queued for the GUI thread
    QCoreApplication::processEvents();
    EXPECT_EQ(handler.opened.back(), url + "2");

    EXPECT_FALSE(platform::Workspace::shared().openUrl("not a url: \x01"));
    QDesktopServices::unsetUrlHandler("x-apple.systempreferences");
}

}  // namespace

#include "Workspace_test.moc"
