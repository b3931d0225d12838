#pragma once

// The apps screen's fixture: three applications on a window state with doubles, a fixed clock
// and a manager per language.

#include <QImage>
#include <QPainter>
#include <chrono>
#include <memory>
#include <vector>

#include "app/AppState.h"
#include "app/localization/LocalizationManager.h"
#include "tests/app/AppStateFakes.h"
#include "tests/app/views/ScreenTestSupport.h"

namespace cb::appstest {

using Date = InstalledApp::Date;

// The fixed "now" of the last-opened texts: 2026-03-10 12:00:00 UTC.
inline Date fixedNow() {
    return Date(std::chrono::seconds(1773144000));
}

// A 48 x 48 icon: a rounded square in `color`.
inline QImage icon(const QColor& color) {
    QImage image(96, 96, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(color);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(4, 4, 88, 88), 20, 20);
    return image;
}

inline std::shared_ptr<InstalledApp> makeApp(const std::string& name, const std::string& bundleID,
                                             std::optional<std::string> version,
                                             std::optional<Date> lastOpened, QColor color) {
    InstalledApp::Fixed fixed;
    fixed.url = "/Applications/" + name + ".app";
    fixed.name = name;
    fixed.bundleID = bundleID;
    fixed.version = std::move(version);
    fixed.lastOpened = lastOpened;
    fixed.icon = color.isValid() ? icon(color) : QImage();
    return InstalledApp::make(std::move(fixed));
}

// apple (no version, never opened, no icon), Banana (v1.2, opened two days ago), cherry (v3,
// opened an hour ago), with sizes.
inline std::vector<std::shared_ptr<InstalledApp>> threeApps() {
    auto apple = makeApp("apple", "com.example.apple", std::nullopt, std::nullopt, QColor());
    auto banana = makeApp("Banana", "com.example.banana", "1.2",
                          fixedNow() - std::chrono::hours(48), QColor(240, 200, 40));
    auto cherry = makeApp("cherry", "org.sample.cherry", "3", fixedNow() - std::chrono::hours(1),
                          QColor(200, 30, 60));
    apple->setBundleSize(12'000'000);
    banana->setBundleSize(250'000'000);
    cherry->setBundleSize(-5);  // shows as zero
    return {apple, banana, cherry};
}

// Banana's traces: one small Application Support folder, two large cache items.
inline std::vector<RelatedFile> bananaTraces() {
    return {
        {QUuid::createUuid(), "/home/u/Library/Application Support/com.example.banana",
         RelatedCategory::applicationSupport, 40'000, false},
        {QUuid::createUuid(), "/home/u/Library/Caches/com.example.banana", RelatedCategory::caches,
         90'000'000, false},
        {QUuid::createUuid(), "/home/u/Library/Caches/com.example.banana.helper",
         RelatedCategory::caches, 30'000'000, false},
    };
}

}  // namespace cb::appstest
