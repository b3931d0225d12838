#include "app/ModePicker.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/views/ViewStyle.h"

namespace cb {

namespace {

constexpr int kHeight = 24;
constexpr double kTrackRadius = 7;
constexpr double kThumbInset = 2;

}  // namespace

ModePicker::ModePicker(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ModePicker"));
    setFocusPolicy(Qt::StrongFocus);
    setFixedHeight(kHeight);
    setFont(style::systemFont(13));
}

void ModePicker::setLabels(QStringList labels) {
    labels_ = std::move(labels);
    update();
}

void ModePicker::setSelectedIndex(int index) {
    selected_ = index;
    update();
}

QRect ModePicker::segmentRect(int index) const {
    const int count = std::max<int>(labels_.size(), 1);
    const int left = width() * index / count;
    const int right = width() * (index + 1) / count;
    return QRect(left, 0, right - left, height());
}

QSize ModePicker::sizeHint() const {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const QString& label : labels_) {
        widest = std::max(widest, metrics.horizontalAdvance(label));
    }
    return {std::max<int>(labels_.size(), 1) * (widest + 24), kHeight};
}

void ModePicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colors = palette();
    QPainterPath track;
    track.addRoundedRect(QRectF(rect()), kTrackRadius, kTrackRadius);
    painter.fillPath(track, style::withOpacity(colors.color(QPalette::WindowText), 0.08));
    if (selected_ >= 0 && selected_ < labels_.size()) {
        const QRectF thumb = QRectF(segmentRect(selected_))
                                 .adjusted(kThumbInset, kThumbInset, -kThumbInset, -kThumbInset);
        QPainterPath path;
        path.addRoundedRect(thumb, kTrackRadius - kThumbInset, kTrackRadius - kThumbInset);
        painter.fillPath(path.translated(0, 0.5), style::withOpacity(Qt::black, 0.12));
        painter.fillPath(path, colors.color(QPalette::Base));
    }
    for (int i = 0; i < labels_.size(); ++i) {
        if (i > 0 && i != selected_ && i - 1 != selected_) {
            const QRect segment = segmentRect(i);
            painter.setPen(style::withOpacity(colors.color(QPalette::WindowText), 0.2));
            painter.drawLine(QPointF(segment.left(), 6), QPointF(segment.left(), height() - 6));
        }
        QFont font = this->font();
        font.setWeight(i == selected_ ? QFont::Medium : QFont::Normal);
        painter.setFont(font);
        painter.setPen(style::primaryText(colors));
        painter.drawText(segmentRect(i), Qt::AlignCenter, labels_[i]);
    }
    if (hasFocus() && keyboardFocus_) {
        painter.setPen(QPen(style::withOpacity(style::accent(colors), 0.6), 2));
        painter.drawPath(track);
    }
}

void ModePicker::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    for (int i = 0; i < labels_.size(); ++i) {
        if (segmentRect(i).contains(event->position().toPoint())) {
            if (onSelect_) {
                onSelect_(i);
            }
            return;
        }
    }
}

void ModePicker::focusInEvent(QFocusEvent* event) {
    // The ring marks focus reached from the keyboard, not every click or window activation.
    keyboardFocus_ =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QWidget::focusInEvent(event);
}

void ModePicker::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    const int target = selected_ + step;
    if (step == 0 || target < 0 || target >= labels_.size()) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (onSelect_) {
        onSelect_(target);
    }
}

}  // namespace cb
