#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process/ProcessRunner.h"
#include "sdk/measurement/engine/APMMeasurement.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace sdktest {

// The engine's test process: XDG data and config homes in a private folder of this process
// (MonitorRecorder.h), the shared engine, and every monitor message recorded.
class EngineTest : public ::testing::Test {
  protected:
    std::filesystem::path home() const { return IsolatedMeasurementFolders::instance().path(); }
    std::filesystem::path measurementFolder() const { return home() / "data/Vovidu/Measurement"; }
    std::filesystem::path databasePath() const {
        return measurementFolder() / "vovidu-app-measurement.sql";
    }

    // Makes the shared engine and waits until its enable or disable has run.
    std::shared_ptr<APMMeasurement> startEngine(const std::string& appID, bool enabled = true,
                                                bool deactivated = false,
                                                std::vector<std::string> safelist = {}) {
        APMMeasurement::initializeSharedInstanceWithAppID(appID, enabled, deactivated,
                                                          std::move(safelist));
        std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
        if (engine) {
            drain(*engine);
        }
        return engine;
    }

    // Waits for every block queued on the engine's worker queue so far.
    static void drain(APMMeasurement& engine) {
        engine.TEST_runOnWorkerQueueAndWait([] {});
    }

    // The sqlite3 shell's output for `sql` on the engine's database.
    std::string sqlite(const std::string& sql) const {
        const platform::ProcessResult result = platform::ProcessRunner::shared().run(
            "/usr/bin/sqlite3", {databasePath().string(), sql});
        EXPECT_TRUE(result.launched) << result.launchError;
        return result.output;
    }

    MonitorRecorder monitor_;
};

}  // namespace sdktest
