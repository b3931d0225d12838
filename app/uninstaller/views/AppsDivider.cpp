#include "app/uninstaller/views/AppsDivider.h"

#include <QPainter>

#include "app/views/ScreenStyle.h"

namespace cb {

namespace {
// The separator colour's strength against the text colour, as the window's dividers draw it.
constexpr double kSeparatorOpacity = 0.25;
}  // namespace

AppsDivider::AppsDivider(double opacity, QWidget* parent) : QWidget(parent), opacity_(opacity) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void AppsDivider::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), style::withOpacity(palette().color(QPalette::WindowText),
                                                       kSeparatorOpacity * opacity_));
}

}  // namespace cb
