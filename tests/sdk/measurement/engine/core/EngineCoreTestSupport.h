#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process/ProcessRunner.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/EngineTestSupport.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"

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
        // Only where the start will open the store: a disabled engine makes no file.
        const std::int64_t state = APMPersistedConfig::sharedInstance()->measurementEnabledState();
        if (!freshInstall_ && !deactivated && (state == 1 || (state != 2 && enabled))) {
            seedOpenedInstall();
        }
        APMMeasurement::initializeSharedInstanceWithAppID(appID, enabled, deactivated,
                                                          std::move(safelist));
        std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
        if (engine) {
            drain(*engine);
        }
        engine_ = engine;
        return engine;
    }

    // Makes the store of an install that has been opened before (its "_fot" user property), so
    // the engine's start reports no first open ("_f", "_e") unless the test asks for a fresh
    // install. Only where no store exists yet.
    void seedOpenedInstall() {
        // Where the engine will open it: a child process may have moved the data home.
        const char* dataHome = std::getenv("XDG_DATA_HOME");
        const std::filesystem::path folder =
            (dataHome ? std::filesystem::path(dataHome) : home() / "data") / "Vovidu/Measurement";
        const std::filesystem::path database = folder / "vovidu-app-measurement.sql";
        if (std::filesystem::exists(database)) {
            return;
        }
        std::filesystem::create_directories(folder);
        platform::ProcessRunner::shared().run(
            "/usr/bin/sqlite3",
            {database.string(),
             "CREATE TABLE user_attributes (name TEXT PRIMARY KEY, set_timestamp REAL NOT NULL, "
             "value BLOB NOT NULL, origin TEXT);"
             "INSERT INTO user_attributes VALUES ('_fot', 1700000000, 1700002800000, 'auto');"});
    }

    // Waits for every block queued on the engine's worker queue so far.
    static void drain(APMMeasurement& engine) {
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(engine, [] {});
    }

    // The sqlite3 shell's output for `sql` on the engine's database.
    std::string sqlite(const std::string& sql) const {
        const platform::ProcessResult result = platform::ProcessRunner::shared().run(
            "/usr/bin/sqlite3", {databasePath().string(), sql});
        EXPECT_TRUE(result.launched) << result.launchError;
        return result.output;
    }

    // Hands an event to the pipeline on the worker queue, as the engine's entry does, and waits
    // until it was handled.
    void logEvent(const std::string& name, const APMRawParameters& params = {},
                  bool isPublic = true, const std::string& origin = "app") {
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
            std::optional<APMEvent> event =
                APMEvent::initWithOrigin(origin, isPublic, name, APMCurrentTimeInterval(), 0,
                                         params, APMRemoteConfig::current()->parameterLimits());
            ASSERT_TRUE(event) << name;
            engine_->handleEventOnWorkerQueue(std::move(*event));
        });
    }

    // Stores and applies a configuration with the given settings and blocklisted event names,
    // as a fetch would.
    void storeConfig(const std::vector<std::pair<std::string, std::string>>& settings,
                     const std::vector<std::string>& blocklisted = {}) {
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
            APMPBMeasurementConfig config;
            APMPBSetString(&config, apmpb::MeasurementConfig::kAppId, kAppID);
            APMPBRepeatedArray elements;
            for (const auto& [name, value] : settings) {
                auto setting = std::make_shared<APMPBSetting>();
                APMPBSetString(setting.get(), apmpb::Setting::kName, name);
                APMPBSetString(setting.get(), apmpb::Setting::kValue, value);
                elements.emplace_back(setting);
            }
            APMPBSetRepeated(&config, apmpb::MeasurementConfig::kSettings, elements);
            APMPBRepeatedArray events;
            for (const std::string& name : blocklisted) {
                auto eventConfig = std::make_shared<APMPBEventConfig>();
                APMPBSetString(eventConfig.get(), apmpb::EventConfig::kName, name);
                APMPBSetBool(eventConfig.get(), apmpb::EventConfig::kBlocklisted, true);
                events.emplace_back(eventConfig);
            }
            APMPBSetRepeated(&config, apmpb::MeasurementConfig::kEventConfig, events);
            ASSERT_TRUE(engine_->remoteConfigInstance()->updateMeasurementConfig(&config));
        });
    }

    // The stored raw events, read back through the database.
    std::vector<APMRawEventData> rawEvents() {
        std::vector<APMRawEventData> events;
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
            sdk::Error error;
            events = engine_->database()->allRawEventsWithError(&error).value_or(events);
        });
        return events;
    }

    std::vector<std::string> rawEventNames() {
        std::vector<std::string> names;
        for (const APMRawEventData& data : rawEvents()) {
            names.push_back(data.rawEvent().name());
        }
        return names;
    }

    static std::string fromHex(const std::string& hex) {
        std::string bytes;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        return bytes;
    }

    // protoc's decoding of `bytes` as `type`, or raw fields when empty.
    std::string protocDecode(const std::string& bytes, const std::string& type = {}) {
        const std::filesystem::path file = home() / "blob.bin";
        std::ofstream(file, std::ios::binary) << bytes;
        const std::string how = type.empty() ? "--decode_raw"
                                             : "-I '" + std::string(CB_MESSAGES_PROTO_DIR) +
                                                   "' --decode=" + type + " upload.proto";
        const std::string command =
            std::string("'") + CB_PROTOC + "' " + how + " < '" + file.string() + "'";
        std::string output;
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) {
            output.append(buffer, n);
        }
        EXPECT_EQ(pclose(pipe), 0);
        return output;
    }

    std::int64_t countOf(std::int64_t code) const {
        const std::vector<std::int64_t> codes = monitor_.codes();
        return std::count(codes.begin(), codes.end(), code);
    }

    static constexpr const char* kAppID = "1:111:macos:aa";

    MonitorRecorder monitor_;
    FixtureMainBundle bundle_{IsolatedMeasurementFolders::instance().path()};
    std::shared_ptr<APMMeasurement> engine_;
    // Start as a fresh install, whose start reports the first open.
    bool freshInstall_ = false;
};

}  // namespace sdktest
