#pragma once

#include <QWidget>
#include <cstdint>

class QLabel;

namespace cb {

class ElidingLabel;
class FileNode;
class MiddleElidedLabel;

// The floating card that describes one file or folder: its symbol and name, its full path (at
// most two lines, cut in the middle), its size with its share of a parent size, and for folders
// the number of files inside. The card is at most kMaxCardWidth wide and casts a soft shadow,
// for which the widget keeps transparent margins (shadowMargins()) around the card; the window
// places it, and passes no pointer events to it.
//
// The view copies what it shows when setNode() is called and keeps no pointer to the node.
class TooltipView : public QWidget {
    Q_OBJECT

  public:
    // The widest the card gets, margins for the shadow not included.
    static constexpr int kMaxCardWidth = 340;

    // REQUIRES: called on the UI thread.
    explicit TooltipView(QWidget* parent = nullptr);

    // Shows `node`; the percentage is its size against `parentSize`. A negative size is shown
    // as 0 bytes while the percentage uses the raw value.
    void setNode(const FileNode& node, int64_t parentSize);

    // The transparent space around the card that the shadow is drawn in.
    static QMargins shadowMargins();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QLabel* icon_;
    ElidingLabel* name_;
    MiddleElidedLabel* path_;
    QLabel* driveIcon_;
    QLabel* size_;
    QLabel* percent_;
    QLabel* fileCount_;
};

}  // namespace cb
