#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/preferences/PreferencesFileSystem.h"
#include "platform/process/ProcessRunner.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/TempDir.h"

namespace sdktest {

// The real file system, counting file replacements; renames fail with EIO while
// `failRenames` is set.
class CountingFileSystem : public platform::PreferencesFileSystemWrapper {
  public:
    CountingFileSystem() : PreferencesFileSystemWrapper(platform::systemFileSystem()) {}

    std::error_code rename(const std::filesystem::path& from,
                           const std::filesystem::path& to) override {
        if (failRenames.load()) {
            return std::error_code(EIO, std::generic_category());
        }
        std::error_code result = PreferencesFileSystemWrapper::rename(from, to);
        if (!result) {
            renames.fetch_add(1);
        }
        return result;
    }

    std::atomic<int> renames{0};
    std::atomic<bool> failRenames{false};
};

// One counting file system for the whole process, its counts and switch cleared. A dictionary
// let go of at the end of a test may still be finishing its last write on its own queue (the
// folder sync and unlock come after the rename a test waits for), so the file system it writes
// through must outlive every test rather than its fixture.
inline CountingFileSystem& freshCountingFileSystem() {
    static CountingFileSystem* const instance = new CountingFileSystem();  // never destroyed
    instance->renames = 0;
    instance->failRenames = false;
    return *instance;
}

// A temporary home: the data home (Application Support) and the config home (preferences)
// both point into one temporary folder while the fixture lives.
class MeasurementHomeTest : public ::testing::Test {
  protected:
    std::filesystem::path measurementFolder() const { return dir_ / "data/Vovidu/Measurement"; }
    std::filesystem::path preferencesFolder() const { return dir_ / "config/cellarbright"; }

    cb::testsupport::TempDir dir_{"cb-measurement"};
    ScopedEnv dataHome_{"XDG_DATA_HOME", (dir_ / "data").string()};
    ScopedEnv configHome_{"XDG_CONFIG_HOME", (dir_ / "config").string()};
};

// Waits until `done` holds, for at most `limit`. Returns whether it held.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The plist at `path` as XML, converted by libplist's own tool.
inline std::string plistAsXml(const std::filesystem::path& path) {
    const platform::ProcessResult result = platform::ProcessRunner::shared().run(
        "/usr/bin/plistutil", {"-i", path.string(), "-f", "xml"});
    EXPECT_TRUE(result.launched) << result.launchError;
    return result.output;
}

// The names in `folder`, sorted.
inline std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace sdktest
