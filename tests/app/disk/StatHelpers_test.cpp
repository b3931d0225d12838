#include "app/disk/StatHelpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/disk/Scanner.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using namespace std::chrono_literals;

// Stats as the system does, slowly, and remembers which thread stat'ed each name how often.
class RecordingReader : public DirectoryReader {
  public:
    int statEntry(int dirFd, const char* name, struct stat& st) override {
        std::this_thread::sleep_for(50us);  // long enough for helpers to take their share
        {
            std::lock_guard<std::mutex> guard(mutex);
            ++calls[name];
            threads.insert(std::this_thread::get_id());
        }
        return DirectoryReader::statEntry(dirFd, name, st);
    }

    std::mutex mutex;
    std::map<std::string, int> calls;   // guarded by mutex
    std::set<std::thread::id> threads;  // guarded by mutex
};

TEST(StatHelpersTest, TwoWalkersGetEveryFactOnceFromSeveralThreads) {
    ts::TempDir dir;
    // More entries than one batch, and a name that is gone by the time it is stat'ed.
    DirectoryReader::Listing listing;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "f" + std::to_string(i);
        ts::makeFile(dir / name, 10 * i);
        listing.add(name.c_str(), name.size());
    }
    listing.add("gone", 4);
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);

    RecordingReader reader;
    const int helperCount = Scanner::activeProcessorCount() > 1 ? 3 : 0;
    std::vector<std::vector<EntryFacts>> facts(2, std::vector<EntryFacts>(listing.size()));
    {
        StatHelpers helpers(reader, helperCount, 2);
        // A third thread joins as a walker with no folder left does, until stop().
        std::thread server([&] { helpers.serve(); });
        std::vector<std::thread> walkers;
        for (size_t slot = 0; slot < 2; ++slot) {
            walkers.emplace_back([&, slot] {
                auto statter = helpers.makeStatter(slot);
                // A short slice the walker keeps to itself, then full batches.
                size_t first = 0;
                for (size_t count = 5; first < listing.size(); count = statter->batchSize()) {
                    count = std::min(count, listing.size() - first);
                    statter->statEntries(fd, listing, first, count, facts[slot].data() + first);
                    first += count;
                }
            });
        }
        for (auto& walker : walkers) {
            walker.join();
        }
        helpers.stop();
        server.join();
    }
    ::close(fd);

    for (size_t slot = 0; slot < 2; ++slot) {
        for (size_t i = 0; i + 1 < listing.size(); ++i) {
            struct stat expected {};
            ASSERT_EQ(::stat((dir / listing.name(i)).c_str(), &expected), 0);
            ASSERT_EQ(facts[slot][i].error, 0) << listing.name(i);
            EXPECT_EQ(facts[slot][i].st.st_ino, expected.st_ino) << listing.name(i);
            EXPECT_EQ(facts[slot][i].st.st_blocks, expected.st_blocks) << listing.name(i);
        }
        EXPECT_EQ(facts[slot].back().error, ENOENT);
    }
    // Every entry was stat'ed once per walker, and the work was shared.
    for (size_t i = 0; i < listing.size(); ++i) {
        EXPECT_EQ(reader.calls[listing.name(i)], 2) << listing.name(i);
    }
    if (helperCount > 0) {
        EXPECT_GT(reader.threads.size(), 2u);
    }
}

// Folders asked for ahead come back listed, with the facts of their first batch; a folder that
// cannot be opened comes back without a descriptor; what is dropped is closed.
TEST(StatHelpersTest, LookaheadListsFoldersAheadAndClosesWhatIsDropped) {
    ts::TempDir dir;
    for (const char* folder : {"a", "b", "c", "d"}) {
        for (int i = 0; i < 300; ++i) {
            ts::makeFile(dir / folder / ("f" + std::to_string(i)), 100);
        }
    }
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    RecordingReader reader;
    std::vector<int> closed;
    {
        StatHelpers helpers(reader, 2, 1);
        StatHelpers::Lookahead lookahead = helpers.lookahead(0);
        const std::vector<std::string> names = {"a", "b", "missing", "c", "d"};
        for (size_t i = 0; i < names.size(); ++i) {
            ASSERT_TRUE(lookahead.ask(i, 0, fd, names[i].c_str()));
        }
        // Taken: "a" (a helper may not have started it yet: then the walker lists it itself).
        StatHelpers::Lookahead::Made made;
        DirectoryReader::Listing listing;
        std::vector<EntryFacts> facts;
        EXPECT_FALSE(lookahead.take(0, 1, made, listing, facts));  // asked in another listing
        if (lookahead.take(0, 0, made, listing, facts)) {
            ASSERT_GE(made.fd, 0);
            EXPECT_TRUE(made.listed);
            EXPECT_EQ(made.asked, 0u);  // no descent asked for
            EXPECT_EQ(listing.size(), 300u);
            ASSERT_EQ(facts.size(), StatHelpers::kBatch);
            for (size_t i = 0; i < facts.size(); ++i) {
                struct stat expected {};
                ASSERT_EQ(::fstatat(made.fd, listing.name(i), &expected, AT_SYMLINK_NOFOLLOW), 0);
                EXPECT_EQ(facts[i].error, 0);
                EXPECT_EQ(facts[i].st.st_ino, expected.st_ino) << listing.name(i);
            }
            ::close(made.fd);
        }
        if (lookahead.take(2, 0, made, listing, facts)) {
            EXPECT_EQ(made.fd, -1);
            EXPECT_FALSE(made.listed);
        }
        EXPECT_FALSE(lookahead.take(7, 0, made, listing, facts));  // never asked for
        // "b", "c" and "d" are dropped, every place comes free again.
        lookahead.drop(0, [&](int leftOver) { closed.push_back(leftOver); });
        for (size_t i = 0; i < StatHelpers::Lookahead::kPlaces; ++i) {
            EXPECT_TRUE(lookahead.ask(100 + i, 1, fd, "a"));
        }
        EXPECT_FALSE(lookahead.ask(1000, 1, fd, "a"));
        // A listing above the one that asked drops them too.
        lookahead.drop(0, [&](int leftOver) { ::close(leftOver); });
        EXPECT_TRUE(lookahead.ask(1000, 1, fd, "a"));
        lookahead.drop(1, [&](int leftOver) { ::close(leftOver); });
    }
    ::close(fd);
    EXPECT_LE(closed.size(), 3u);
    for (int leftOver : closed) {
        struct stat st {};
        EXPECT_EQ(::fstat(leftOver, &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        ::close(leftOver);
    }
}

// Remembers which folders were opened.
class OpenRecordingReader : public DirectoryReader {
  public:
    int openDirectory(int parentFd, const char* name, bool followLink) override {
        {
            std::lock_guard<std::mutex> guard(mutex);
            opened.insert(name);
        }
        return DirectoryReader::openDirectory(parentFd, name, followLink);
    }
    bool hasOpened(const std::string& name) {
        std::lock_guard<std::mutex> guard(mutex);
        return opened.count(name) > 0;
    }

    std::mutex mutex;
    std::set<std::string> opened;  // guarded by mutex
};

size_t openDescriptorCount() {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// A folder listed ahead has its own sub-folders asked for and listed in turn, down a chain; the
// walker takes them from the listings it made of their parents, and a drop closes every
// descriptor the helpers opened, however deep.
TEST(StatHelpersTest, FoldersListedAheadHaveTheirSubFoldersListedAheadToo) {
    ts::TempDir dir;
    ts::makeFile(dir / "a" / "b" / "c" / "d" / "e" / "file", 10);
    ts::makeFile(dir / "a" / "x" / "file", 10);
    ts::makeFile(dir / "a" / "file", 10);
    auto ino = [&](const fs::path& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0);
        return static_cast<uint64_t>(st.st_ino);
    };
    struct stat rootFacts {};
    ASSERT_EQ(::stat(dir.path().c_str(), &rootFacts), 0);
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const size_t descriptorsBefore = openDescriptorCount();
    OpenRecordingReader reader;
    std::vector<int> takenFds;
    int dropped = 0;
    {
        // "e" lies 5 below the root: deeper than the walk lists, so it is not asked for.
        StatHelpers helpers(reader, 2, 1, nullptr, {rootFacts.st_dev, 4});
        StatHelpers::Lookahead lookahead = helpers.lookahead(0);
        ASSERT_TRUE(lookahead.ask(ino(dir / "a"), 0, fd, "a"));
        // A helper asks for "b" and "x" once it has listed "a", then "c" in "b", "d" in "c".
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!reader.hasOpened("d") && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_TRUE(reader.hasOpened("d"));
        EXPECT_FALSE(reader.hasOpened("e"));

        StatHelpers::Lookahead::Made made;
        DirectoryReader::Listing listing;
        std::vector<EntryFacts> facts;
        ASSERT_TRUE(lookahead.take(ino(dir / "a"), 0, made, listing, facts));
        ASSERT_GE(made.fd, 0);
        takenFds.push_back(made.fd);
        EXPECT_TRUE(made.listed);
        EXPECT_EQ(listing.size(), 3u);
        EXPECT_EQ(made.asked, 2u);  // "b" and "x"
        EXPECT_EQ(made.askedThrough, 3u);
        // "b" now belongs to the walker's listing of "a" at depth 1, not to depth 0.
        EXPECT_FALSE(lookahead.take(ino(dir / "a" / "b"), 0, made, listing, facts));
        ASSERT_TRUE(lookahead.take(ino(dir / "a" / "b"), 1, made, listing, facts));
        ASSERT_GE(made.fd, 0);
        takenFds.push_back(made.fd);
        ASSERT_EQ(listing.size(), 1u);
        EXPECT_STREQ(listing.name(0), "c");
        EXPECT_EQ(made.asked, 1u);
        ASSERT_TRUE(lookahead.take(ino(dir / "a" / "b" / "c"), 2, made, listing, facts));
        ASSERT_GE(made.fd, 0);
        takenFds.push_back(made.fd);
        EXPECT_STREQ(listing.name(0), "d");
        // "x" (asked in "a", depth 1) and "d" (asked in "c", depth 3) are left.
        lookahead.drop(1, [&](int leftOver) {
            ::close(leftOver);
            ++dropped;
        });
    }
    EXPECT_EQ(dropped, 2);
    for (int taken : takenFds) {
        ::close(taken);
    }
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    ::close(fd);
}

}  // namespace
}  // namespace cb
