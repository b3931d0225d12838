#include "app/disk/FileNode.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

namespace cb {
namespace {

// Appends a child with the given size and file count (a file unless it gets children later).
FileNode& add(FileNode& parent, const std::string& name, int64_t size = 0, int64_t files = 0,
              bool isDirectory = false) {
    auto child = std::make_unique<FileNode>(name, isDirectory, &parent);
    child->setSize(size);
    child->setFileCount(files);
    return parent.appendChild(std::move(child));
}

std::unique_ptr<FileNode> makeRoot(const std::string& name, const std::string& path) {
    auto root = std::make_unique<FileNode>(name, true, nullptr);
    root->setRootPath(path);
    return root;
}

std::vector<std::string> childNames(const FileNode& node) {
    std::vector<std::string> names;
    for (const auto& child : node.children()) {
        names.push_back(child->name());
    }
    return names;
}

TEST(FileNodeTest, PathJoinsComponentsWithOneSlash) {
    struct Case {
        std::string rootName, rootPath;
        std::vector<std::string> chain;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"/", "/", {}, "/"},
        {"/", "/", {"Applications"}, "/Applications"},
        {"/", "/", {"Users", "alice"}, "/Users/alice"},
        {"Data", "/Volumes/Data", {"x"}, "/Volumes/Data/x"},
        {"odd", "/weird/", {"y", "z"}, "/weird/y/z"},
    };
    for (const auto& c : cases) {
        auto root = makeRoot(c.rootName, c.rootPath);
        FileNode* node = root.get();
        for (const auto& name : c.chain) {
            node = &add(*node, name, 0, 0, true);
        }
        EXPECT_EQ(node->path(), c.expected) << c.rootPath;
        EXPECT_EQ(node->rootPath() != nullptr, c.chain.empty());
    }
}

TEST(FileNodeTest, NodeWithoutParentOrRootPathUsesItsName) {
    FileNode orphan("loose.txt", false, nullptr);
    EXPECT_EQ(orphan.path(), "loose.txt");
    EXPECT_EQ(orphan.parent(), nullptr);
    EXPECT_EQ(orphan.rootPath(), nullptr);
}

TEST(FileNodeTest, RemoveChildLowersEveryAncestorAndKeepsSiblingOrder) {
    auto root = makeRoot("/", "/");
    FileNode& a = add(*root, "a", 0, 0, true);
    FileNode& b = add(a, "b", 0, 0, true);
    FileNode& folder = add(b, "folder", 0, 0, true);
    add(folder, "first", 10, 1);
    FileNode& victim = add(folder, "victim", 300, 2, true);
    add(victim, "inner", 300, 2);
    add(folder, "last", 20, 1);
    for (FileNode* n : {root.get(), &a, &b, &folder}) {
        n->setSize(330);
        n->setFileCount(4);
    }

    std::unique_ptr<FileNode> removed = folder.removeChild(&victim);

    ASSERT_EQ(removed.get(), &victim);
    for (FileNode* n : {root.get(), &a, &b, &folder}) {
        EXPECT_EQ(n->size(), 30) << n->name();
        EXPECT_EQ(n->fileCount(), 2) << n->name();
    }
    EXPECT_EQ(childNames(folder), (std::vector<std::string>{"first", "last"}));
    // The removed subtree keeps its own totals and children and still knows where it was.
    EXPECT_EQ(removed->size(), 300);
    EXPECT_EQ(removed->fileCount(), 2);
    EXPECT_EQ(removed->children().size(), 1u);
    EXPECT_EQ(removed->path(), "/a/b/folder/victim");
    EXPECT_EQ(removed->children()[0]->path(), "/a/b/folder/victim/inner");
}

TEST(FileNodeTest, RemovedSubtreeOutlivesItsFormerTree) {
    auto root = makeRoot("top", "/top");
    FileNode& dir = add(*root, "dir", 5, 1, true);
    add(dir, "f", 5, 1);
    std::unique_ptr<FileNode> removed = root->removeChild(&dir);
    root.reset();  // the former parent is gone; the sanitizer build catches any dangling use
    EXPECT_EQ(removed->parent(), nullptr);
    EXPECT_EQ(removed->path(), "/top/dir");
    EXPECT_EQ(removed->children()[0]->path(), "/top/dir/f");
}

TEST(FileNodeTest, RemoveChildIgnoresNodesThatAreNotChildren) {
    auto root = makeRoot("r", "/r");
    add(*root, "same", 7, 1);
    root->setSize(7);
    root->setFileCount(1);
    FileNode lookalike("same", false, root.get());
    lookalike.setSize(7);
    lookalike.setFileCount(1);

    EXPECT_EQ(root->removeChild(&lookalike), nullptr);
    EXPECT_EQ(root->removeChild(nullptr), nullptr);
    EXPECT_EQ(root->children().size(), 1u);
    EXPECT_EQ(root->size(), 7);
    EXPECT_EQ(root->fileCount(), 1);
}

TEST(FileNodeTest, SortIsStableLargestFirstAndRecursive) {
    auto root = makeRoot("r", "/r");
    add(*root, "a", 5);
    FileNode& b = add(*root, "b", 9, 0, true);
    add(*root, "c", 5);
    add(*root, "d", 9);
    add(b, "small", 1);
    add(b, "neg", -4);
    add(b, "big", 8);

    root->sortOwnChildrenBySize();  // this level only
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"b", "d", "a", "c"}));
    EXPECT_EQ(childNames(b), (std::vector<std::string>{"small", "neg", "big"}));

    root->sortChildrenBySize();
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"b", "d", "a", "c"}));
    EXPECT_EQ(childNames(b), (std::vector<std::string>{"big", "small", "neg"}));
}

TEST(FileNodeTest, IdentityIsTheObjectNotItsValues) {
    auto root = makeRoot("r", "/r");
    FileNode& x = add(*root, "twin", 3, 1);
    FileNode& y = add(*root, "twin", 3, 1);
    EXPECT_FALSE(x == y);
    EXPECT_TRUE(x == x);
    std::unordered_set<const FileNode*> keys = {x.id(), y.id()};
    EXPECT_EQ(keys.size(), 2u);
}

TEST(FileNodeTest, InaccessibleCountCoversTheWholeSubtree) {
    auto root = makeRoot("r", "/r");
    root->setInaccessible(true);
    FileNode& a = add(*root, "a", 0, 0, true);
    FileNode& b = add(*root, "b", 0, 0, true);
    add(a, "x", 0, 0, true).setInaccessible(true);
    add(b, "y", 0, 0, true).setInaccessible(true);
    add(b, "z", 0, 0, true);
    root->recountInaccessible();
    EXPECT_EQ(root->inaccessibleCount(), 3);
    EXPECT_EQ(b.inaccessibleCount(), 1);

    // A removal lowers every ancestor's count by the subtree's, without a recount.
    std::unique_ptr<FileNode> removed = root->removeChild(&b);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->inaccessibleCount(), 1);
    EXPECT_EQ(root->inaccessibleCount(), 2);
    EXPECT_EQ(a.inaccessibleCount(), 1);
    // Clearing a flag lowers the node's own count; the ancestors follow at the next recount.
    root->setInaccessible(false);
    EXPECT_EQ(root->inaccessibleCount(), 1);
    root->recountInaccessible();
    EXPECT_EQ(root->inaccessibleCount(), 1);
}

TEST(FileNodeTest, DescendantCheckFollowsTheParentChain) {
    auto root = makeRoot("r", "/r");
    FileNode& a = add(*root, "a", 0, 0, true);
    FileNode& b = add(*root, "b", 0, 0, true);
    const FileNode* aFile = &add(a, "f", 1, 1);
    EXPECT_TRUE(isSameOrDescendant(aFile, &a));
    EXPECT_TRUE(isSameOrDescendant(&a, &a));
    EXPECT_TRUE(isSameOrDescendant(aFile, root.get()));
    EXPECT_FALSE(isSameOrDescendant(&a, aFile));
    EXPECT_FALSE(isSameOrDescendant(aFile, &b));
    EXPECT_FALSE(isSameOrDescendant(aFile, nullptr));
    EXPECT_FALSE(isSameOrDescendant(nullptr, root.get()));
}

TEST(FileNodeTest, SetChildrenReplacesTheList) {
    auto root = makeRoot("r", "/r");
    add(*root, "old", 1, 1);
    FileNode::Children fresh;
    fresh.push_back(std::make_unique<FileNode>("n1", false, root.get()));
    fresh.push_back(std::make_unique<FileNode>("n2", true, root.get()));
    root->setChildren(std::move(fresh));
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"n1", "n2"}));
    EXPECT_TRUE(root->children()[1]->isDirectory());
    EXPECT_EQ(root->children()[1]->parent(), root.get());
}

}  // namespace
}  // namespace cb
