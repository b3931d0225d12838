#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QLabel;
class QWidget;

namespace cb::style {

// The colours and fonts every view shares (the disk map's, the screens' and the dialogs'),
// taken from the widget's palette and the application font, so the views follow the desktop's
// light or dark scheme. Sizes are logical pixels (the "points" of the layout), which Qt scales
// on high-DPI screens. ScreenStyle.h adds the building blocks made from them.

// Returns `color` with its alpha multiplied by `opacity` (0 to 1).
QColor withOpacity(QColor color, double opacity);

// The primary text colour: the palette's window text.
QColor primaryText(const QPalette& palette);

// How strongly secondary labels are drawn: the window text at this opacity. Every view, the
// disk map's and the screens' alike, takes its secondary colour from here.
inline constexpr double kSecondaryTextOpacity = 0.55;

// The secondary text colour: the window text at kSecondaryTextOpacity.
QColor secondaryText(const QPalette& palette);

// The accent colour: the palette's highlight.
QColor accent(const QPalette& palette);

// The fixed system tints.
QColor systemOrange();
QColor systemRed();

// The system font at `pixelSize` logical pixels with `weight`: the Latin interface face first
// (Noto Sans, where installed), then the application font for the scripts it lacks. In a Chinese
// locale the application font is a CJK face whose lines are taller; with it first, every row of
// every list would grow and the fixed layouts (twelve rows of the details panel) would no longer
// fit. Text in other scripts still draws in its own face.
QFont systemFont(double pixelSize, QFont::Weight weight = QFont::Normal);

// The mark that stands for a line break inside a one-line text: U+21B5 (downwards arrow with
// corner leftwards).
inline constexpr char16_t kLineBreakMark = u'\u21B5';

// `text` on one line: each line break (CR LF, LF, CR, VT, FF, NEL, U+2028, U+2029) becomes
// kLineBreakMark, so a name with a line feed neither spills onto the next row nor hides the
// break.
QString singleLine(const QString& text);

// The same in a fixed-pitch family, for paths.
QFont monospacedFont(double pixelSize, QFont::Weight weight = QFont::Normal);

// The rounded design of the system font. Linux desktops have no rounded variant of their UI font,
// so this is the system font; kept as its own call so the places that ask for it are visible.
QFont roundedFont(double pixelSize, QFont::Weight weight = QFont::Normal);

// Sets the text colour of `label` (its window-text and text roles).
void setTextColor(QLabel* label, const QColor& color);

// `text` as a tooltip that wraps into a paragraph instead of one long line (Qt wraps rich text
// tooltips only).
QString paragraphToolTip(const QString& text);

// A label showing `text` in `font` and `color` (a secondary label takes secondaryText()); owned
// by `parent`.
QLabel* textLabel(const QFont& font, const QColor& color, QWidget* parent,
                  const QString& text = QString());

}  // namespace cb::style
