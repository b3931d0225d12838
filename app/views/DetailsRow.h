#pragma once

#include <QWidget>
#include <functional>

namespace cb {

class FileNode;

// One row of the details panel: the item's symbol, its name (cut in the middle) and a line of
// size • share. The whole row takes pointer events; it reports enter, leave, double-click and
// secondary click to the panel, which owns the logic. Highlighted rows get a rounded accent
// background.
class DetailsRow : public QWidget {
    Q_OBJECT

  public:
    struct Events {
        std::function<void(FileNode*)> entered;
        std::function<void(FileNode*)> left;
        std::function<void(FileNode*)> doubleClicked;
        std::function<void(FileNode*, QPoint globalPos)> contextMenu;
    };

    // Shows `node` with its share of `focusSize`. The row keeps `node` as a non-owning pointer;
    // the panel rebuilds its rows before the tree drops it.
    DetailsRow(FileNode* node, int64_t focusSize, Events events, QWidget* parent = nullptr);

    FileNode* node() const { return node_; }

    // Draws or clears the hover background.
    void setHighlighted(bool highlighted);
    bool highlighted() const { return highlighted_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    FileNode* node_;
    Events events_;
    bool highlighted_ = false;
};

}  // namespace cb
