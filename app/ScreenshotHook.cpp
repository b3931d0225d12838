#include "app/ScreenshotHook.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/CellarbrightApp.h"
#include "app/ContentView.h"
#include "app/WindowBackground.h"

namespace cb {

namespace {

// Long enough for the focus spring, the tooltip fade and the overlay animations to end.
constexpr int kSettleMs = 800;
constexpr int kGiveUpMs = 120'000;

int visibleTopLevelWindows() {
    int count = 0;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->isWindow()) {
            ++count;
        }
    }
    return count;
}

void saveAndQuit(WindowBackground& window, const QString& file) {
    const bool saved = window.grab().save(file, "PNG");
    std::printf("window %dx%d, top-level windows %d, icon %s\n", window.width(), window.height(),
                visibleTopLevelWindows(), window.windowIcon().isNull() ? "none" : "set");
    std::fflush(stdout);
    QCoreApplication::exit(saved ? 0 : 1);
}

}  // namespace

void installScreenshotHook(CellarbrightApp& app) {
    const QString file = qEnvironmentVariable("CELLARBRIGHT_TEST_SCREENSHOT");
    if (file.isEmpty()) {
        return;
    }
    const QString folder = qEnvironmentVariable("CELLARBRIGHT_TEST_SCAN");
    // Refreshes still to do before the picture (one, or none).
    auto refreshes = std::make_shared<int>(
        !folder.isEmpty() && qEnvironmentVariable("CELLARBRIGHT_TEST_REFRESH") == "1" ? 1 : 0);
    ContentView& content = app.content();
    WindowBackground& window = app.window();
    auto* poll = new QTimer(&window);
    poll->setInterval(100);
    QObject::connect(
        poll, &QTimer::timeout, &window, [&content, &window, poll, file, folder, refreshes] {
            const ContentView::FolderPage wanted = folder.isEmpty()
                                                       ? ContentView::FolderPage::welcome
                                                       : ContentView::FolderPage::diskMap;
            if (content.folderPage() != wanted || !window.isVisible() ||
                content.state().isRefreshing()) {
                return;
            }
            if (*refreshes > 0) {
                --*refreshes;
                content.state().refresh();
                return;
            }
            poll->stop();
            QTimer::singleShot(kSettleMs, &window, [&window, file] { saveAndQuit(window, file); });
        });
    QTimer::singleShot(0, &window, [&content, poll, folder] {
        if (!folder.isEmpty()) {
            // Past the access gate: the picture is of the map, not the prompt.
            content.state().scan(std::filesystem::path(folder.toStdString()), std::nullopt);
        }
        poll->start();
    });
    QTimer::singleShot(kGiveUpMs, &window, [] {
        std::fprintf(stderr, "screenshot: the window did not settle\n");
        QCoreApplication::exit(1);
    });
}

}  // namespace cb
