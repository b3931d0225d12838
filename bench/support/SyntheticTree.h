#pragma once

// Synthetic scanned trees for the benchmarks.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/disk/FileNode.h"

namespace cb::bench {

// Sums folder sizes and file counts bottom-up (iterative: the tree may be deep).
inline void sumTotals(FileNode& root) {
    std::vector<FileNode*> order{&root};
    for (size_t i = 0; i < order.size(); ++i) {
        for (const auto& child : order[i]->children()) {
            order.push_back(child.get());
        }
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        FileNode* node = *it;
        if (!node->isDirectory()) {
            continue;
        }
        int64_t size = 0, files = 0;
        for (const auto& child : node->children()) {
            size += child->size();
            files += child->fileCount();
        }
        node->setSize(size);
        node->setFileCount(files);
    }
}

// A deterministic tree of `entries` nodes: folders get 1 to 60 children, a quarter of them
// folders; file sizes are log-normal around 30 KB with a long tail.
inline std::unique_ptr<FileNode> makeTree(int64_t entries) {
    std::mt19937_64 rng(20261210);
    std::lognormal_distribution<double> fileSize(10.3, 2.2);
    auto root = std::make_unique<FileNode>("", true, nullptr);
    root->setRootPath("/");
    std::deque<FileNode*> folders{root.get()};
    int64_t made = 1;
    while (!folders.empty() && made < entries) {
        FileNode* folder = folders.front();
        folders.pop_front();
        const int64_t count = std::min<int64_t>(1 + rng() % 60, entries - made);
        FileNode::Children children;
        for (int64_t i = 0; i < count; ++i) {
            const bool isDir = rng() % 4 == 0;
            auto child = std::make_unique<FileNode>("n" + std::to_string(made + i), isDir, folder);
            if (!isDir) {
                child->setSize(static_cast<int64_t>(fileSize(rng)) + 4096);
                child->setFileCount(1);
            } else {
                folders.push_back(child.get());
            }
            children.push_back(std::move(child));
        }
        made += count;
        folder->setChildren(std::move(children));
    }
    sumTotals(*root);
    root->sortChildrenBySize();
    return root;
}

}  // namespace cb::bench
