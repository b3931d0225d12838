#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace cb {

// One file or folder of a scanned tree.
//
// Design notes
// ------------
// A node is a reference object with identity semantics: two nodes are the same only if they are
// the same object. Parents own their children; a child's parent pointer is non-owning, so the
// root alone keeps the whole tree alive. Only a root stores a path; every other node builds its
// path from the parent chain.
//
// The scanner makes millions of these, so the node is kept small (72 bytes on x86-64 besides the
// heap part of a long name): the children are one exact-size array of owning pointers, and the
// parent pointer and the root path share one tagged word because a node has one or the other,
// never both.
//
// Invariants (after a completed scan; checked with assert where cheap):
//   1. A folder's size() and fileCount() equal the sums over its children.
//   2. A file has no children.
//   3. Every child's parent() is the node whose children() holds it.
//   4. A node has a parent or a root path, not both; only roots have rootPath().
//
// Threads: a node has no lock. During a scan each node is written by one walker only; afterwards
// the tree is read and changed on one thread (the UI thread).
class FileNode {
  public:
    using Children = std::vector<std::unique_ptr<FileNode>>;

    // Makes a node with size and file count 0, no children, not inaccessible and no root path.
    // `parent` is non-owning and may be null (for a root). The node is NOT added to the parent's
    // children: the caller does that (setChildren() or appendChild()).
    FileNode(std::string name, bool isDirectory, FileNode* parent);
    ~FileNode();

    FileNode(const FileNode&) = delete;
    FileNode& operator=(const FileNode&) = delete;

    // Last path component of the item; for a scan root, that of the scanned location ("/" for
    // the root folder).
    const std::string& name() const { return name_; }

    // True when the item is a folder.
    bool isDirectory() const { return isDirectory_; }

    // Allocated bytes: a file's own allocated size as counted by the allocation tracker, a
    // folder's the sum over its children. Signed; never negative after a scan.
    int64_t size() const { return size_; }
    void setSize(int64_t size) { size_ = size; }

    // 1 for a counted file; for a folder the sum over its children.
    int64_t fileCount() const { return fileCount_; }
    void setFileCount(int64_t count) { fileCount_ = count; }

    // The children, owned by this node. After a scan they are sorted by size, largest first.
    // The span is invalidated by setChildren(), appendChild() and removeChild().
    std::span<const std::unique_ptr<FileNode>> children() const {
        return {children_.get(), childCount_};
    }

    // Replaces the children with the elements of `children` (the previous ones are destroyed).
    // The elements are moved out; the vector keeps its size (null elements) and capacity, so a
    // walker can clear() and reuse it.
    // REQUIRES: every element is non-null and its parent() is this node.
    void setChildren(Children&& children);

    // Appends one child and returns it. Reallocates the child array, so it is meant for small
    // trees built by hand; a walker hands over a whole list with setChildren().
    // REQUIRES: child is non-null and child->parent() is this node.
    FileNode& appendChild(std::unique_ptr<FileNode> child);

    // The folder that holds this node, or null for a root (also for a node removed from its
    // folder). Non-owning.
    FileNode* parent() const;

    // True when the folder could not be listed, or its walk was cut short by the stall watchdog.
    bool inaccessible() const { return inaccessible_; }
    // Sets the flag and keeps this node's own inaccessibleCount() in step; the ancestors' counts
    // follow at the next recountInaccessible() (a walker may not touch nodes of other walkers).
    void setInaccessible(bool value);

    // The path of the scanned location, set only on a root; null on every other node.
    const std::string* rootPath() const;

    // Makes this node a root for `path`.
    // REQUIRES: parent() is null.
    void setRootPath(std::string path);

    // The node's path, computed on each call: the root path if set; otherwise the parent's path
    // joined with name() by exactly one "/"; otherwise name() alone.
    std::string path() const;

    // Number of inaccessible nodes in this subtree, this node included, as of the last
    // recountInaccessible() and lowered by every removeChild() since. Constant time: the window
    // asks it on the UI thread of trees with millions of nodes.
    int64_t inaccessibleCount() const { return inaccessibleCount_; }

    // Counts the inaccessible nodes of every subtree below and including this node, once the
    // tree is built (the scan does it on its worker). Visits the whole subtree.
    void recountInaccessible();

    // Removes the child that is the same object as `child` (found by identity) and lowers the
    // totals of this node and every ancestor by the child's size, file count and
    // inaccessibleCount(). The other
    // children keep their order. Returns the removed subtree, now owned by the caller (so it can
    // be freed off the UI thread), or null when `child` is not a child of this node, in which
    // case nothing changes. The removed node keeps its size, file count and children; it becomes
    // a root whose rootPath() is the path it had, so it never refers back into a tree that may be
    // freed before it.
    std::unique_ptr<FileNode> removeChild(const FileNode* child);

    // Adds the deltas to this node's size and file count and to those of every ancestor.
    void adjustTotals(int64_t sizeDelta, int64_t fileCountDelta);

    // Sorts the children by size, largest first, with a stable sort (equal sizes keep their
    // order), then every child's children in turn.
    void sortChildrenBySize();

    // Sorts this node's own children the same way and leaves their subtrees as they are (a
    // parallel scan sorts each first-level subtree on the walker that built it).
    void sortOwnChildrenBySize();

    // Identity: the node's address. Equal nodes are the same object.
    const FileNode* id() const { return this; }
    friend bool operator==(const FileNode& a, const FileNode& b) { return &a == &b; }

  private:
    // Either the non-owning parent pointer or an owned root path, told apart by the low bit
    // (heap pointers are at least 2-aligned).
    class ParentOrRootPath {
      public:
        explicit ParentOrRootPath(FileNode* parent);
        ~ParentOrRootPath();
        ParentOrRootPath(const ParentOrRootPath&) = delete;
        ParentOrRootPath& operator=(const ParentOrRootPath&) = delete;

        FileNode* parent() const;
        const std::string* rootPath() const;
        void setParent(FileNode* parent);
        void setRootPath(std::string path);

      private:
        void clear();
        uintptr_t bits_;
    };

    std::string name_;
    int64_t size_ = 0;
    int64_t fileCount_ = 0;
    std::unique_ptr<std::unique_ptr<FileNode>[]> children_;
    ParentOrRootPath link_;
    uint32_t childCount_ = 0;
    // The flags share one word with the subtree's inaccessible count, which saturates at
    // kMaxInaccessibleCount (far more nodes than fit in memory).
    uint32_t isDirectory_ : 1;
    uint32_t inaccessible_ : 1;
    uint32_t inaccessibleCount_ : 30;
    static constexpr uint32_t kMaxInaccessibleCount = (uint32_t{1} << 30) - 1;
};

// True when `node` is `ancestor` or lies below it; false when either is null.
bool isSameOrDescendant(const FileNode* node, const FileNode* ancestor);

}  // namespace cb
