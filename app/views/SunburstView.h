#pragma once

#include <QPixmap>
#include <QPointF>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/views/Segment.h"
#include "app/views/SunburstLayout.h"

class QMenu;
class QVariantAnimation;

namespace cb {

class FileNode;
class LocalizationManager;

// The disk map: the focused folder drawn as up to six rings of arcs around a centre disc that
// shows the folder's name, size and file count.
//
// The view owns only the pointer's last location and the chart's layout. Everything it shows
// comes in from outside (the window binds it to AppState): the focus, and the window's hovered
// node, which the view writes through onHover on every pointer movement and reads back for its
// context menu. The segment list is laid out once per focus or size and reused by every hit
// test and paint until either changes.
//
// Pointer: moving sets the hovered node (or none over the disc, a gap or outside the rings);
// leaving clears it; a click on a folder arc with children calls onDrillIn; a secondary click
// opens the menu "Show in Finder", "Open here" (folders with children), "Move to Trash…". When
// the focus changes under a pointer that stays still, the node now under it is hovered at once.
//
// Lifetime: the focus, the hovered node and the laid-out segments point into the tree without
// owning it. REQUIRES: whoever changes the tree calls setFocusNode again (with the same focus if
// it stays) and replaces the hovered node before a node they point to is freed and before the
// view handles its next event.
class SunburstView : public QWidget {
    Q_OBJECT

  public:
    using NodeAction = std::function<void(FileNode*)>;

    // How a new focus appears: at once (a new scan, a delete) or with the window's focus spring
    // (drill-in, breadcrumb, Up), which crossfades from the previous chart.
    enum class FocusChange { immediate, animated };

    // `loc` supplies the menu texts and must outlive the view.
    explicit SunburstView(LocalizationManager& loc, QWidget* parent = nullptr);
    ~SunburstView() override;

    // The folder shown; null shows nothing.
    void setFocusNode(FileNode* focus, FocusChange change = FocusChange::immediate);
    FileNode* focusNode() const { return focus_; }

    // The window's hovered node, as the binding reads it back. Does not repaint: the highlight
    // follows the pointer, not this value.
    void setHovered(FileNode* node) { hovered_ = node; }
    FileNode* hovered() const { return hovered_; }

    // The binding's write side: called with the node under the pointer (or null) on every
    // pointer movement, also when it did not change, and with null when the pointer leaves.
    void setOnHover(NodeAction action) { onHover_ = std::move(action); }
    // Called with a folder to open (make it the focus).
    void setOnDrillIn(NodeAction action) { onDrillIn_ = std::move(action); }
    // Called with a node the user asked to move to the Trash.
    void setOnRequestDelete(NodeAction action) { onRequestDelete_ = std::move(action); }
    // Called with a node to show in the file manager.
    void setOnReveal(NodeAction action) { onReveal_ = std::move(action); }

    // Returns the context menu for the current hovered node: "menu.revealInFinder", then
    // "menu.openHere" for a folder with children, a separator, "menu.moveToTrash"; or null when
    // nothing is hovered, in which case a secondary click shows no menu. An entry chosen after
    // its node left the tree does nothing.
    std::unique_ptr<QMenu> buildContextMenu();

    // The segment list for the current size and focus.
    std::vector<Segment> TEST_segments() const;

    QSize sizeHint() const override { return {600, 500}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    ChartGeometry geometry() const;
    // The segments of the focus at the current size, laid out on first use after a change.
    const std::vector<Segment>& segments() const;
    // The segment under `point` (widget coordinates), or null.
    const Segment* segmentAt(QPointF point) const;
    // The node under `point` (widget coordinates), or null.
    FileNode* nodeAt(QPointF point) const;
    void paintFocusLabel(QPainter& painter, const ChartGeometry& geometry) const;
    void startCrossfade();

    LocalizationManager& loc_;
    FileNode* focus_ = nullptr;    // non-owning
    FileNode* hovered_ = nullptr;  // non-owning
    std::optional<QPointF> mouseLocation_;
    mutable std::optional<std::vector<Segment>> segments_;  // reset by a new focus or size
    NodeAction onHover_;
    NodeAction onDrillIn_;
    NodeAction onRequestDelete_;
    NodeAction onReveal_;
    // The previous chart while an animated focus change fades it out.
    QPixmap previousFrame_;
    QVariantAnimation* crossfade_;  // owned by this widget (Qt parent)
};

}  // namespace cb
