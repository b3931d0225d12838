#include "app/views/BreadcrumbView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <vector>

#include "app/disk/FileNode.h"
#include "app/views/SymbolIcons.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {

// A crumb in the plain button style: its text only, no frame or background.
QPushButton* crumbButton(const QString& title, bool isFocus, const QPalette& palette,
                         QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(style::systemFont(12, isFocus ? QFont::DemiBold : QFont::Normal));
    const QColor color = isFocus ? style::primaryText(palette) : style::secondaryText(palette);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px; "
                                         "background: transparent; color: %1; }")
                              .arg(color.name(QColor::HexArgb)));
    button->setObjectName(isFocus ? QStringLiteral("crumb-focus") : QStringLiteral("crumb"));
    return button;
}

}  // namespace

BreadcrumbView::BreadcrumbView(QWidget* parent) : QWidget(parent), row_(new QHBoxLayout(this)) {
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(6);
    row_->addStretch(1);
}

QString BreadcrumbView::crumbTitle(const FileNode& node) {
    return node.name().empty() ? QStringLiteral("/") : QString::fromStdString(node.name());
}

void BreadcrumbView::clearCrumbs() {
    while (row_->count() > 1) {  // keep the trailing spacer
        // The clicked crumb may be on the stack (its click led here): free it later.
        QLayoutItem* item = row_->takeAt(0);
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

void BreadcrumbView::setFocusNode(FileNode* focus) {
    clearCrumbs();
    std::vector<FileNode*> chain;
    for (FileNode* node = focus; node != nullptr; node = node->parent()) {
        chain.push_back(node);
    }
    std::reverse(chain.begin(), chain.end());
    int index = 0;
    for (size_t i = 0; i < chain.size(); ++i) {
        FileNode* node = chain[i];
        QPushButton* crumb = crumbButton(crumbTitle(*node), node == focus, palette(), this);
        connect(crumb, &QPushButton::clicked, this, [this, node] {
            if (onSelect_) {
                onSelect_(node);
            }
        });
        row_->insertWidget(index++, crumb);
        if (i + 1 < chain.size()) {
            auto* chevron = new QLabel(this);
            chevron->setObjectName(QStringLiteral("chevron"));
            chevron->setPixmap(symbolPixmap(
                "chevron.right", 9, style::withOpacity(style::secondaryText(palette()), 0.5),
                devicePixelRatioF()));
            row_->insertWidget(index++, chevron);
        }
    }
}

}  // namespace cb
