#include "app/ads/AdBannerView.h"

#include <QPainter>

#include "app/views/ViewStyle.h"

namespace cb {

AdBannerView::AdBannerView(Ad ad, QWidget* parent) : AdContentButton(std::move(ad), parent) {
    setObjectName(QStringLiteral("adBanner"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(kHeight);
    setAccessibleName(
        QString::fromStdString(std::get<AdBanner>(this->ad().content).alt.value_or(std::string())));
}

QSize AdBannerView::sizeHint() const {
    return {kHeight, kHeight};
}

QRectF AdBannerView::imageRect() const {
    if (image().isNull()) {
        return {};
    }
    const QRectF area = rect();
    QRectF target(QPointF(), QSizeF(image().size()).scaled(area.size(), Qt::KeepAspectRatio));
    target.moveCenter(area.center());
    return target;
}

void AdBannerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), style::withOpacity(style::secondaryText(palette()), kFillOpacity));
    if (!image().isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imageRect(), image());
    }
}

}  // namespace cb
