#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace cb::style {

// The few colours and fonts the views share, taken from the widget's palette and the
// application font, so the views follow the desktop's light or dark scheme. Sizes are logical
// pixels (the "points" of the layout), which Qt scales on high-DPI screens.

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

// The application font at `pixelSize` logical pixels with `weight`.
QFont systemFont(double pixelSize, QFont::Weight weight = QFont::Normal);

// The same in a fixed-pitch family, for paths.
QFont monospacedFont(double pixelSize);

}  // namespace cb::style
