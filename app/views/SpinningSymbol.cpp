#include "app/views/SpinningSymbol.h"

#include <QAbstractButton>
#include <QPainter>
#include <QVariantAnimation>

#include "app/views/SymbolIcons.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {
constexpr int kTurnMs = 900;
constexpr int kRestMs = 350;  // the platform's default animation
}  // namespace

SpinningSymbol::SpinningSymbol(QAbstractButton* button, const char* symbol, int size)
    : QObject(button),
      button_(button),
      symbol_(symbol),
      size_(size),
      animation_(new QVariantAnimation(this)) {
    connect(animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setRotation(value.toDouble()); });
    // An animation whose value does not change reports nothing, so the rest is drawn explicitly.
    connect(animation_, &QVariantAnimation::finished, this, [this] {
        if (!spinning_) {
            setRotation(0);
        }
    });
    setRotation(0);
}

void SpinningSymbol::setSpinning(bool spinning) {
    if (spinning == spinning_) {
        return;
    }
    spinning_ = spinning;
    animation_->stop();
    animation_->setStartValue(spinning ? 0.0 : rotation_);
    animation_->setEndValue(spinning ? 360.0 : 0.0);
    animation_->setDuration(spinning ? kTurnMs : kRestMs);
    animation_->setEasingCurve(spinning ? QEasingCurve::Linear : QEasingCurve::InOutQuad);
    animation_->setLoopCount(spinning ? -1 : 1);
    animation_->start();
}

void SpinningSymbol::setRotation(double degrees) {
    rotation_ = degrees;
    const qreal ratio = button_->devicePixelRatioF();
    // Always the enabled colour: the icon dims itself while the button is disabled, and a frame
    // drawn in the disabled colour would stay dim once the button is enabled again.
    QPalette palette = button_->palette();
    palette.setCurrentColorGroup(QPalette::Active);
    const QPixmap base = symbolPixmap(symbol_, size_, style::primaryText(palette), ratio);
    QPixmap turned(base.size());
    turned.setDevicePixelRatio(ratio);
    turned.fill(Qt::transparent);
    QPainter painter(&turned);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(size_ / 2.0, size_ / 2.0);
    painter.rotate(degrees);
    painter.translate(-size_ / 2.0, -size_ / 2.0);
    painter.drawPixmap(QPointF(0, 0), base);
    painter.end();
    button_->setIcon(QIcon(turned));
    button_->setIconSize(QSize(size_, size_));
}

}  // namespace cb
