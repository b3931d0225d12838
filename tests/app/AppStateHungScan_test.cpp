#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "app/AppState.h"
#include "app/disk/Scanner.h"
#include "tests/app/AppStateFakes.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A reader whose folder listings all hang until the test releases them, as on a mount whose
// server is gone.
class HangingReader : public DirectoryReader {
  public:
    bool readEntries(int fd, Listing& out) override {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            held_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_; });
        }
        return DirectoryReader::readEntries(fd, out);
    }

    bool waitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 10s, [this] { return held_; });
    }
    void release() {
        std::lock_guard<std::mutex> guard(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    bool released() {
        std::lock_guard<std::mutex> guard(mutex_);
        return released_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;      // guarded by mutex_
    bool released_ = false;  // guarded by mutex_
};

// The real scanner over the hanging reader.
class HangingScanRunner : public ScanRunner {
  public:
    HangingScanRunner(ScanProgressHandler handler, std::shared_ptr<DirectoryReader> reader)
        : scanner_(std::move(handler), options(std::move(reader))) {}

    std::unique_ptr<FileNode> scan(const fs::path& location) override {
        return scanner_.scan(location.string());
    }
    void cancel() override { scanner_.markCancelled(); }
    int64_t foldersDeniedAccess() const override { return scanner_.foldersDeniedAccess(); }

  private:
    static ScannerOptions options(std::shared_ptr<DirectoryReader> reader) {
        ScannerOptions options;
        options.width = 2;
        options.reader = std::move(reader);
        return options;
    }
    Scanner scanner_;
};

TEST(AppStateHungScanTest, CancelAndQuitDoNotWaitForAWalkerStuckOnADeadMount) {
    testing::ensureCoreApplication();
    testsupport::TempDir dir;
    testsupport::makeFile(dir / "a" / "f", 100);

    auto reader = std::make_shared<HangingReader>();
    std::weak_ptr<ScanRunner> runner;
    testing::FakeWorld world;
    AppServices services = world.services();
    services.makeScanner = [&](ScanProgressHandler handler) -> std::shared_ptr<ScanRunner> {
        auto made = std::make_shared<HangingScanRunner>(std::move(handler), reader);
        runner = made;
        return made;
    };
    auto state = std::make_unique<AppState>(services);
    // Should the state wait for the walker after all, this lets the test end with a failure.
    std::jthread safety([reader](std::stop_token stop) {
        for (int i = 0; i < 100 && !stop.stop_requested(); ++i) {
            std::this_thread::sleep_for(100ms);
        }
        reader->release();
    });

    state->scan(dir.path(), std::nullopt);
    ASSERT_TRUE(reader->waitUntilHeld());
    state->cancelScan();
    EXPECT_EQ(state->phase().kind(), AppState::Phase::Kind::welcome);
    state.reset();  // quitting
    EXPECT_FALSE(reader->released()) << "the state waited for the hung walker";

    // The walker comes back after the state is gone; its result goes nowhere.
    reader->release();
    ASSERT_TRUE(testing::waitFor([&] { return runner.expired(); }));
    QCoreApplication::processEvents();
    safety.request_stop();
}

}  // namespace
}  // namespace cb
