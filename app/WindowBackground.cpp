#include "app/WindowBackground.h"

#include <QPaintEvent>
#include <QPainter>

namespace cb {

WindowBackground::WindowBackground(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("WindowBackground"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WindowBackground::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
}

}  // namespace cb
