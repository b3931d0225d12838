#include "app/uninstaller/RelatedFileGroups.h"

#include <gtest/gtest.h>

namespace cb {
namespace {

using C = RelatedCategory;

RelatedFile file(const char* path, C category, int64_t size) {
    return RelatedFile{QUuid::createUuid(), path, category, size, false};
}

std::vector<std::string> pathsOf(const std::vector<RelatedFile>& files) {
    std::vector<std::string> paths;
    for (const RelatedFile& f : files) {
        paths.push_back(f.url.string());
    }
    return paths;
}

TEST(RelatedFileGroupsTest, GroupsKeepInputOrderAndSkipEmptyCategories) {
    const std::vector<RelatedFile> files = {
        file("/z", C::logs, 1),   file("/a", C::caches, 2), file("/m", C::logs, 3),
        file("/b", C::caches, 2), file("/c", C::logs, 0),
    };
    const auto groups = groupRelatedFilesByCategory(files);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups.begin()->first, C::caches);  // declaration order, not input order
    EXPECT_EQ(pathsOf(groups.at(C::caches)), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(pathsOf(groups.at(C::logs)), (std::vector<std::string>{"/z", "/m", "/c"}));
    EXPECT_EQ(groups.at(C::logs)[1], files[2]);
    EXPECT_TRUE(groupRelatedFilesByCategory({}).empty());
}

TEST(RelatedFileGroupsTest, DisplayOrderIsLargestFirstWithEqualSizesInPathOrder) {
    const std::vector<RelatedFile> byPath = {
        file("/a", C::caches, 4096), file("/b", C::caches, -1), file("/c", C::caches, 8192),
        file("/d", C::caches, 4096), file("/e", C::caches, 0),  file("/f", C::caches, 4096),
    };
    EXPECT_EQ(pathsOf(inDisplayOrder(byPath)),
              (std::vector<std::string>{"/c", "/a", "/d", "/f", "/e", "/b"}));
}

}  // namespace
}  // namespace cb
