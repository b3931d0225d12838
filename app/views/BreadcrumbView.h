#pragma once

#include <QWidget>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;

namespace cb {

class FileNode;

// The path bar above the disk map: one clickable crumb per folder from the scanned root down to
// the focus, separated by chevrons. The focus's crumb is semibold in the primary colour, the
// others regular in the secondary colour; a root with an empty name shows "/". Clicking any
// crumb, the focus's included, calls onSelect with its folder.
//
// The row fits the width it is given and never asks the window to grow: its size hint is the
// whole trail, its minimum a few letters. When the trail is wider than the row, the
// crumbs before the focus are shortened in the middle to a common width (the full name becomes
// the crumb's tooltip); when even the shortest of them do not fit, the crumbs nearest the root
// give way to a leading "…"; the focus's crumb is always shown, shortened only when it alone
// is wider than the row.
//
// The crumbs are rebuilt by setFocusNode(). REQUIRES: the window calls it again before a node
// on the shown chain is freed (a delete of an ancestor changes the focus anyway).
class BreadcrumbView : public QWidget {
    Q_OBJECT

  public:
    using NodeAction = std::function<void(FileNode*)>;

    // Spacing between a crumb and a chevron.
    static constexpr int kSpacing = 6;

    // REQUIRES: called on the UI thread.
    explicit BreadcrumbView(QWidget* parent = nullptr);

    // Shows the chain from the root to `focus`; null shows no crumbs.
    void setFocusNode(FileNode* focus);

    // Called with the folder of the clicked crumb.
    void setOnSelect(NodeAction action) { onSelect_ = std::move(action); }

    // The title of a crumb: the node's name, or "/" when it is empty.
    static QString crumbTitle(const FileNode& node);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Crumb {
        QPushButton* button;
        QLabel* chevron;  // null after the focus's crumb
        QString title;
        int fullWidth;  // the button's width with the whole title
    };

    void clearCrumbs();
    void layoutCrumbs();
    int rowWidth(size_t first, int cap) const;
    int crumbWidth(size_t index, int cap) const;
    int chevronWidth() const;
    int minimumCrumbWidth() const;
    void placeCrumb(size_t index, int cap, int& x);

    std::vector<Crumb> crumbs_;
    QLabel* more_;  // the leading "…" while crumbs nearest the root are left out; owned (child)
    NodeAction onSelect_;
};

}  // namespace cb
