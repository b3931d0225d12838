#include <QDesktopServices>
#include <QGuiApplication>
#include <QObject>
#include <QUrl>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/workspace/Workspace.h"
#include "tests/support/BundledProcess.h"
#include "tests/support/TempDir.h"

namespace {

namespace ts = cb::testsupport;

std::optional<platform::RunningApplication> findPid(
    const std::vector<platform::RunningApplication>& running, pid_t pid) {
    auto found = std::find_if(running.begin(), running.end(),
                              [pid](const auto& app) { return app.pid == pid; });
    return found == running.end() ? std::nullopt : std::make_optional(*found);
}

TEST(WorkspaceTest, ListsProcessesWithTheIdentifierOfTheBundleTheyRunFrom) {
    ts::TempDir dir;
    ts::BundledProcess fixture(dir.path(), "Fixture.app", "com.example.fixture", "fixture");
    ts::BundledProcess upper(dir.path() / "Apps", "Tool.APP", "com.example.tool", "tool");
    ts::BundledProcess broken(dir.path(), "Broken.app", "", "broken");  // empty identifier

    const std::vector<platform::RunningApplication> running =
        platform::Workspace::shared().runningApplications();
    EXPECT_TRUE(std::is_sorted(running.begin(), running.end(),
                               [](const auto& a, const auto& b) { return a.pid < b.pid; }));
    EXPECT_EQ(findPid(running, fixture.pid()),
              (platform::RunningApplication{fixture.pid(), "com.example.fixture"}));
    EXPECT_EQ(findPid(running, upper.pid()),
              (platform::RunningApplication{upper.pid(), "com.example.tool"}));
    EXPECT_EQ(findPid(running, broken.pid()),
              (platform::RunningApplication{broken.pid(), std::nullopt}));
    // This test program does not run from a bundle.
    EXPECT_EQ(findPid(running, ::getpid()),
              (platform::RunningApplication{::getpid(), std::nullopt}));
}

TEST(WorkspaceTest, TerminateEndsTheProcessWithSigterm) {
    ts::TempDir dir;
    ts::BundledProcess fixture(dir.path(), "Fixture.app", "com.example.fixture", "fixture");
    platform::Workspace::shared().terminate(fixture.pid());
    EXPECT_EQ(fixture.wait(), SIGTERM);
}

TEST(WorkspaceTest, TerminateIgnoresPidsThatNameProcessGroups) {
    // kill(0, ...) would signal our own process group: try it in a child that leads its own.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setpgid(0, 0);
        platform::Workspace::shared().terminate(0);
        ::_exit(7);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
}

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

namespace {

// A bundle whose executable "Contents/MacOS/run" is `script` (a shell script).
std::filesystem::path makeScriptBundle(const std::filesystem::path& bundle,
                                       const std::string& script) {
    std::filesystem::create_directories(bundle / "Contents" / "MacOS");
    std::ofstream(bundle / "Contents" / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>com.example.script</string>"
           "<key>CFBundleExecutable</key><string>run</string></dict></plist>\n";
    const auto executable = bundle / "Contents" / "MacOS" / "run";
    std::ofstream(executable) << "#!/bin/sh\n" << script;
    std::filesystem::permissions(executable, std::filesystem::perms::owner_all);
    return bundle;
}

bool waitForFile(const std::filesystem::path& file) {
    for (int i = 0; i < 500 && !std::filesystem::exists(file); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::filesystem::exists(file);
}

TEST(WorkspaceOpenApplicationTest, StartsTheExecutableDetachedInItsOwnSession) {
    ts::TempDir dir;
    const auto marker = dir.path() / "marker";
    // The script records its working folder and its session.
    const auto bundle = makeScriptBundle(dir.path() / "Script.app",
                                         "sid=$(cut -d' ' -f6 /proc/$$/stat)\n"
                                         "echo \"$(pwd) $sid\" > '" +
                                             (dir.path() / "marker.tmp").string() + "'\nmv '" +
                                             (dir.path() / "marker.tmp").string() + "' '" +
                                             marker.string() + "'\n");
    ASSERT_TRUE(platform::Workspace::shared().openApplication(bundle));
    ASSERT_TRUE(waitForFile(marker));
    std::string folder;
    pid_t session = 0;
    std::ifstream(marker) >> folder >> session;
    EXPECT_EQ(folder, dir.path().string());
    EXPECT_GT(session, 0);
    EXPECT_NE(session, ::getsid(0));
}

TEST(WorkspaceOpenApplicationTest, ABundleWithoutAnExecutableStartsNothing) {
    ts::TempDir dir;
    const auto bundle = makeScriptBundle(dir.path() / "Gone.app", "exit 0\n");
    std::filesystem::remove(bundle / "Contents" / "MacOS" / "run");
    EXPECT_FALSE(platform::Workspace::shared().openApplication(bundle));
    EXPECT_FALSE(platform::Workspace::shared().openApplication(dir.path() / "Missing.app"));
}

}  // namespace
