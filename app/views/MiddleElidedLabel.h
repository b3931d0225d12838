#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

class QFont;

namespace cb {

// A label for paths and names: its text wraps onto at most `maxLines` lines, and when it needs
// more, the last line keeps the end of the text and loses its middle to an ellipsis, so both the
// beginning and the file name stay visible. The text wraps anywhere (paths have no spaces to break
// at). With `selectable` the user can select the shown text; copying while the text is elided
// copies the whole text. The full text is the tooltip while it is elided.
class MiddleElidedLabel : public QLabel {
    Q_OBJECT

  public:
    // REQUIRES: maxLines >= 1; called on the UI thread.
    explicit MiddleElidedLabel(int maxLines, bool selectable = false, QWidget* parent = nullptr);

    // Replaces the whole text; the shown lines follow the current width.
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

    // True when the shown lines do not hold the whole text.
    bool isElided() const { return elided_; }

    // The lines `text` is shown as in `font` at `width` pixels with at most `maxLines` lines.
    static QStringList layoutLines(const QString& text, const QFont& font, int width, int maxLines);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void relayout();

    const int maxLines_;
    QString full_;
    bool elided_ = false;
};

}  // namespace cb
