#pragma once

// Helpers for the disk-map view tests: the test binary's QApplication, a small fixture tree
// built in memory, synthetic pointer events and PNG renders under CB_TEST_OUTPUT_DIR/map.

#include <gtest/gtest.h>
#include <QApplication>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "app/disk/FileNode.h"

namespace cb::maptest {

// The test binary's QApplication, made on first use (gtest_main owns main()).
inline QApplication& app() {
    static int argc = 1;
    static char name[] = "views_map_test";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

// Appends a child; folder sizes and counts are summed by finishTree().
inline FileNode& add(FileNode& parent, const std::string& name, bool isDirectory,
                     int64_t size = 0) {
    auto child = std::make_unique<FileNode>(name, isDirectory, &parent);
    child->setSize(size);
    child->setFileCount(isDirectory ? 0 : 1);
    return parent.appendChild(std::move(child));
}

// Sums folder sizes and file counts bottom-up and sorts every child list, as a scan leaves it.
inline void finishTree(FileNode& node) {
    if (!node.isDirectory()) {
        return;
    }
    int64_t size = 0, files = 0;
    for (const auto& child : node.children()) {
        finishTree(*child);
        size += child->size();
        files += child->fileCount();
    }
    node.setSize(size);
    node.setFileCount(files);
    node.sortChildrenBySize();
}

// A root named `rootName` at "/Users/alice" holding three top-level folders:
//   "Library" (50%): a chain of eight nested folders ending in a 5 MB file, so every ring shows;
//   "Movies" (30%): two files; "Documents" (20%): one file.
inline std::unique_ptr<FileNode> makeFixtureTree(const std::string& rootName = "alice",
                                                 const std::string& deepName = "Caches") {
    auto root = std::make_unique<FileNode>(rootName, true, nullptr);
    root->setRootPath("/Users/" + rootName);
    FileNode* chain = &add(*root, "Library", true);
    for (int level = 0; level < 8; ++level) {
        chain = &add(*chain, deepName + std::to_string(level), true);
    }
    add(*chain, "blob.bin", false, 5'000'000);
    FileNode& movies = add(*root, "Movies", true);
    add(movies, "trip.mov", false, 2'000'000);
    add(movies, "talk.mp4", false, 1'000'000);
    FileNode& docs = add(*root, "Documents", true);
    add(docs, "thesis.pdf", false, 2'000'000);
    finishTree(*root);
    return root;
}

inline void sendMouseMove(QWidget* widget, QPointF position) {
    QMouseEvent event(QEvent::MouseMove, position, widget->mapToGlobal(position), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

inline void sendClick(QWidget* widget, QPointF position) {
    QMouseEvent press(QEvent::MouseButtonPress, position, widget->mapToGlobal(position),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, position, widget->mapToGlobal(position),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

inline void sendDoubleClick(QWidget* widget, QPointF position) {
    sendClick(widget, position);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, position, widget->mapToGlobal(position),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &dbl);
    QMouseEvent release(QEvent::MouseButtonRelease, position, widget->mapToGlobal(position),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

inline void sendLeave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

inline void sendEnter(QWidget* widget) {
    QEnterEvent event(QPointF(1, 1), QPointF(1, 1), widget->mapToGlobal(QPointF(1, 1)));
    QApplication::sendEvent(widget, &event);
}

// Renders `widget` at its current size and device pixel ratio `dpr`.
inline QImage render(QWidget* widget, double dpr = 1.0) {
    QImage image(widget->size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(widget->palette().color(QPalette::Window));
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Saves `image` as CB_TEST_OUTPUT_DIR/map/<file> (the system temp folder when unset).
inline void savePng(const QImage& image, const QString& file) {
    const QByteArray base = qgetenv("CB_TEST_OUTPUT_DIR");
    const QString dir = (base.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(base)) + "/map";
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(dir + u'/' + file)) << dir.toStdString();
}

// Distance between two colours in RGB, 0..441.
inline double colorDistance(QColor a, QColor b) {
    const double dr = a.red() - b.red(), dg = a.green() - b.green(), db = a.blue() - b.blue();
    return std::sqrt(dr * dr + dg * dg + db * db);
}

}  // namespace cb::maptest
