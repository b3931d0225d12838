#include "app/ads/AdTextRow.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "app/views/SymbolIcons.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {

int arrowExtent() {
    return static_cast<int>(AdTextRow::kArrowSize);
}

}  // namespace

AdTextRow::AdTextRow(Ad ad, QWidget* parent)
    : AdContentButton(std::move(ad), parent),
      text_(QString::fromStdString(std::get<AdText>(this->ad().content).text)) {
    setObjectName(QStringLiteral("adTextRow"));
    setFont(style::systemFont(kTextSize));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(text_);
}

QSize AdTextRow::sizeHint() const {
    const int content = std::max(kIconSize, fontMetrics().height());
    const int width = kHorizontalPadding + kIconSize + kSpacing +
                      fontMetrics().horizontalAdvance(text_) + 2 * kSpacing + kMinimumGap +
                      arrowExtent() + kHorizontalPadding;
    return {width, content + 2 * kVerticalPadding};
}

QSize AdTextRow::minimumSizeHint() const {
    // The text may shrink to its ellipsis; the icon and the arrow keep their room.
    return {kHorizontalPadding + kIconSize + 3 * kSpacing + kMinimumGap + arrowExtent() +
                kHorizontalPadding,
            sizeHint().height()};
}

QRect AdTextRow::iconRect() const {
    return {kHorizontalPadding, (height() - kIconSize) / 2, kIconSize, kIconSize};
}

QRect AdTextRow::arrowRect() const {
    const int extent = arrowExtent();
    return {width() - kHorizontalPadding - extent, (height() - extent) / 2, extent, extent};
}

QRect AdTextRow::textRect() const {
    const int left = iconRect().right() + 1 + kSpacing;
    const int right = arrowRect().left() - kSpacing - kMinimumGap - kSpacing;
    return {left, 0, std::max(right - left, 0), height()};
}

QString AdTextRow::shownText() const {
    return fontMetrics().elidedText(text_, Qt::ElideRight, textRect().width());
}

void AdTextRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), style::withOpacity(style::primaryText(colours), kBackgroundOpacity));
    paintIcon(painter);

    painter.setFont(font());
    painter.setPen(style::primaryText(colours));
    painter.drawText(textRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     shownText());

    const QPixmap arrow = symbolPixmap("arrow.up.right", kArrowSize, style::secondaryText(colours),
                                       devicePixelRatioF());
    painter.drawPixmap(arrowRect().topLeft(), arrow);
}

void AdTextRow::paintIcon(QPainter& painter) const {
    const QRectF frame = iconRect();
    QPainterPath clip;
    clip.addRoundedRect(frame, kIconRadius, kIconRadius);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (image().isNull()) {
        painter.fillPath(clip,
                         style::withOpacity(style::secondaryText(palette()), kPlaceholderOpacity));
    } else {
        // Aspect fill: the image covers the frame and its overflow is cut off.
        const QSizeF filled =
            QSizeF(image().size()).scaled(frame.size(), Qt::KeepAspectRatioByExpanding);
        QRectF target(QPointF(), filled);
        target.moveCenter(frame.center());
        painter.setClipPath(clip);
        painter.drawImage(target, image());
    }
    painter.restore();
}

}  // namespace cb
