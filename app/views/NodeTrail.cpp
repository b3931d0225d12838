#include "app/views/NodeTrail.h"

#include <algorithm>

#include "app/disk/FileNode.h"

namespace cb {

NodeTrail::NodeTrail(FileNode* focus, FileNode* node) : focus_(focus) {
    for (FileNode* n = node; n != nullptr && n != focus; n = n->parent()) {
        chain_.push_back(n);
    }
    std::reverse(chain_.begin(), chain_.end());
    if (node == nullptr) {
        focus_ = nullptr;
    }
}

FileNode* NodeTrail::resolve(const FileNode* focus) const {
    if (focus_ == nullptr || focus != focus_) {
        return nullptr;
    }
    FileNode* current = focus_;
    for (FileNode* link : chain_) {
        const auto children = current->children();
        const bool found = std::any_of(children.begin(), children.end(),
                                       [link](const auto& child) { return child.get() == link; });
        if (!found) {
            return nullptr;
        }
        current = link;
    }
    return current;
}

}  // namespace cb
