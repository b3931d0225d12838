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

}  // namespace
}  // namespace cb
