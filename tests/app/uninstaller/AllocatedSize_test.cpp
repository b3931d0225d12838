#include "app/uninstaller/AllocatedSize.h"

#include <gtest/gtest.h>

#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
namespace ts = cb::testsupport;

constexpr int64_t kMiB = 1 << 20;

TEST(AllocatedSizeTest, CountsEachAllocatedByteOnceWithoutFollowingLinks) {
    ts::TempDir dir;
    const int64_t file = ts::makeFile(dir / "file", 10'000);
    ASSERT_GT(file, 0);
    ts::makeSymlink(dir / "file", dir / "link");

    // A bundle-like tree: hidden entries and nested bundles are counted, links and pipes are not.
    const fs::path tree = dir / "Tree.app";
    int64_t expected = ts::makeFile(tree / "Contents" / "MacOS" / "tree", 20'000);
    expected += ts::makeFile(tree / "Contents" / ".hidden" / "data", 3'000);
    expected += ts::makeFile(tree / "Contents" / "PlugIns" / "Share.appex" / "x", 5'000);
    const int64_t linked = ts::makeFile(tree / "Contents" / "Resources" / "a", 7'000);
    expected += linked;
    ts::makeHardLink(tree / "Contents" / "Resources" / "a", tree / "Contents" / "Resources" / "b");
    ts::makeFifo(tree / "Contents" / "pipe");
    ts::makeFile(dir / "big" / "blob", 8 * kMiB);
    ts::makeSymlink(dir / "big", tree / "Contents" / "big");
    ts::makeSymlink(tree, tree / "Contents" / "loop");

    struct Case {
        fs::path path;
        int64_t expected;
    };
    const Case cases[] = {
        {dir / "file", file},
        {dir / "link", 0},
        {dir / "missing", 0},
        {tree / "Contents" / "pipe", 0},
        {tree, expected},
        {tree, expected},  // a second measurement counts the same again
        {dir / "big", ts::allocatedSize(dir / "big" / "blob")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(allocatedSize(c.path), c.expected) << c.path;
    }
    EXPECT_EQ(measureBundleSize(tree), expected);
}

TEST(AllocatedSizeTest, AFileHardLinkedIntoTwoBundlesCountsInBoth) {
    ts::TempDir dir;
    const int64_t shared = ts::makeFile(dir / "One.app" / "shared", 50'000);
    ts::makeHardLink(dir / "One.app" / "shared", dir / "Two.app" / "shared");
    const int64_t own = ts::makeFile(dir / "Two.app" / "own", 4'000);
    EXPECT_EQ(allocatedSize(dir / "One.app"), shared);
    EXPECT_EQ(allocatedSize(dir / "Two.app"), shared + own);
}

TEST(AllocatedSizeTest, AStoppedMeasurementEndsEarly) {
    ts::TempDir dir;
    for (int i = 0; i < 20; ++i) {
        ts::makeFile(dir / "Big.app" / ("f" + std::to_string(i)), 4'096);
    }
    std::atomic<bool> stop{true};
    EXPECT_EQ(allocatedSize(dir / "Big.app", &stop), 0);
    stop = false;
    EXPECT_GT(allocatedSize(dir / "Big.app", &stop), 0);
}

TEST(AllocatedSizeTest, AnUnreadableFolderLeavesTheRestCounted) {
    ts::TempDir dir;
    dir.openToEveryone();
    const int64_t readable = ts::makeFile(dir / "App.app" / "Contents" / "readable", 12'000) +
                             ts::makeFile(dir / "App.app" / "Contents" / "z" / "later", 6'000);
    ts::makeFile(dir / "App.app" / "Contents" / "locked" / "secret", 30'000);
    ts::makeUnreadableDir(dir / "App.app" / "Contents" / "locked");

    const ts::ChildResult result =
        ts::runUnprivileged([&] { return std::to_string(allocatedSize(dir / "App.app")); });
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, std::to_string(readable));
}

}  // namespace
}  // namespace cb
