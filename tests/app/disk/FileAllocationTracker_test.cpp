#include "app/disk/FileAllocationTracker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

using testsupport::TempDir;
namespace ts = testsupport;

TEST(FileAllocationTrackerTest, FileSizeByKindOfEntry) {
    TempDir dir;
    const int64_t plainBytes = ts::makeFile(dir / "plain", 10000);
    ASSERT_GT(plainBytes, 0);
    const int64_t sparseBytes = ts::makeSparseFile(dir / "sparse", 64 << 20, 4096);
    ts::makeDir(dir / "folder");
    ts::makeSymlink(dir / "plain", dir / "link");
    ts::makeSymlink(dir / "nowhere", dir / "dangling");
    ts::makeFifo(dir / "pipe");

    struct Case {
        std::string name;
        std::optional<int64_t> reported;
        int64_t expected;
    };
    const std::vector<Case> cases = {
        {"plain", 8192, 8192},                  // a reported allocated size wins
        {"plain", std::nullopt, plainBytes},    // else st_blocks * 512
        {"plain", -5, 0},                       // a negative report counts nothing
        {"sparse", std::nullopt, sparseBytes},  // allocated, not the 64 MiB length
        {"folder", 4096, 0},
        {"link", 4096, 0},
        {"dangling", std::nullopt, 0},
        {"pipe", std::nullopt, 0},
        {"vanished", 8192, 0},  // lstat fails: 0 even with a report
    };
    FileAllocationTracker tracker;
    for (const auto& c : cases) {
        EXPECT_EQ(tracker.fileSize((dir / c.name).c_str(), c.reported), c.expected) << c.name;
    }
    EXPECT_LT(sparseBytes, 64 << 20);
    EXPECT_EQ(tracker.fileSize(static_cast<const char*>(nullptr), 100), 0);
}

TEST(FileAllocationTrackerTest, HardLinkedFileCountsOncePerTracker) {
    TempDir dir;
    const int64_t bytes = ts::makeFile(dir / "a" / "data", 20000);
    ts::makeHardLink(dir / "a" / "data", dir / "b" / "second");
    ts::makeHardLink(dir / "a" / "data", dir / "c" / "third");
    const std::vector<std::string> links = {"a/data", "b/second", "c/third"};

    for (int scan = 0; scan < 2; ++scan) {
        FileAllocationTracker tracker;  // a new scan counts the file again, once
        int64_t total = 0;
        for (const auto& link : links) {
            total += tracker.fileSize((dir / link).c_str());
        }
        EXPECT_EQ(total, bytes) << "scan " << scan;
        EXPECT_EQ(tracker.fileSize((dir / "a" / "data").c_str()), 0);
    }
}

TEST(FileAllocationTrackerTest, HardLinksRacedFromManyThreadsCountOnce) {
    TempDir dir;
    const int64_t bytes = ts::makeFile(dir / "0", 5000);
    for (int i = 1; i < 16; ++i) {
        ts::makeHardLink(dir / "0", dir / std::to_string(i));
    }
    FileAllocationTracker tracker;
    std::atomic<int64_t> total{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i) {
        threads.emplace_back(
            [&, i] { total += tracker.fileSize((dir / std::to_string(i)).c_str()); });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(total.load(), bytes);
}

TEST(FileAllocationTrackerTest, ShouldDescendOnlyOncePerFolder) {
    TempDir dir;
    ts::makeDir(dir / "d" / "sub");
    ts::makeFile(dir / "file", 10);
    ts::makeSymlink(dir / "d", dir / "linkToD");

    FileAllocationTracker tracker;
    EXPECT_EQ(tracker.shouldDescend((dir / "d").c_str()), true);
    EXPECT_EQ(tracker.shouldDescend((dir / "d/sub/..").c_str()), false);  // same folder again
    EXPECT_EQ(tracker.shouldDescend((dir / "d/sub").c_str()), true);
    EXPECT_EQ(tracker.shouldDescend((dir / "file").c_str()), false);
    EXPECT_EQ(tracker.shouldDescend((dir / "linkToD").c_str()), false);  // never followed
    EXPECT_EQ(tracker.shouldDescend((dir / "vanished").c_str()), std::nullopt);
    EXPECT_EQ(tracker.shouldDescend(static_cast<const char*>(nullptr)), std::nullopt);
}

TEST(FileAllocationTrackerTest, IdentityKeepsTheFullDeviceNumber) {
    // Two devices that agree in their low 32 bits must stay two keys.
    const FileAllocationTracker::Identity low{static_cast<dev_t>(7), 42};
    const FileAllocationTracker::Identity high{static_cast<dev_t>((1ULL << 32) | 7), 42};
    EXPECT_FALSE(low == high);

    struct stat st {};
    st.st_mode = S_IFDIR | 0755;
    st.st_ino = 42;
    FileAllocationTracker tracker;
    st.st_dev = low.device;
    EXPECT_TRUE(tracker.shouldDescend(st));
    st.st_dev = high.device;
    EXPECT_TRUE(tracker.shouldDescend(st));
    EXPECT_FALSE(tracker.shouldDescend(st));
}

TEST(FileAllocationTrackerTest, LstatPathNeverFollowsLinks) {
    TempDir dir;
    ts::makeDir(dir / "target");
    ts::makeSymlink(dir / "target", dir / "link");
    struct stat st {};
    ASSERT_EQ(lstatPath((dir / "link").c_str(), st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(lstatPath(nullptr, st), -1);
    EXPECT_EQ(lstatPath((dir / "missing").c_str(), st), -1);
}

}  // namespace
}  // namespace cb
