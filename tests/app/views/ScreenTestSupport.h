#pragma once

// Helpers for the screen and dialog tests: one QApplication for the test binary, label lookups by
// object name, and PNG renders under CB_TEST_OUTPUT_DIR.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QString>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include "app/localization/LocalizationManager.h"
#include "app/views/MiddleElidedLabel.h"

namespace cb::test {

// The test binary's QApplication, made on first use (gtest_main owns main()).
inline QApplication& app() {
    static int argc = 1;
    static char name[] = "views_test";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

// The shown text of the label (or elided label: its full text) named `name` under `root`.
inline QString labelText(const QWidget* root, const QString& name) {
    if (auto* elided = root->findChild<MiddleElidedLabel*>(name)) {
        return elided->fullText();
    }
    auto* label = root->findChild<QLabel*>(name);
    return label == nullptr ? QStringLiteral("<missing %1>").arg(name) : label->text();
}

// The text of the button named `name` under `root`.
inline QString buttonText(const QWidget* root, const QString& name) {
    auto* button = root->findChild<QAbstractButton*>(name);
    return button == nullptr ? QStringLiteral("<missing %1>").arg(name) : button->text();
}

// True when the child named `name` exists and is not hidden by its own choice.
inline bool isShown(const QWidget* root, const QString& name) {
    auto* child = root->findChild<QWidget*>(name);
    return child != nullptr && !child->isHidden();
}

// Shows `widget` as an active top-level window at its size hint, so keys and layout work.
inline void showActive(QWidget* widget) {
    widget->adjustSize();
    widget->show();
    widget->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(widget));
}

// Saves a render of `widget` as CB_TEST_OUTPUT_DIR/screens/<file> at `size`, or at the size its
// content asks for when `size` is empty; returns the image.
inline QImage savePng(QWidget* widget, const QString& file, QSize size = {}) {
    if (size.isValid()) {
        widget->resize(size);
    } else {
        widget->adjustSize();
    }
    const QImage image = widget->grab().toImage();
    const QByteArray base = qgetenv("CB_TEST_OUTPUT_DIR");
    const QString dir =
        (base.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(base)) + "/screens";
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(dir + u'/' + file)) << dir.toStdString();
    return image;
}

}  // namespace cb::test
