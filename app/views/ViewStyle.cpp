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
    static const QString latin = QStringLiteral("Noto Sans");
    if (font.family() != latin && QFontDatabase::hasFamily(latin)) {
        font.setFamilies({latin, font.family()});
    }
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setWeight(weight);
    return font;
}

QString singleLine(const QString& text) {
    QString line;
    line.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool isBreak = c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' ||
                             c == u'\u0085' || c == u'\u2028' || c == u'\u2029';
        if (!isBreak) {
            line += text[i];
            continue;
        }
        line += QChar(kLineBreakMark);
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;  // CR LF is one break
        }
    }
    return line;
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
