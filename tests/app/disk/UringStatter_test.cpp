#include "app/disk/UringStatter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
namespace ts = cb::testsupport;

// Every kind of entry, more of them than one batch holds, and one name that no longer exists.
DirectoryReader::Listing makeFolder(const fs::path& dir) {
    ts::makeFile(dir / "data", 12345);
    ts::makeSparseFile(dir / "sparse", 64 << 20, 4096);
    ts::makeHardLink(dir / "data", dir / "data-link");
    ts::makeFile(dir / "sub" / "inner", 10);
    ts::makeSymlink("nowhere", dir / "dangling");
    ts::makeFifo(dir / "pipe");
    for (int i = 0; i < 150; ++i) {
        ts::makeFile(dir / ("f" + std::to_string(i)), 37 * i);
    }
    DirectoryReader::Listing listing;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        listing.add(name.c_str(), name.size());
    }
    listing.add("gone", 4);
    return listing;
}

int currentCpu() {
    const int cpu = ::sched_getcpu();
    return cpu < 0 ? 0 : cpu;
}

TEST(UringStatterTest, BatchedFactsEqualFstatatForEveryKindOfEntry) {
    if (!UringStatter::isAvailable()) {
        GTEST_SKIP() << "io_uring is not allowed here; the scanner uses fstatat";
    }
    ts::TempDir dir;
    const DirectoryReader::Listing listing = makeFolder(dir.path());
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);

    for (const std::optional<int> cpu : {std::optional<int>(), std::optional<int>(currentCpu())}) {
        auto statter = UringStatter::create(cpu);
        ASSERT_NE(statter, nullptr);
        std::vector<EntryFacts> facts(listing.size());
        // Uneven slices: a short one, a full batch, and the rest in statEntries' own batches.
        size_t first = 0;
        for (size_t count : {size_t{3}, size_t{UringStatter::kBatch}, listing.size()}) {
            count = std::min(count, listing.size() - first);
            statter->statEntries(fd, listing, first, count, facts.data() + first);
            first += count;
        }
        ASSERT_EQ(first, listing.size());
        for (size_t i = 0; i < listing.size(); ++i) {
            const char* name = listing.name(i);
            struct stat expected {};
            const int error = ::fstatat(fd, name, &expected, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
            ASSERT_EQ(facts[i].error, error) << name;
            if (error != 0) {
                continue;
            }
            const struct stat& got = facts[i].st;
            EXPECT_EQ(got.st_dev, expected.st_dev) << name;
            EXPECT_EQ(got.st_ino, expected.st_ino) << name;
            EXPECT_EQ(got.st_mode, expected.st_mode) << name;
            EXPECT_EQ(got.st_nlink, expected.st_nlink) << name;
            EXPECT_EQ(got.st_size, expected.st_size) << name;
            EXPECT_EQ(got.st_blocks, expected.st_blocks) << name;
        }
        EXPECT_EQ(facts.back().error, ENOENT);
        // The per-entry path is fstatat(AT_SYMLINK_NOFOLLOW), which never triggers an automount;
        // statx does unless asked not to, so the batch must ask for both.
        EXPECT_EQ(statter->TEST_lastStatxFlags(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT);
    }
    ::close(fd);
}

}  // namespace
}  // namespace cb
