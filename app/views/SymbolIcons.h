#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <span>
#include <string_view>

namespace cb {

// The one table from the system symbol names the views use ("folder.fill", "doc.fill",
// "info.circle", ...) to icons. Each symbol maps to a freedesktop icon name, looked up in the
// desktop's icon theme (its "-symbolic" variant first, the plain one next), and to a small SVG
// of our own drawn in one colour, used when the theme has no such icon. Symbols are drawn like
// template images: in one tint colour through the icon's shape.
struct SymbolEntry {
    const char* symbol;     // the system symbol name
    const char* themeIcon;  // the freedesktop icon name, without "-symbolic"
    const char* svg;        // our fallback: a 24 x 24 SVG in black on transparent
};

// Returns every entry of the table.
std::span<const SymbolEntry> symbolTable();

// Returns the entry of `symbol`, or null for a name the table does not hold.
const SymbolEntry* findSymbol(std::string_view symbol);

// Where a symbol's picture came from.
enum class SymbolSource { theme, fallback, none };

// Returns the source symbolPixmap() uses for `symbol` with the current icon theme.
SymbolSource symbolSource(std::string_view symbol);

// Returns `symbol` drawn `logicalSize` logical pixels square in `tint`, for a screen with
// `devicePixelRatio`. A name the table does not hold gives a tinted disc, so a missing entry
// shows rather than leaving a hole.
QPixmap symbolPixmap(std::string_view symbol, double logicalSize, const QColor& tint,
                     double devicePixelRatio = 1.0);

// The same as an icon with 1x and 2x pixmaps, for buttons and menus.
QIcon symbolIcon(std::string_view symbol, double logicalSize, const QColor& tint);

}  // namespace cb
