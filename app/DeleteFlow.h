#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "app/disk/FileNode.h"

namespace cb {

class AppState;

// The flows of AppState that change the disk rather than read it: a node of the chart moved to
// the Trash and the tree shrunk in place (or the welcome screen back when it was the root), and
// the local snapshots counted and thinned with the space won. A move still running when its
// node leaves the tree (the tree was replaced, or an enclosing folder was deleted first) still
// logs its event but no longer touches the tree. UI thread only; owned by the state and alive as
// long as it.
class DeleteFlow {
  public:
    explicit DeleteFlow(AppState& state);
    ~DeleteFlow();

    DeleteFlow(const DeleteFlow&) = delete;
    DeleteFlow& operator=(const DeleteFlow&) = delete;

    // The actions of AppState with the same names.
    void confirmDelete();
    void resetToWelcome();
    void refreshSnapshotCount();
    void thinSnapshots();

    // Forgets the moves under way whose node is in the subtree `subtree` (every move for null):
    // their nodes are about to be freed.
    void detachPendingDeletes(const FileNode* subtree);

  private:
    struct PendingDelete;

    void handleDeleteResult(const std::shared_ptr<PendingDelete>& pending, int64_t size,
                            bool isDirectory);
    void removeFromTree(FileNode& node);
    void detachPending(const std::shared_ptr<PendingDelete>& pending);
    void finishThinning(int64_t freeAfter, int64_t freeBefore, int64_t snapshotCount);

    AppState& state_;
    // Moves to the Trash still under way whose node is still in the tree.
    std::vector<std::shared_ptr<PendingDelete>> pendingDeletes_;
};

}  // namespace cb
