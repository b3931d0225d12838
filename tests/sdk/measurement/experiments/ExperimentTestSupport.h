#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "sdk/measurement/engine/APMFilePaths.h"
#include "sdk/measurement/experiments/APMEDatabase.h"
#include "sdk/measurement/experiments/APMESnapshot.h"
#include "sdk/measurement/experiments/APMPBFlagConversions.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"
#include "tests/sdk/measurement/storage/StoreTestSupport.h"

namespace exptest {

// The fixed "now" of the tests, seconds since 1970.
inline constexpr double kNow = 1'700'000'000;

// One experiment of a test snapshot: its ID and flags (name, value).
struct ExperimentEntry {
    std::int64_t id;
    std::vector<std::pair<std::string, sdk::Value>> flags;
};

inline APMESnapshot makeSnapshot(const std::string& name,
                                 std::initializer_list<ExperimentEntry> experiments,
                                 double timestamp = kNow) {
    std::vector<APMEExperiment> list;
    for (const ExperimentEntry& entry : experiments) {
        std::vector<APMPBFlag> flags;
        for (const auto& [flagName, value] : entry.flags)
            flags.push_back(*APMPBFlagWithNameValue(flagName, value));
        list.push_back(*APMEExperiment::initWithExperimentID(entry.id, flags));
    }
    APMESnapshot snapshot = *APMESnapshot::initWithSDKName(name, list);
    snapshot.setTimestamp(timestamp);
    return snapshot;
}

// The experiment IDs of a snapshot, ascending.
inline std::vector<std::int64_t> experimentIDsOf(const APMESnapshot& snapshot) {
    std::vector<std::int64_t> ids;
    for (const APMEExperiment& experiment : snapshot.experiments())
        ids.push_back(experiment.experimentID());
    return ids;
}

// The database file under the test's XDG data home.
inline std::filesystem::path databasePath() {
    return APMMeasurementFilePath("vovidu_experimentation_database.sql");
}

// Freezes the wall clock at kNow and gives every test a fresh database folder.
class ExperimentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::TEST_setWallClockTime(platform::WallClock::time_point(
            std::chrono::duration_cast<platform::WallClock::duration>(
                std::chrono::duration<double>(kNow))));
        std::filesystem::remove_all(databasePath().parent_path());
    }
    void TearDown() override { platform::TEST_setWallClockTime(std::nullopt); }

    std::string cli(const std::string& sql) { return sdktest::sqliteCli(databasePath(), sql); }

    sdktest::MonitorRecorder monitor_;
};

}  // namespace exptest
