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
            ASSERT_TRUE(lookahead.ask(i, fd, names[i].c_str()));
        }
        // Taken: "a" (a helper may not have started it yet: then the walker lists it itself).
        int got = -1;
        bool listed = false;
        DirectoryReader::Listing listing;
        std::vector<EntryFacts> facts;
        if (lookahead.take(0, got, listed, listing, facts)) {
            ASSERT_GE(got, 0);
            EXPECT_TRUE(listed);
            EXPECT_EQ(listing.size(), 300u);
            ASSERT_EQ(facts.size(), StatHelpers::kBatch);
            for (size_t i = 0; i < facts.size(); ++i) {
                struct stat expected {};
                ASSERT_EQ(::fstatat(got, listing.name(i), &expected, AT_SYMLINK_NOFOLLOW), 0);
                EXPECT_EQ(facts[i].error, 0);
                EXPECT_EQ(facts[i].st.st_ino, expected.st_ino) << listing.name(i);
            }
            ::close(got);
        }
        if (lookahead.take(2, got, listed, listing, facts)) {
            EXPECT_EQ(got, -1);
            EXPECT_FALSE(listed);
        }
        EXPECT_FALSE(lookahead.take(7, got, listed, listing, facts));  // never asked for
        // "b", "c" and "d" are dropped, every place comes free again.
        lookahead.drop(0, [&](int leftOver) { closed.push_back(leftOver); });
        for (size_t i = 0; i < StatHelpers::Lookahead::kPlaces; ++i) {
            EXPECT_TRUE(lookahead.ask(100 + i, fd, "a"));
        }
        EXPECT_FALSE(lookahead.ask(200, fd, "a"));
        lookahead.drop(100, [&](int leftOver) { ::close(leftOver); });
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

}  // namespace
}  // namespace cb
