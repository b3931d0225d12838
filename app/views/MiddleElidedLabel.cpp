#include "app/views/MiddleElidedLabel.h"

#include <QClipboard>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTextLayout>

#include <algorithm>

namespace cb {

namespace {

struct Lines {
    QStringList lines;
    bool elided = false;
};

// Line breaks inside a name would break the label's own lines; they are shown as spaces.
QString oneParagraph(QString text) {
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    return text;
}

Lines breakIntoLines(const QString& rawText, const QFont& font, int width, int maxLines) {
    const QString text = oneParagraph(rawText);
    width = std::max(width, 1);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QList<std::pair<int, int>> spans;  // start and length of each line
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        spans.append({line.textStart(), line.textLength()});
    }
    layout.endLayout();

    Lines result;
    const bool tooMany = spans.size() > maxLines;
    const qsizetype kept = tooMany ? maxLines - 1 : spans.size();
    for (qsizetype i = 0; i < kept; ++i) {
        result.lines.append(text.mid(spans[i].first, spans[i].second).trimmed());
    }
    if (tooMany) {
        // The last line keeps the end of the text; its middle gives way to the ellipsis.
        const QString rest = text.mid(spans[maxLines - 1].first);
        result.lines.append(QFontMetrics(font).elidedText(rest, Qt::ElideMiddle, width));
        result.elided = true;
    }
    return result;
}

}  // namespace

MiddleElidedLabel::MiddleElidedLabel(int maxLines, bool selectable, QWidget* parent)
    : QLabel(parent), maxLines_(std::max(maxLines, 1)) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    if (selectable) {
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
}

void MiddleElidedLabel::setFullText(const QString& text) {
    full_ = text;
    relayout();
    updateGeometry();
}

QStringList MiddleElidedLabel::layoutLines(const QString& text, const QFont& font, int width,
                                           int maxLines) {
    return breakIntoLines(text, font, width, std::max(maxLines, 1)).lines;
}

QSize MiddleElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    const int natural = QFontMetrics(font()).horizontalAdvance(oneParagraph(full_)) + 2;
    const int width = natural + margins.left() + margins.right();
    return {width, heightForWidth(width)};
}

QSize MiddleElidedLabel::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral("W…W")) + margins.left() + margins.right(),
            metrics.lineSpacing() + margins.top() + margins.bottom()};
}

int MiddleElidedLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const int inner = width - margins.left() - margins.right();
    const QStringList lines = breakIntoLines(full_, font(), inner, maxLines_).lines;
    // As tall as the label draws the lines, descenders and underscores of the last one included
    // (the font's line spacing alone can leave them out).
    const QFontMetrics metrics(font());
    const QString shown = lines.isEmpty() ? QStringLiteral(" ") : lines.join(u'\n');
    const int drawn = metrics
                          .boundingRect(QRect(0, 0, std::max(inner, 1), 1 << 20),
                                        Qt::AlignLeft | Qt::AlignTop, shown)
                          .height();
    const int spaced =
        static_cast<int>(std::max<qsizetype>(lines.size(), 1)) * metrics.lineSpacing();
    return std::max({drawn, spaced, metrics.height()}) + margins.top() + margins.bottom();
}

void MiddleElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    relayout();
}

void MiddleElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        relayout();
        updateGeometry();
    }
}

void MiddleElidedLabel::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy) && elided_ && hasSelectedText()) {
        QGuiApplication::clipboard()->setText(full_);
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void MiddleElidedLabel::relayout() {
    const Lines shown = breakIntoLines(full_, font(), contentsRect().width(), maxLines_);
    elided_ = shown.elided;
    setText(shown.lines.join(u'\n'));
    setToolTip(elided_ ? full_ : QString());
}

}  // namespace cb
