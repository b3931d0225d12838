#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "sdk/measurement/engine/APMMonitor.h"
#include "tests/sdk/measurement/engine/APMMonitorTestPeer.h"
#include "tests/support/TempDir.h"

namespace sdktest {

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at a private folder for the whole test process, so
// the engine's monitor (which saves its health sample in a preferences suite) and the shared
// user defaults never reach the user's own files. Made by a static initialiser before main() in
// each test file that includes this header.
class IsolatedMeasurementFolders {
  public:
    static IsolatedMeasurementFolders& instance() {
        static IsolatedMeasurementFolders folders;
        return folders;
    }
    const std::filesystem::path& path() const { return dir_.path(); }

  private:
    IsolatedMeasurementFolders() {
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    }
    cb::testsupport::TempDir dir_{"cb-measurement-user"};
};

inline const bool kMeasurementFoldersIsolated = (IsolatedMeasurementFolders::instance(), true);

// Opens the engine's monitor, and with it the shared user defaults it reads its switches from,
// before the first test: both are made once per process and stay in the folder that is current
// then, so they must not land in the private folder of whichever test logs first (gone after
// that test).
class MeasurementTestEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { APMMonitorTestPeer::waitForMonitorQueue(APMMonitor::shared()); }
};

inline ::testing::Environment* const kMeasurementTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new MeasurementTestEnvironment);

// Records every message of the engine's monitor while it lives.
class MonitorRecorder {
  public:
    MonitorRecorder() {
        APMMonitorTestPeer::setMessageObserver(APMMonitor::shared(),
                                               [this](const APMMonitorMessage& m) {
                                                   std::lock_guard lock(mutex_);
                                                   messages_.push_back(m);
                                               });
    }
    // Also waits for the monitor's queued sample writes, so none outlives the test (and the
    // isolated folder, which goes away at exit).
    ~MonitorRecorder() {
        APMMonitorTestPeer::setMessageObserver(APMMonitor::shared(), nullptr);
        APMMonitorTestPeer::waitForMonitorQueue(APMMonitor::shared());
    }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    std::vector<APMMonitorMessage> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::int64_t> codes() const {
        std::vector<std::int64_t> codes;
        for (const APMMonitorMessage& m : messages()) {
            codes.push_back(m.code);
        }
        return codes;
    }
    bool saw(std::int64_t code) const {
        const auto all = codes();
        return std::find(all.begin(), all.end(), code) != all.end();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<APMMonitorMessage> messages_;  // guarded by mutex_
};

}  // namespace sdktest
