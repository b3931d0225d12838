#include "app/views/DetailsRow.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "app/disk/FileNode.h"
#include "app/disk/Formatters.h"
#include "app/views/ElidingLabel.h"
#include "app/views/SymbolIcons.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {}  // namespace

DetailsRow::DetailsRow(FileNode* node, int64_t focusSize, Events events, QWidget* parent)
    : QWidget(parent), node_(node), events_(std::move(events)) {
    const QColor secondary = style::secondaryText(palette());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 6, 10, 6);
    row->setSpacing(10);

    auto* icon = new QLabel(this);
    icon->setFixedWidth(16);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(symbolPixmap(node->isDirectory() ? "folder.fill" : "doc.fill", 14,
                                 style::withOpacity(style::accent(palette()), 0.8),
                                 devicePixelRatioF()));
    row->addWidget(icon);

    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* name = new ElidingLabel(Qt::ElideMiddle, this);
    name->setObjectName(QStringLiteral("name"));
    name->setFont(style::systemFont(12, QFont::Medium));
    name->setFullText(QString::fromStdString(node->name()));
    text->addWidget(name);
    auto* facts = new QHBoxLayout;
    facts->setSpacing(6);
    const QString size =
        QString::fromStdString(byteFormatter().string(std::max<int64_t>(node->size(), 0)));
    const QFont small = style::systemFont(10);
    facts->addWidget(style::textLabel(style::systemFont(10, QFont::Medium), secondary, this, size));
    facts->addWidget(style::textLabel(small, style::withOpacity(secondary, 0.5), this,
                                      QStringLiteral("\u2022")));
    auto* share = style::textLabel(small, secondary, this,
                                   QString::fromStdString(percentString(node->size(), focusSize)));
    share->setObjectName(QStringLiteral("share"));
    facts->addWidget(share);
    facts->addStretch(1);
    text->addLayout(facts);
    row->addLayout(text, 1);
}

void DetailsRow::setHighlighted(bool highlighted) {
    if (highlighted != highlighted_) {
        highlighted_ = highlighted;
        update();
    }
}

void DetailsRow::paintEvent(QPaintEvent*) {
    if (!highlighted_) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::withOpacity(style::accent(palette()), 0.12));
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

void DetailsRow::enterEvent(QEnterEvent*) {
    if (events_.entered) {
        events_.entered(node_);
    }
}

void DetailsRow::leaveEvent(QEvent*) {
    if (events_.left) {
        events_.left(node_);
    }
}

void DetailsRow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && events_.doubleClicked) {
        events_.doubleClicked(node_);
    }
}

void DetailsRow::contextMenuEvent(QContextMenuEvent* event) {
    if (events_.contextMenu) {
        events_.contextMenu(node_, event->globalPos());
    }
}

}  // namespace cb
