#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>

namespace cb {

// A segmented control: a row of equal segments in a rounded track, one of them selected.
// Clicking a segment (or Left/Right with the keyboard focus) calls onSelect with its index; the
// picker does not change its own selection: the owner sets it from the value it is bound to.
class ModePicker : public QWidget {
    Q_OBJECT

  public:
    // REQUIRES: called on the UI thread.
    explicit ModePicker(QWidget* parent = nullptr);

    // Replaces the segment labels; the selection index stays.
    void setLabels(QStringList labels);
    const QStringList& labels() const { return labels_; }

    // Marks segment `index` as selected (-1 for none).
    void setSelectedIndex(int index);
    int selectedIndex() const { return selected_; }

    // Called with the index of a segment the user chose, also the selected one.
    void setOnSelect(std::function<void(int)> action) { onSelect_ = std::move(action); }

    // The rectangle of segment `index`.
    QRect segmentRect(int index) const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    QStringList labels_;
    int selected_ = -1;
    bool keyboardFocus_ = false;  // the focus came by Tab, so the focus ring shows
    std::function<void(int)> onSelect_;
};

}  // namespace cb
