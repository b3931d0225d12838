#include "app/disk/FileNode.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <stdexcept>

namespace cb {

namespace {

constexpr uintptr_t kRootPathTag = 1;

#if defined(__x86_64__) && defined(__GLIBCXX__)
// The scanner builds millions of nodes; keep an eye on growth.
static_assert(sizeof(FileNode) <= 72, "FileNode grew");
#endif

}  // namespace

FileNode::ParentOrRootPath::ParentOrRootPath(FileNode* parent)
    : bits_(reinterpret_cast<uintptr_t>(parent)) {}

FileNode::ParentOrRootPath::~ParentOrRootPath() {
    clear();
}

FileNode* FileNode::ParentOrRootPath::parent() const {
    return (bits_ & kRootPathTag) ? nullptr : reinterpret_cast<FileNode*>(bits_);
}

const std::string* FileNode::ParentOrRootPath::rootPath() const {
    return (bits_ & kRootPathTag) ? reinterpret_cast<const std::string*>(bits_ & ~kRootPathTag)
                                  : nullptr;
}

void FileNode::ParentOrRootPath::setParent(FileNode* parent) {
    clear();
    bits_ = reinterpret_cast<uintptr_t>(parent);
}

void FileNode::ParentOrRootPath::setRootPath(std::string path) {
    auto owned = std::make_unique<std::string>(std::move(path));
    const auto raw = reinterpret_cast<uintptr_t>(owned.get());
    assert((raw & kRootPathTag) == 0);
    clear();
    bits_ = raw | kRootPathTag;
    owned.release();  // now owned by bits_, freed in clear()
}

void FileNode::ParentOrRootPath::clear() {
    if (bits_ & kRootPathTag) {
        delete reinterpret_cast<std::string*>(bits_ & ~kRootPathTag);
    }
    bits_ = 0;
}

FileNode::FileNode(std::string name, bool isDirectory, FileNode* parent)
    : name_(std::move(name)),
      link_(parent),
      isDirectory_(isDirectory),
      inaccessible_(false),
      inaccessibleCount_(0) {}

FileNode::~FileNode() = default;

void FileNode::setChildren(Children&& children) {
    if (children.size() > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("FileNode: too many children");
    }
    auto array = std::make_unique<std::unique_ptr<FileNode>[]>(children.size());
    for (size_t i = 0; i < children.size(); ++i) {
        assert(children[i] && children[i]->parent() == this);
        array[i] = std::move(children[i]);
    }
    children_ = std::move(array);
    childCount_ = static_cast<uint32_t>(children.size());
}

FileNode& FileNode::appendChild(std::unique_ptr<FileNode> child) {
    assert(child && child->parent() == this);
    Children all;
    all.reserve(childCount_ + 1);
    for (uint32_t i = 0; i < childCount_; ++i) {
        all.push_back(std::move(children_[i]));
    }
    FileNode& added = *child;
    all.push_back(std::move(child));
    setChildren(std::move(all));
    return added;
}

FileNode* FileNode::parent() const {
    return link_.parent();
}

const std::string* FileNode::rootPath() const {
    return link_.rootPath();
}

void FileNode::setRootPath(std::string path) {
    assert(parent() == nullptr);
    link_.setRootPath(std::move(path));
}

std::string FileNode::path() const {
    // Walk up to the first node that knows its path (or has no parent), then join downwards.
    std::vector<const FileNode*> chain;
    const FileNode* top = this;
    while (top->rootPath() == nullptr && top->parent() != nullptr) {
        chain.push_back(top);
        top = top->parent();
    }
    std::string result = top->rootPath() ? *top->rootPath() : top->name_;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (result.empty() || result.back() != '/') {
            result += '/';
        }
        result += (*it)->name_;
    }
    return result;
}

void FileNode::setInaccessible(bool value) {
    if (value == static_cast<bool>(inaccessible_)) {
        return;
    }
    inaccessible_ = value;
    if (value) {
        inaccessibleCount_ = std::min<uint32_t>(inaccessibleCount_ + 1, kMaxInaccessibleCount);
    } else if (inaccessibleCount_ > 0) {
        inaccessibleCount_ = inaccessibleCount_ - 1;
    }
}

void FileNode::recountInaccessible() {
    uint64_t count = inaccessible_ ? 1 : 0;
    for (const auto& child : children()) {
        child->recountInaccessible();
        count += child->inaccessibleCount_;
    }
    inaccessibleCount_ = static_cast<uint32_t>(std::min<uint64_t>(count, kMaxInaccessibleCount));
}

std::unique_ptr<FileNode> FileNode::removeChild(const FileNode* child) {
    auto* begin = children_.get();
    auto* end = begin + childCount_;
    auto* found = std::find_if(begin, end, [child](const auto& c) { return c.get() == child; });
    if (found == end) {
        return nullptr;
    }
    std::string formerPath = (*found)->path();
    std::unique_ptr<FileNode> removed = std::move(*found);
    std::move(found + 1, end, found);
    --childCount_;
    removed->link_.setRootPath(std::move(formerPath));
    adjustTotals(-removed->size_, -removed->fileCount_);
    const uint32_t lost = removed->inaccessibleCount_;
    for (FileNode* node = this; node != nullptr && lost != 0; node = node->parent()) {
        node->inaccessibleCount_ =
            node->inaccessibleCount_ - std::min<uint32_t>(lost, node->inaccessibleCount_);
    }
    return removed;
}

void FileNode::adjustTotals(int64_t sizeDelta, int64_t fileCountDelta) {
    for (FileNode* node = this; node != nullptr; node = node->parent()) {
        node->size_ += sizeDelta;
        node->fileCount_ += fileCountDelta;
    }
}

void FileNode::sortOwnChildrenBySize() {
    auto* begin = children_.get();
    std::stable_sort(begin, begin + childCount_,
                     [](const auto& a, const auto& b) { return a->size_ > b->size_; });
}

void FileNode::sortChildrenBySize() {
    sortOwnChildrenBySize();
    for (const auto& child : children()) {
        child->sortChildrenBySize();
    }
}

bool isSameOrDescendant(const FileNode* node, const FileNode* ancestor) {
    if (ancestor == nullptr) {
        return false;
    }
    for (const FileNode* n = node; n != nullptr; n = n->parent()) {
        if (n == ancestor) {
            return true;
        }
    }
    return false;
}

}  // namespace cb
