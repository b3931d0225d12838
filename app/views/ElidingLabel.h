#pragma once

#include <QLabel>
#include <QString>

namespace cb {

// A one-line label that cuts its text with an ellipsis (at the end, or in the middle) to the
// width it is given, instead of growing or wrapping. Its size hint asks for the whole text. Line
// breaks in the text are drawn as a visible mark (style::singleLine), never as new lines.
class ElidingLabel : public QLabel {  // QLabel for its font, palette and alignment
    Q_OBJECT

  public:
    // REQUIRES: called on the UI thread.
    explicit ElidingLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    // Replaces the whole text; the shown text follows the current width.
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

    // The text as drawn at the label's current width: on one line, elided.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    // Elides at paint time, so the text follows the width even when the label is laid out
    // while hidden (Qt defers the resize events of hidden widgets).
    void paintEvent(QPaintEvent* event) override;

  private:
    const Qt::TextElideMode mode_;
    QString full_;
    QString line_;  // full_ on one line
};

}  // namespace cb
