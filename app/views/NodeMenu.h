#pragma once

#include <QMenu>
#include <functional>
#include <memory>

namespace cb {

class FileNode;
class LocalizationManager;

// True when a click may open `node` as the new focus: a folder with children.
bool isOpenable(const FileNode* node);

// What the entries of the node context menu call: the view's own actions, read when an entry
// is chosen (an unset one does nothing), and `focus`, which gives the focus at that moment.
// REQUIRES: the view holding the actions outlives the menu (the menu is its child).
struct NodeMenuActions {
    using Action = std::function<void(FileNode*)>;
    std::function<FileNode*()> focus;
    const Action* reveal;
    const Action* drillIn;
    const Action* requestDelete;
};

// Builds the context menu of `node`, shown by the chart and the details panel alike: "Reveal in
// Finder", "Open here" (only for an openable node), a separator, "Move to Trash". The menu runs
// its own event loop, during which a finished scan or a delete may change the tree: each entry
// finds its node again from the focus (see NodeTrail) and does nothing when it is gone.
// Returns null when `node` or `focus` is null. REQUIRES: node is `focus` or below it.
std::unique_ptr<QMenu> buildNodeMenu(FileNode* focus, FileNode* node, NodeMenuActions actions,
                                     const LocalizationManager& loc, QWidget* parent);

}  // namespace cb
