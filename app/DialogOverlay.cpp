#include "app/DialogOverlay.h"

#include <QEasingCurve>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <algorithm>

#include "app/CardShadow.h"

namespace cb {

namespace {

// The least room kept between the card and the edges of a small window.
constexpr int kMinimumMargin = 12;

}  // namespace

DialogOverlay::DialogOverlay(QWidget* dialog, QWidget* host)
    : QWidget(host),
      card_(new QWidget(this)),
      dialog_(dialog),
      animation_(new QVariantAnimation(this)) {
    setObjectName(QStringLiteral("DialogOverlay"));
    setAttribute(Qt::WA_NoMousePropagation);
    auto* layout = new QVBoxLayout(card_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(dialog_);
    card_->setObjectName(QStringLiteral("DialogCard"));
    card_->hide();
    hide();

    animation_->setDuration(kAnimationMs);
    animation_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setProgress(value.toDouble()); });
    connect(animation_, &QVariantAnimation::finished, this, [this] {
        if (dismissing_) {
            hide();
            deleteLater();
        } else {
            setProgress(1.0);
            card_->show();
        }
    });
    host->installEventFilter(this);
    card_->installEventFilter(this);
    setGeometry(host->rect());
}

void DialogOverlay::present() {
    setGeometry(parentWidget()->rect());
    layoutCard();
    takeCardPicture();
    show();
    raise();
    animateTo(1.0);
}

void DialogOverlay::dismiss() {
    if (dismissing_) {
        return;
    }
    dismissing_ = true;
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (card_->isVisible()) {
        takeCardPicture();
    }
    card_->hide();
    animateTo(0.0);
}

void DialogOverlay::animateTo(double target) {
    animation_->stop();
    animation_->setStartValue(progress_);
    animation_->setEndValue(target);
    animation_->start();
}

QSize DialogOverlay::cardSize() const {
    // A dialog's own fixed or minimum size counts over its layout's hint.
    QSize size = dialog_->sizeHint()
                     .expandedTo(dialog_->minimumSizeHint())
                     .expandedTo(dialog_->minimumSize())
                     .boundedTo(dialog_->maximumSize());
    const QSize room =
        (rect().size() - QSize(2 * kMinimumMargin, 2 * kMinimumMargin)).expandedTo(QSize(1, 1));
    size.setWidth(std::min(size.width(), room.width()));
    if (dialog_->hasHeightForWidth()) {
        size.setHeight(dialog_->heightForWidth(size.width()));
    }
    size.setHeight(std::min(size.height(), room.height()));
    return size;
}

QRect DialogOverlay::cardRect() const {
    QRect card(QPoint(0, 0), cardSize());
    card.moveCenter(rect().center());
    return card;
}

void DialogOverlay::layoutCard() {
    card_->setGeometry(cardRect());
    if (card_->layout() != nullptr) {
        card_->layout()->activate();
    }
}

void DialogOverlay::takeCardPicture() {
    const qreal ratio = devicePixelRatioF();
    QPixmap picture(card_->size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    card_->render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
    cardPicture_ = picture;
}

void DialogOverlay::setProgress(double progress) {
    progress_ = std::clamp(progress, 0.0, 1.0);
    update();
}

bool DialogOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
        layoutCard();
    } else if (watched == card_ && event->type() == QEvent::LayoutRequest) {
        // The dialog asks for another size (a new language, a list opened): the card follows.
        layoutCard();
        update();
    }
    return QWidget::eventFilter(watched, event);
}

void DialogOverlay::mousePressEvent(QMouseEvent* event) {
    // The backdrop has no action of its own; it only keeps the click from the body.
    event->accept();
}

void DialogOverlay::paintCard(QPainter& painter, const QRectF& rect, double opacity) {
    if (shadowSize_ != rect.size().toSize() || shadow_.isNull()) {
        shadowSize_ = rect.size().toSize();
        shadow_ = cardShadow(shadowSize_, kCornerRadius, kShadowRadius);
    }
    const int margin = shadowMargin(kShadowRadius);
    painter.setOpacity(opacity * kShadowOpacity);
    painter.drawImage(rect.topLeft() + QPointF(-margin, kShadowOffsetY - margin), shadow_);
    painter.setOpacity(opacity);
    QPainterPath card;
    card.addRoundedRect(rect, kCornerRadius, kCornerRadius);
    painter.fillPath(card, palette().color(QPalette::Window));
}

void DialogOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillRect(rect(), QColor(0, 0, 0, qRound(255 * kBackdropOpacity * progress_)));
    const QRectF card = cardRect();
    const double scale = kInitialScale + (1.0 - kInitialScale) * progress_;
    painter.translate(card.center());
    painter.scale(scale, scale);
    painter.translate(-card.center());
    paintCard(painter, card, progress_);
    if (!card_->isVisible() && !cardPicture_.isNull()) {
        painter.setOpacity(progress_);
        painter.drawPixmap(card.topLeft(), cardPicture_);
    }
}

}  // namespace cb
