#pragma once

#include <QWidget>
#include <functional>

class QHBoxLayout;

namespace cb {

class FileNode;

// The path bar above the disk map: one clickable crumb per folder from the scanned root down to
// the focus, separated by chevrons. The focus's crumb is semibold in the primary colour, the
// others regular in the secondary colour; a root with an empty name shows "/". Clicking any
// crumb, the focus's included, calls onSelect with its folder.
//
// The crumbs are rebuilt by setFocusNode(). REQUIRES: the window calls it again before a node
// on the shown chain is freed (a delete of an ancestor changes the focus anyway).
class BreadcrumbView : public QWidget {
    Q_OBJECT

  public:
    using NodeAction = std::function<void(FileNode*)>;

    // REQUIRES: called on the UI thread.
    explicit BreadcrumbView(QWidget* parent = nullptr);

    // Shows the chain from the root to `focus`; null shows no crumbs.
    void setFocusNode(FileNode* focus);

    // Called with the folder of the clicked crumb.
    void setOnSelect(NodeAction action) { onSelect_ = std::move(action); }

    // The title of a crumb: the node's name, or "/" when it is empty.
    static QString crumbTitle(const FileNode& node);

  private:
    void clearCrumbs();

    QHBoxLayout* row_;
    NodeAction onSelect_;
};

}  // namespace cb
