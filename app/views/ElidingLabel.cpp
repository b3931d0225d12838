#include "app/views/ElidingLabel.h"

#include <QFontMetrics>
#include <QPainter>

#include "app/views/ViewStyle.h"

namespace cb {

ElidingLabel::ElidingLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), mode_(mode) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidingLabel::setFullText(const QString& text) {
    full_ = text;
    line_ = style::singleLine(text);
    setText(text);  // for accessibility; painting draws the elided form
    updateGeometry();
    update();
}

QSize ElidingLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    const QMargins m = contentsMargins();
    return {metrics.horizontalAdvance(line_) + m.left() + m.right() + 1,
            metrics.height() + m.top() + m.bottom()};
}

QSize ElidingLabel::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral("…")) * 3, sizeHint().height()};
}

QString ElidingLabel::shownText() const {
    return QFontMetrics(font()).elidedText(line_, mode_, contentsRect().width());
}

void ElidingLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

}  // namespace cb
