#pragma once

#include <vector>

namespace cb {

class FileNode;

// A node of the focused subtree remembered across a nested event loop, such as an open context
// menu, during which a finished scan or a delete may replace or shrink the tree. It keeps the
// chain of node addresses from the focus down to the node and, when asked, finds each of them
// again among the live children of the one above, comparing addresses only, so a node that
// left the tree is detected without touching freed memory.
class NodeTrail {
  public:
    // Remembers `node`. REQUIRES: node is null, `focus`, or a live descendant of `focus`.
    NodeTrail(FileNode* focus, FileNode* node);

    // Returns the node when `focus` is still the remembered focus and every link of the chain is
    // still a child of the one above it; null otherwise (and for a null node).
    FileNode* resolve(const FileNode* focus) const;

  private:
    FileNode* focus_;               // null when no node is remembered
    std::vector<FileNode*> chain_;  // from the focus's child down to the node; addresses only
};

}  // namespace cb
