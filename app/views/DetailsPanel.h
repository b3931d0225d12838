#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QMenu;
class QVBoxLayout;

namespace cb {

class DetailsRow;
class FileNode;
class LocalizationManager;

// The side panel of the disk map: under the caption "details.largest" it lists the first 12
// children of the focus (the largest, as the scan sorts them), each with its symbol, name, size
// and share of the focus. It shares the window's hovered node with the chart: entering a row
// sets it, leaving a row clears it only while it is still that row's node, and the row of the
// hovered node is highlighted whoever set it; once new rows are laid out under a pointer that
// stayed on the panel, the row now under it (or none) is the hovered node. Double-clicking a
// folder with children opens it;
// the context menu offers "Show in Finder", "Open here" (folders with children) and "Move to
// Trash…".
//
// The panel keeps no state of its own beyond what it is given. Lifetime: the focus and the row
// nodes are non-owning. REQUIRES: the window calls setFocusNode() (also with the same focus,
// after a delete) before any shown node is freed.
class DetailsPanel : public QWidget {
    Q_OBJECT

  public:
    using NodeAction = std::function<void(FileNode*)>;

    // The most rows the panel lists.
    static constexpr int kMaxRows = 12;
    // The panel's fixed width.
    static constexpr int kWidth = 280;

    // `loc` supplies the caption and menu texts and must outlive the panel; a change of its
    // language re-labels the caption.
    explicit DetailsPanel(LocalizationManager& loc, QWidget* parent = nullptr);
    ~DetailsPanel() override;

    // Lists the children of `focus` (none for null). Rebuilds every row.
    void setFocusNode(FileNode* focus);
    FileNode* focusNode() const { return focus_; }

    // The window's hovered node, as the binding reads it back; highlights its row, if listed.
    void setHovered(FileNode* node);
    FileNode* hovered() const { return hovered_; }

    // The binding's write side: called with a row's node on enter, with null on a leave that
    // clears it.
    void setOnHover(NodeAction action) { onHover_ = std::move(action); }
    void setOnDrillIn(NodeAction action) { onDrillIn_ = std::move(action); }
    void setOnRequestDelete(NodeAction action) { onRequestDelete_ = std::move(action); }
    void setOnReveal(NodeAction action) { onReveal_ = std::move(action); }

    // Returns the context menu of the row showing `node`. An entry chosen after the node left
    // the tree does nothing.
    std::unique_ptr<QMenu> buildContextMenu(FileNode* node);

    // The rows as shown, top to bottom.
    std::vector<DetailsRow*> rows() const { return rows_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void writeHovered(FileNode* node);
    void hoverRowUnderPointer();
    void rowLeft(FileNode* node);
    void rowDoubleClicked(FileNode* node);
    void retranslate();

    LocalizationManager& loc_;
    FileNode* focus_ = nullptr;    // non-owning
    FileNode* hovered_ = nullptr;  // non-owning
    QLabel* caption_;
    QVBoxLayout* list_;
    std::vector<DetailsRow*> rows_;  // owned by the list widget
    NodeAction onHover_;
    NodeAction onDrillIn_;
    NodeAction onRequestDelete_;
    NodeAction onReveal_;
};

}  // namespace cb
