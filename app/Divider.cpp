#include "app/Divider.h"

#include <QPainter>

#include "app/views/ViewStyle.h"

namespace cb {

namespace {

// The separator colour is the text colour at low strength; the window draws it at 0.4 of that.
constexpr double kSeparatorOpacity = 0.25;
constexpr double kDividerOpacity = 0.4;

}  // namespace

Divider::Divider(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Divider"));
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), style::withOpacity(palette().color(QPalette::WindowText),
                                                kSeparatorOpacity * kDividerOpacity));
}

}  // namespace cb
