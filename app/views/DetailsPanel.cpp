#include "app/views/DetailsPanel.h"

#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/disk/FileNode.h"
#include "app/localization/LocalizationManager.h"
#include "app/views/DetailsRow.h"
#include "app/views/NodeMenu.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {

QScrollArea* makeScrollArea(QWidget* content, QWidget* parent) {
    auto* scroll = new QScrollArea(parent);
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroll;
}

}  // namespace

DetailsPanel::DetailsPanel(LocalizationManager& loc, QWidget* parent)
    : QWidget(parent), loc_(loc), caption_(new QLabel(this)) {
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    caption_->setFont(style::systemFont(12, QFont::DemiBold));
    caption_->setContentsMargins(14, 12, 14, 8);
    QPalette captionPalette = caption_->palette();
    captionPalette.setColor(QPalette::WindowText, style::secondaryText(palette()));
    caption_->setPalette(captionPalette);
    column->addWidget(caption_);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(1);
    divider->setStyleSheet(
        QStringLiteral("color: %1;")
            .arg(style::withOpacity(style::secondaryText(palette()), 0.4).name(QColor::HexArgb)));
    column->addWidget(divider);

    auto* content = new QWidget;
    list_ = new QVBoxLayout(content);
    list_->setContentsMargins(6, 6, 6, 6);
    list_->setSpacing(0);
    list_->addStretch(1);
    column->addWidget(makeScrollArea(content, this), 1);

    retranslate();
    connect(&loc_, &LocalizationManager::currentChanged, this, [this] { retranslate(); });
}

DetailsPanel::~DetailsPanel() = default;

void DetailsPanel::retranslate() {
    caption_->setText(loc_.qtext("details.largest"));
}

void DetailsPanel::setFocusNode(FileNode* focus) {
    focus_ = focus;
    for (DetailsRow* row : rows_) {
        // A row may be on the stack (its menu or double-click led here): free it later.
        list_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    rows_.clear();
    if (focus_ == nullptr) {
        return;
    }
    const DetailsRow::Events events{[this](FileNode* node) { writeHovered(node); },
                                    [this](FileNode* node) { rowLeft(node); },
                                    [this](FileNode* node) { rowDoubleClicked(node); },
                                    [this](FileNode* node, QPoint globalPos) {
                                        if (std::unique_ptr<QMenu> menu = buildContextMenu(node)) {
                                            menu->exec(globalPos);
                                        }
                                    }};
    const auto children = focus_->children();
    const size_t count = std::min<size_t>(children.size(), kMaxRows);
    for (size_t i = 0; i < count; ++i) {
        auto* row = new DetailsRow(children[i].get(), focus_->size(), events);
        row->setHighlighted(children[i].get() == hovered_);
        list_->insertWidget(static_cast<int>(i), row);
        rows_.push_back(row);
    }
    // The rows moved under a pointer that stayed where it was; they are placed on the next
    // layout pass.
    QTimer::singleShot(0, this, [this] { hoverRowUnderPointer(); });
}

void DetailsPanel::hoverRowUnderPointer() {
    const QPoint pointer = mapFromGlobal(QCursor::pos());
    if (!isVisible() || !rect().contains(pointer)) {
        return;
    }
    const QWidget* under = childAt(pointer);
    for (DetailsRow* row : rows_) {
        if (under != nullptr && (row == under || row->isAncestorOf(under))) {
            writeHovered(row->node());
            return;
        }
    }
    writeHovered(nullptr);
}

void DetailsPanel::setHovered(FileNode* node) {
    hovered_ = node;
    for (DetailsRow* row : rows_) {
        row->setHighlighted(row->node() == node);
    }
}

void DetailsPanel::writeHovered(FileNode* node) {
    setHovered(node);
    if (onHover_) {
        onHover_(node);
    }
}

void DetailsPanel::rowLeft(FileNode* node) {
    // The next row's enter may come before this leave: only clear what is still ours.
    if (hovered_ == node) {
        writeHovered(nullptr);
    }
}

void DetailsPanel::rowDoubleClicked(FileNode* node) {
    if (isOpenable(node) && onDrillIn_) {
        onDrillIn_(node);
    }
}

std::unique_ptr<QMenu> DetailsPanel::buildContextMenu(FileNode* node) {
    return buildNodeMenu(focus_, node,
                         {[this] { return focus_; }, &onReveal_, &onDrillIn_, &onRequestDelete_},
                         loc_, this);
}

void DetailsPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect());
    // The thin material: the window colour, slightly translucent, a little lighter than the
    // window so the panel reads as a card.
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::withOpacity(palette().color(QPalette::Base), 0.7));
    painter.drawRoundedRect(card, 14, 14);
    const double inset = 0.25;
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(style::withOpacity(Qt::white, 0.08), 0.5));
    painter.drawRoundedRect(card.adjusted(inset, inset, -inset, -inset), 14 - inset, 14 - inset);
}

}  // namespace cb
