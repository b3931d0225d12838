#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>

#include "app/AppState.h"
#include "app/disk/SnapshotService.h"
#include "app/localization/LocalizationManager.h"
#include "tests/app/AppStateFakes.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::FakeWorld;
using testing::waitFor;

// Runs the whole test program in English, with its preferences in a temporary folder.
class EnglishEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
        testing::ensureCoreApplication();
        LocalizationManager::shared().setCurrent(Language::english);
    }

  private:
    cb::testsupport::TempDir config_{"cb-xdg-config"};
};

[[maybe_unused]] ::testing::Environment* const kEnglish =
    ::testing::AddGlobalTestEnvironment(new EnglishEnvironment);

// Free bytes of "/" as the thinning reads them, one answer per read; nullopt is unreadable.
class CapacitySequence {
  public:
    void push(std::optional<int64_t> free) {
        std::lock_guard lock(mutex_);
        answers_.push_back(free);
    }
    std::optional<VolumeInfo::Capacity> next(const fs::path& location) {
        std::lock_guard lock(mutex_);
        queried_.push_back(location);
        if (answers_.empty()) {
            return VolumeInfo::Capacity{1'000'000, 1, 1};
        }
        std::optional<int64_t> free = answers_.front();
        answers_.pop_front();
        if (!free) {
            return std::nullopt;
        }
        return VolumeInfo::Capacity{1'000'000'000'000, *free, *free};
    }
    std::vector<fs::path> queried() {
        std::lock_guard lock(mutex_);
        return queried_;
    }

  private:
    std::mutex mutex_;
    std::deque<std::optional<int64_t>> answers_;  // guarded by mutex_
    std::vector<fs::path> queried_;               // guarded by mutex_
};

class AppStateSnapshotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A stand-in for the snapshot tool: lists two snapshots under a heading, one after it
        // was asked to thin, and notes the arguments of every call.
        tool_ = dir_ / "tmutil";
        std::ofstream(tool_) << "#!/bin/sh\n"
                                "echo \"$@\" >> '"
                             << (dir_ / "calls").string()
                             << "'\n"
                                "if [ \"$1\" = thinlocalsnapshots ]; then touch '"
                             << (dir_ / "thinned").string()
                             << "'; echo Thinned; exit 0; fi\n"
                                "echo 'Snapshots for disk /:'\n"
                                "echo '  com.apple.TimeMachine.2026-12-01-101010.local'\n"
                                "[ -e '"
                             << (dir_ / "thinned").string()
                             << "' ] || echo 'com.apple.TimeMachine.2026-12-02-101010.local'\n";
        fs::permissions(tool_, fs::perms::owner_all);
    }

    AppServices services() {
        AppServices services = world_.services();
        const std::string tool = tool_.string();
        services.countLocalSnapshots = [tool](const std::string& mountPoint) {
            return static_cast<int64_t>(
                SnapshotService::listLocalSnapshots(mountPoint, tool).size());
        };
        services.thinLocalSnapshots = [tool](int64_t amount, const std::string& mountPoint,
                                             int urgency) {
            SnapshotService::thinLocalSnapshots(amount, mountPoint, urgency, tool);
        };
        services.capacity = [this](const fs::path& location) { return capacities_.next(location); };
        return services;
    }

    std::vector<std::string> toolCalls() const {
        std::ifstream in(dir_ / "calls");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Thins with the free space of "/" reading `before`, then `after`, and waits for the end.
    void thin(AppState& state, std::optional<int64_t> before, std::optional<int64_t> after) {
        capacities_.push(before);
        capacities_.push(after);
        state.setConfirmThinSnapshots(true);
        state.thinSnapshots();
        EXPECT_TRUE(state.thinningSnapshots());
        EXPECT_FALSE(state.confirmThinSnapshots());
        ASSERT_TRUE(waitFor([&] { return !state.thinningSnapshots(); }));
    }

    int64_t lastFreedBytes() const {
        return *world_.events.back().parameters->at("freed_bytes").intValue();
    }

    cb::testsupport::TempDir dir_{"cb-snapshots"};
    fs::path tool_;
    FakeWorld world_;
    CapacitySequence capacities_;
};

TEST_F(AppStateSnapshotTest, CountsThinsAndReportsTheSpaceWon) {
    AppState state(services());
    state.refreshSnapshotCount();
    ASSERT_TRUE(waitFor([&] { return state.localSnapshotCount() == 2; }));

    thin(state, 1'000'000'000, 4'000'000'000);
    EXPECT_EQ(state.localSnapshotCount(), 1);
    EXPECT_THAT(world_.eventNames(), ElementsAre("snapshots_thinned"));
    EXPECT_EQ(world_.events.back().parameters->at("freed_bytes"),
              sdk::Value(int64_t{3'000'000'000}));
    EXPECT_EQ(state.thinResultMessage(), "Freed 3 GB.");
    EXPECT_THAT(toolCalls(),
                ElementsAre("listlocalsnapshots /", "thinlocalsnapshots / 536870912000 4",
                            "listlocalsnapshots /"));
    EXPECT_THAT(capacities_.queried(), ElementsAre("/", "/"));
    // No scanned location: the toolbar capacity is left alone.
    EXPECT_FALSE(state.volumeCapacity().has_value());
}

TEST_F(AppStateSnapshotTest, NothingWonIsReportedAsZero) {
    const std::string none =
        "Nothing was reclaimed. Local snapshots may be pinned by a recent backup or macOS.";
    const struct {
        std::optional<int64_t> before;
        std::optional<int64_t> after;
        int64_t freed;
        std::string message;
    } cases[] = {
        {500, 500, 0, none},                                          // unchanged
        {5'000, 4'000, 0, none},                                      // other writes ate the space
        {std::nullopt, 5'000'000'000, 5'000'000'000, "Freed 5 GB."},  // unreadable before
        {5'000'000'000, std::nullopt, 0, none},                       // unreadable after
        {0, 1, 1, "Freed 1 KB."},
    };
    AppState state(services());
    for (const auto& c : cases) {
        thin(state, c.before, c.after);
        EXPECT_EQ(lastFreedBytes(), c.freed);
        EXPECT_EQ(state.thinResultMessage(), c.message);
    }
}

TEST_F(AppStateSnapshotTest, OneThinningAtATime) {
    std::mutex mutex;
    std::condition_variable changed;
    int thins = 0;
    bool released = false;
    AppServices services = this->services();
    services.thinLocalSnapshots = [&](int64_t, const std::string&, int) {
        std::unique_lock lock(mutex);
        ++thins;
        changed.wait(lock, [&] { return released; });
    };
    AppState state(std::move(services));
    state.thinSnapshots();
    state.setConfirmThinSnapshots(true);
    state.thinSnapshots();  // ignored: the alert stays as it is
    EXPECT_TRUE(state.confirmThinSnapshots());
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(50));
        released = true;
    }
    changed.notify_all();
    ASSERT_TRUE(waitFor([&] { return !state.thinningSnapshots(); }));
    EXPECT_EQ(thins, 1);
    EXPECT_THAT(world_.eventNames(), ElementsAre("snapshots_thinned"));
}

TEST_F(AppStateSnapshotTest, AfterThinningTheScannedVolumesCapacityIsReadAgain) {
    AppState state(services());
    state.scan("/data", std::nullopt);
    world_.scanners.back()->finish(testing::buildTree("/data", {}));
    ASSERT_TRUE(waitFor([&] { return state.phase().kind() == AppState::Phase::Kind::ready; }));
    thin(state, 10, 10);
    std::vector<fs::path> queried = capacities_.queried();
    ASSERT_GE(queried.size(), 2u);
    EXPECT_EQ(queried.back(), "/data");
    EXPECT_EQ(state.volumeCapacity(), (VolumeInfo::Capacity{1'000'000, 1, 1}));
}

}  // namespace
}  // namespace cb
