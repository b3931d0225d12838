#pragma once

// Small building blocks shared by the welcome and progress screens and the dialogs, made from
// the colours and fonts of ViewStyle.h: byte texts, symbol labels, the dialog header, the
// rounded box behind facts and steps, button looks and the Return/Escape keys of a dialog.
//
// Sizes are logical pixels throughout: one point of the layout is one device-independent pixel.

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include "app/views/ViewStyle.h"

#include <cstdint>

class QAbstractButton;
class QLabel;
class QPushButton;

namespace cb::style {

// The byte text of a size: the shared byte formatter's text of `bytes`, a negative count being
// shown as 0.
QString byteText(int64_t bytes);

// A label showing the system symbol `symbol` (see SymbolIcons.h) in `color`, sized `pixels` x
// `pixels`; owned by `parent`.
QLabel* symbolLabel(const char* symbol, int pixels, const QColor& color, QWidget* parent);

// The header of a dialog: the symbol `symbol` (`pixels` square, in `tint`) beside a column of a
// semibold 15 px title over a 12 px secondary line, which wraps when `bodyWraps`. The labels are
// named "title" and `bodyName`; their texts are set by the dialog. All three are owned by `parent`.
struct DialogHeader {
    QWidget* widget = nullptr;
    QLabel* title = nullptr;
    QLabel* body = nullptr;
};
DialogHeader dialogHeader(const char* symbol, int pixels, const QColor& tint, bool bodyWraps,
                          const QString& bodyName, QWidget* parent);

// A box with a rounded background of radius 8 filled with the secondary colour at opacity 0.08.
// Children are laid out by the layout set on it.
class RoundedBox : public QWidget {
  public:
    // REQUIRES: called on the UI thread.
    explicit RoundedBox(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// How a push button looks: the platform's default push button, or the filled, prominent "bordered
// prominent" look, tinted with the accent colour or red for destructive actions.
enum class ButtonLook { standard, prominent, destructive };

// Control sizes of the platform: small (banner and cards), regular, large (welcome screen).
enum class ControlSize { small, regular, large };

// Applies `look` and `size` to `button`. The prominent looks are drawn with a style sheet on the
// button alone; the standard look keeps the application style.
void styleButton(QPushButton* button, ButtonLook look, ControlSize size);

// Makes Return press `returnButton` and Escape press `escapeButton` (either may be null) while the
// keyboard focus is inside `dialog`, so two dialogs on screen never fight over a key. The dialog
// takes the focus each time it is shown, so its keys work at once. REQUIRES: the buttons are
// children of `dialog`.
void bindDialogKeys(QWidget* dialog, QAbstractButton* returnButton, QAbstractButton* escapeButton);

}  // namespace cb::style
