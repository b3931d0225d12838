#include "app/views/ViewStyle.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>

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

QColor systemOrange() {
    return QColor(255, 149, 0);
}

QColor systemRed() {
    return QColor(255, 59, 48);
}

QFont systemFont(double pixelSize, QFont::Weight weight) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setWeight(weight);
    return font;
}

QFont monospacedFont(double pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setWeight(weight);
    return font;
}

QFont roundedFont(double pixelSize, QFont::Weight weight) {
    return systemFont(pixelSize, weight);
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    label->setPalette(palette);
}

QString paragraphToolTip(const QString& text) {
    return QStringLiteral("<p>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

QLabel* textLabel(const QFont& font, const QColor& color, QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    setTextColor(label, color);
    return label;
}

}  // namespace cb::style
