#include "app/uninstaller/views/AppRowView.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "app/localization/LocalizationManager.h"
#include "app/uninstaller/views/AppListModel.h"
#include "app/uninstaller/views/RelativeDate.h"
#include "app/views/ScreenStyle.h"
#include "app/views/SymbolIcons.h"

namespace cb {

namespace {

constexpr int kPadX = 14;
constexpr int kSpacing = 12;
constexpr int kSecondLineSpacing = 6;

InstalledApp* appOf(const QModelIndex& index) {
    return qobject_cast<InstalledApp*>(index.data(AppListModel::kAppRole).value<QObject*>());
}

// Draws `text` left- or right-aligned in `box` on one line (line breaks as a visible mark),
// elided with `mode` when it does not fit.
void drawText(QPainter& painter, const QRect& box, const QString& text, const QFont& font,
              const QColor& color, Qt::Alignment align, Qt::TextElideMode mode) {
    painter.setFont(font);
    painter.setPen(color);
    const QString shown = QFontMetrics(font).elidedText(style::singleLine(text), mode, box.width());
    painter.drawText(box, static_cast<int>(align | Qt::AlignVCenter), shown);
}

}  // namespace

AppRowView::AppRowView(const LocalizationManager& loc, Clock now, QObject* parent)
    : QStyledItemDelegate(parent), loc_(loc), now_(std::move(now)) {}

QRect AppRowView::trashRect(const QRect& rowRect) {
    const int contentHeight = rowRect.height() - 1;
    return QRect(rowRect.right() - kPadX - kTrashSize + 1,
                 rowRect.top() + (contentHeight - kTrashSize) / 2, kTrashSize, kTrashSize);
}

QString AppRowView::detailLine(const InstalledApp& app) {
    const QString id = QString::fromStdString(app.bundleID());
    if (!app.version()) {
        return id;
    }
    return QStringLiteral("v%1 \u2022 %2").arg(QString::fromStdString(*app.version()), id);
}

QString AppRowView::sizeText(const InstalledApp& app) {
    return style::byteText(app.totalSize());
}

QString AppRowView::lastOpenedText(const InstalledApp& app) const {
    if (!app.lastOpened()) {
        return loc_.qtext("apps.neverOpened");
    }
    const QString relative = relativeDateText(*app.lastOpened(), now_(), loc_.current());
    return loc_.qformat("apps.openedRelative", {relative.toStdString()});
}

QSize AppRowView::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    // No width of its own: the list stretches every row across its viewport.
    return QSize(0, kRowHeight);
}

void AppRowView::paint(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index) const {
    const InstalledApp* app = appOf(index);
    if (app == nullptr) {
        return;
    }
    const QPalette& palette = option.palette;
    const QRect row = option.rect;
    const QRect content = row.adjusted(0, 0, 0, -1);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const bool hover = !hovered_.isNull() && hovered_ == app->id();
    if (!selected_.isNull() && selected_ == app->id()) {
        painter->fillRect(content, style::withOpacity(style::accent(palette), 0.14));
    } else if (hover) {
        painter->fillRect(content, style::withOpacity(style::secondaryText(palette), 0.06));
    }
    painter->fillRect(QRect(row.left(), row.bottom(), row.width(), 1),
                      style::withOpacity(palette.color(QPalette::WindowText), 0.3 * 0.25));

    const QRect iconRect(content.left() + kPadX, content.top() + (content.height() - kIconSize) / 2,
                         kIconSize, kIconSize);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    if (!app->icon().isNull()) {
        painter->drawImage(iconRect, app->icon());
    } else {
        painter->drawPixmap(iconRect, symbolPixmap("app", kIconSize, style::secondaryText(palette),
                                                   painter->device()->devicePixelRatioF()));
    }
    int rightEdge = content.right() - kPadX;
    if (hover) {
        const QRect trash = trashRect(row);
        painter->drawPixmap(trash.adjusted(3, 3, -3, -3),
                            symbolPixmap("trash", kTrashSize - 6, style::systemRed(),
                                         painter->device()->devicePixelRatioF()));
        rightEdge = trash.left() - kSpacing;
    }
    paintTexts(*painter, content, *app, rightEdge, palette);
    painter->restore();
}

void AppRowView::paintTexts(QPainter& painter, const QRect& row, const InstalledApp& app,
                            int rightEdge, const QPalette& palette) const {
    const QColor primary = palette.color(QPalette::WindowText);
    const QColor secondary = style::secondaryText(palette);
    const QFont nameFont = style::systemFont(13, QFont::DemiBold);
    const QFont smallFont = style::systemFont(11);
    const QFont idFont = style::monospacedFont(11);
    const QFont sizeFont = style::roundedFont(13, QFont::DemiBold);
    const QFont dateFont = style::systemFont(10);

    // Right column: size over the last-opened text, right-aligned.
    const QString size = sizeText(app);
    const QString opened = lastOpenedText(app);
    const int rightWidth = std::max(QFontMetrics(sizeFont).horizontalAdvance(size),
                                    QFontMetrics(dateFont).horizontalAdvance(opened));
    const int topHeight = QFontMetrics(sizeFont).height();
    const int bottomHeight = QFontMetrics(dateFont).height();
    const int rightTop = row.top() + (row.height() - topHeight - 2 - bottomHeight) / 2;
    const QRect rightColumn(rightEdge - rightWidth + 1, rightTop, rightWidth,
                            topHeight + 2 + bottomHeight);
    drawText(painter, QRect(rightColumn.left(), rightTop, rightWidth, topHeight), size, sizeFont,
             primary, Qt::AlignRight, Qt::ElideNone);
    drawText(painter, QRect(rightColumn.left(), rightTop + topHeight + 2, rightWidth, bottomHeight),
             opened, dateFont, secondary, Qt::AlignRight, Qt::ElideNone);

    // Left column: name over "v<version> • <bundle id>".
    const int left = row.left() + kPadX + kIconSize + kSpacing;
    const int width = std::max(0, rightColumn.left() - kSpacing - left);
    const int nameHeight = QFontMetrics(nameFont).height();
    const int lineHeight =
        std::max(QFontMetrics(smallFont).height(), QFontMetrics(idFont).height());
    const int top = row.top() + (row.height() - nameHeight - 2 - lineHeight) / 2;
    drawText(painter, QRect(left, top, width, nameHeight), QString::fromStdString(app.name()),
             nameFont, primary, Qt::AlignLeft, Qt::ElideRight);
    QRect line(left, top + nameHeight + 2, width, lineHeight);
    if (app.version()) {
        // Measured as drawn: on one line.
        const QString version =
            style::singleLine(QStringLiteral("v") + QString::fromStdString(*app.version()));
        // One pixel of room: elidedText() elides a text given exactly its own advance.
        const int versionWidth =
            std::min(line.width(), QFontMetrics(smallFont).horizontalAdvance(version) + 1);
        drawText(painter, QRect(line.left(), line.top(), versionWidth, lineHeight), version,
                 smallFont, secondary, Qt::AlignLeft, Qt::ElideRight);
        const QString bullet = QStringLiteral("\u2022");
        const int bulletLeft = line.left() + versionWidth + kSecondLineSpacing;
        const int bulletWidth = QFontMetrics(smallFont).horizontalAdvance(bullet);
        drawText(painter, QRect(bulletLeft, line.top(), bulletWidth, lineHeight), bullet, smallFont,
                 style::withOpacity(secondary, 0.5), Qt::AlignLeft, Qt::ElideNone);
        line.setLeft(bulletLeft + bulletWidth + kSecondLineSpacing);
    }
    if (line.width() > 0) {
        drawText(painter, line, QString::fromStdString(app.bundleID()), idFont, secondary,
                 Qt::AlignLeft, Qt::ElideMiddle);
    }
}

}  // namespace cb
