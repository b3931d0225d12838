#include "app/DialogOverlay.h"

#include <QApplication>
#include <QEasingCurve>
#include <QEvent>
#include <QKeyEvent>
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
      animation_(new QVariantAnimation(this)),
      shield_(new BodyShield(this)) {
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

DialogOverlay::~DialogOverlay() {
    setInert(false);
}

void DialogOverlay::present() {
    focusBefore_ = QApplication::focusWidget();
    setInert(true);
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
    setInert(false);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (card_->isVisible()) {
        takeCardPicture();
    }
    // Before the card hides: hiding a focused widget would hand the focus to the next one in
    // the window's chain, whatever that is.
    restoreFocus();
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

void DialogOverlay::setInert(bool inert) {
    if (inert == inert_) {
        return;
    }
    inert_ = inert;
    if (inert) {
        qApp->installEventFilter(shield_);
    } else {
        qApp->removeEventFilter(shield_);
    }
}

void DialogOverlay::restoreFocus() {
    QWidget* focused = QApplication::focusWidget();
    if (focusBefore_ != nullptr && focusBefore_->isVisible() && !isAncestorOf(focusBefore_)) {
        focusBefore_->setFocus(Qt::OtherFocusReason);
    } else if (focused != nullptr && isAncestorOf(focused)) {
        focused->clearFocus();
    }
}

// True for a widget of the host that the dialog shields: not on this card, and not on an
// overlay stacked above this one.
bool DialogOverlay::isBody(const QWidget* widget) const {
    QWidget* host = parentWidget();
    if (widget == nullptr || (widget != host && !host->isAncestorOf(widget))) {
        return false;
    }
    if (widget == this || isAncestorOf(widget)) {
        return false;
    }
    const QObjectList& stack = host->children();
    const qsizetype mine = stack.indexOf(this);
    for (qsizetype i = mine + 1; i < stack.size(); ++i) {
        auto* above = qobject_cast<DialogOverlay*>(stack[i]);
        if (above != nullptr && (above == widget || above->isAncestorOf(widget))) {
            return false;
        }
    }
    return true;
}

QList<QWidget*> DialogOverlay::tabStops() const {
    QList<QWidget*> stops;
    for (QWidget* w = card_->nextInFocusChain(); w != card_; w = w->nextInFocusChain()) {
        if (card_->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isVisible() &&
            w->isEnabled()) {
            stops.append(w);
        }
    }
    return stops;
}

void DialogOverlay::cycleFocus(bool forward) {
    const QList<QWidget*> stops = tabStops();
    if (stops.isEmpty()) {
        return;
    }
    const qsizetype at = stops.indexOf(QApplication::focusWidget());
    qsizetype next = 0;
    if (at < 0) {
        next = forward ? 0 : stops.size() - 1;
    } else {
        next = (at + (forward ? 1 : stops.size() - 1)) % stops.size();
    }
    stops[next]->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

// Drops keys and shortcuts on their way to the body; turns Tab into a move within the card.
bool DialogOverlay::keepsFromBody(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::Shortcut) {
        return false;
    }
    QObject* owner = watched;
    while (owner != nullptr && !owner->isWidgetType()) {
        owner = owner->parent();  // a QShortcut or QAction acts for the widget it belongs to
    }
    auto* widget = static_cast<QWidget*>(owner);
    const bool body = isBody(widget);
    const bool card = widget != nullptr && card_->isAncestorOf(widget);
    if (type == QEvent::KeyPress && (body || card)) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers other = key->modifiers() & ~Qt::ShiftModifier;
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && other == 0) {
            if (card_->isVisible()) {
                const bool back =
                    key->key() == Qt::Key_Backtab || key->modifiers() & Qt::ShiftModifier;
                cycleFocus(!back);
            }
            return true;
        }
    }
    return body;
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
