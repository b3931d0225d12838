#include "app/views/TooltipView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/disk/FileNode.h"
#include "app/disk/Formatters.h"
#include "app/views/ElidingLabel.h"
#include "app/views/FileCountText.h"
#include "app/views/MiddleElidedLabel.h"
#include "app/views/SymbolIcons.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {

constexpr double kCornerRadius = 10;
constexpr int kShadowBlur = 12;
constexpr int kShadowOffsetY = 6;
constexpr int kPadding = 10;

// A soft shadow: stacked rounded rectangles, each a little larger and equally faint, so the
// opacity falls off over the blur radius and reaches about 0.22 under the card.
void paintShadow(QPainter& painter, const QRectF& card) {
    const QRectF shadow = card.translated(0, kShadowOffsetY);
    const double layerOpacity = 1 - std::pow(1 - 0.22, 1.0 / kShadowBlur);
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::withOpacity(Qt::black, layerOpacity));
    for (int grow = kShadowBlur; grow > 0; --grow) {
        const double g = grow - kShadowBlur / 2.0;
        painter.drawRoundedRect(shadow.adjusted(-g, -g, g, g), kCornerRadius + std::max(g, 0.0),
                                kCornerRadius + std::max(g, 0.0));
    }
}

}  // namespace

QMargins TooltipView::shadowMargins() {
    return QMargins(kShadowBlur, kShadowBlur - kShadowOffsetY, kShadowBlur,
                    kShadowBlur + kShadowOffsetY);
}

TooltipView::TooltipView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setMaximumWidth(kMaxCardWidth + shadowMargins().left() + shadowMargins().right());
    const QColor secondary = style::secondaryText(palette());

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(shadowMargins() + QMargins(kPadding, kPadding, kPadding, kPadding));
    column->setSpacing(4);

    auto* title = new QHBoxLayout;
    title->setSpacing(6);
    icon_ = new QLabel(this);
    name_ = new ElidingLabel(Qt::ElideRight, this);
    name_->setFont(style::systemFont(13, QFont::DemiBold));
    title->addWidget(icon_);
    title->addWidget(name_, 1);
    column->addLayout(title);

    path_ = new MiddleElidedLabel(2, false, this);
    path_->setFont(style::monospacedFont(10));
    QPalette pathPalette = path_->palette();
    pathPalette.setColor(QPalette::WindowText, secondary);
    path_->setPalette(pathPalette);
    column->addWidget(path_);

    auto* sizes = new QHBoxLayout;
    sizes->setSpacing(10);
    auto* sizeLabel = new QHBoxLayout;
    sizeLabel->setSpacing(4);
    driveIcon_ = new QLabel(this);
    size_ =
        style::textLabel(style::systemFont(11, QFont::Medium), style::primaryText(palette()), this);
    percent_ = style::textLabel(style::systemFont(11), secondary, this);
    sizeLabel->addWidget(driveIcon_);
    sizeLabel->addWidget(size_);
    sizes->addLayout(sizeLabel);
    sizes->addWidget(percent_);
    sizes->addStretch(1);
    column->addLayout(sizes);

    fileCount_ = style::textLabel(style::systemFont(10), secondary, this);
    name_->setObjectName(QStringLiteral("name"));
    path_->setObjectName(QStringLiteral("path"));
    size_->setObjectName(QStringLiteral("size"));
    percent_->setObjectName(QStringLiteral("percent"));
    fileCount_->setObjectName(QStringLiteral("fileCount"));
    column->addWidget(fileCount_);
}

void TooltipView::setNode(const FileNode& node, int64_t parentSize) {
    const char* symbol = node.isDirectory() ? "folder.fill" : "doc.fill";
    icon_->setObjectName(QStringLiteral("symbol:") + QLatin1String(symbol));
    icon_->setPixmap(symbolPixmap(symbol, 15, style::accent(palette()), devicePixelRatioF()));
    name_->setFullText(QString::fromStdString(node.name()));
    path_->setFullText(QString::fromStdString(node.path()));
    driveIcon_->setPixmap(
        symbolPixmap("internaldrive", 12, style::primaryText(palette()), devicePixelRatioF()));
    size_->setText(
        QString::fromStdString(byteFormatter().string(std::max<int64_t>(node.size(), 0))));
    percent_->setText(QString::fromStdString(percentString(node.size(), parentSize)));
    fileCount_->setVisible(node.isDirectory());
    fileCount_->setText(QString::fromStdString(fileCountText(node.fileCount())));
    // The path wraps, so its height depends on the card's width: settle the width first.
    path_->setMinimumHeight(0);
    path_->setMaximumHeight(QWIDGETSIZE_MAX);
    adjustSize();
    const QMargins margins = layout()->contentsMargins();
    path_->setFixedHeight(path_->heightForWidth(width() - margins.left() - margins.right()));
    adjustSize();
}

void TooltipView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).marginsRemoved(shadowMargins());
    paintShadow(painter, card);
    // The thin material: the window colour, mostly opaque, over whatever lies behind.
    painter.setBrush(style::withOpacity(palette().color(QPalette::Window), 0.9));
    painter.drawRoundedRect(card, kCornerRadius, kCornerRadius);
    // The border lies inside the card's edge.
    const double inset = 0.25;
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(style::withOpacity(Qt::white, 0.12), 0.5));
    painter.drawRoundedRect(card.adjusted(inset, inset, -inset, -inset), kCornerRadius - inset,
                            kCornerRadius - inset);
}

}  // namespace cb
