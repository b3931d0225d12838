#include "app/views/ViewStyle.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace cb::style {

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

QColor primaryText(const QPalette& palette) {
    return palette.color(QPalette::WindowText);
}

QColor secondaryText(const QPalette& palette) {
    return withOpacity(palette.color(QPalette::WindowText), kSecondaryTextOpacity);
}

QColor accent(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}

QFont systemFont(double pixelSize, QFont::Weight weight) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setWeight(weight);
    return font;
}

QFont monospacedFont(double pixelSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    return font;
}

}  // namespace cb::style
