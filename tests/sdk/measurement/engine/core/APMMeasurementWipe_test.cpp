// Wiping the measurement data when the app ID changes between two runs of the program, and
// again at the next start while a reset is still owed. Each run is a process of its own: this
// binary started again for the disabled test below, on a shared home.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMIdentifiers.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

using sdktest::EngineTest;

constexpr const char* kHomeVariable = "CB_ENGINE_HOME";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class WipeTest : public EngineTest {
  protected:
    // What one run of the program reported: its monitor codes and the values it printed.
    struct Run {
        std::vector<std::int64_t> codes;
        std::map<std::string, std::string> values;
        bool saw(std::int64_t code) const {
            return std::find(codes.begin(), codes.end(), code) != codes.end();
        }
    };

    // Runs the program once on the shared home with app ID `appID`, logging `events` events;
    // `action` names what it does after its start ("mark": store a persisted value,
    // "owe-reset": store a reset retry count of 3).
    Run runProgram(const std::string& appID, int events, const std::string& action = {}) {
        sdktest::ScopedEnv home(kHomeVariable, sharedHome_.string());
        sdktest::ScopedEnv id("CB_ENGINE_APP_ID", appID);
        sdktest::ScopedEnv count("CB_ENGINE_EVENTS", std::to_string(events));
        sdktest::ScopedEnv what("CB_ENGINE_ACTION", action);
        const platform::ProcessResult result = platform::ProcessRunner::shared().run(
            std::filesystem::read_symlink("/proc/self/exe").string(),
            {"--gtest_also_run_disabled_tests", "--gtest_filter=WipeTest.DISABLED_ProgramRun"});
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        Run run;
        std::istringstream lines(result.output);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("code=")) {
                run.codes.push_back(std::stoll(line.substr(5)));
            } else if (line.starts_with("value:")) {
                const std::size_t equals = line.find('=');
                run.values[line.substr(6, equals - 6)] = line.substr(equals + 1);
            }
        }
        return run;
    }

    std::string sharedSqlite(const std::string& sql) {
        const platform::ProcessResult result = platform::ProcessRunner::shared().run(
            "/usr/bin/sqlite3",
            {(sharedHome_ / "data/Vovidu/Measurement/vovidu-app-measurement.sql").string(), sql});
        return result.output;
    }

    std::filesystem::path sharedHome_ = home() / "shared";
};

// One run of the program, started by the tests above.
TEST_F(WipeTest, DISABLED_ProgramRun) {
    const std::string shared = environment(kHomeVariable);
    ASSERT_FALSE(shared.empty());
    setenv("XDG_DATA_HOME", (shared + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (shared + "/config").c_str(), 1);
    // The core starts measurement: the app ID given is the one in force.
    APMIdentifiers::sharedInstance().setOrigin("fa");
    ASSERT_TRUE(startEngine(environment("CB_ENGINE_APP_ID")));
    for (int i = 0, n = std::stoi(environment("CB_ENGINE_EVENTS")); i < n; ++i) {
        logEvent("scan_started");
    }
    std::shared_ptr<APMPersistedConfig> persisted = APMPersistedConfig::sharedInstance();
    const std::string action = environment("CB_ENGINE_ACTION");
    if (action == "mark") {
        persisted->setConfigServerETag("mark");
    } else if (action == "owe-reset") {
        APMAnalytics::setResetRetryCount(3);
    }
    drain(*engine_);
    // The engine lives until the process ends, so its persisted state is written now rather
    // than a second after the last change.
    persisted->userDefaults()->persistToDisk();
    for (std::int64_t code : monitor_.codes()) {
        std::cout << "code=" << code << "\n";
    }
    std::cout << "value:etag=" << persisted->configServerETag().value_or("") << "\n"
              << "value:retries=" << APMAnalytics::resetRetryCount() << "\n"
              << "value:appIDFromVUD=" << persisted->appIDFromVUD().value_or("") << "\n";
}

TEST_F(WipeTest, AChangedAppIDWipesOnceAtTheNextStart) {
    const Run first = runProgram("1:111:macos:aa", 3, "mark");
    EXPECT_FALSE(first.saw(23171));
    EXPECT_EQ(first.values.at("etag"), "mark");
    EXPECT_EQ(sharedSqlite("SELECT count(*) FROM raw_events;"), "3\n");

    const Run changed = runProgram("1:222:macos:bb", 0);
    EXPECT_TRUE(changed.saw(23294));
    EXPECT_TRUE(changed.saw(23171));
    EXPECT_EQ(changed.values.at("etag"), "");
    EXPECT_EQ(changed.values.at("retries"), "0");
    EXPECT_EQ(changed.values.at("appIDFromVUD"), "1:222:macos:bb");
    // Emptied, then the first open after the wipe.
    EXPECT_EQ(sharedSqlite("SELECT group_concat(name) FROM raw_events;"), "_f,_e\n");

    const Run again = runProgram("1:222:macos:bb", 1);
    EXPECT_FALSE(again.saw(23171));
    EXPECT_EQ(sharedSqlite("SELECT group_concat(name) FROM raw_events;"), "_f,_e,scan_started\n");
}

TEST_F(WipeTest, AnOwedResetWipesAgainAtTheNextStart) {
    const Run owing = runProgram("1:111:macos:aa", 2, "owe-reset");
    EXPECT_FALSE(owing.saw(23171));
    EXPECT_EQ(owing.values.at("retries"), "3");

    const Run next = runProgram("1:111:macos:aa", 0);
    EXPECT_TRUE(next.saw(23171));
    EXPECT_FALSE(next.saw(23294));
    EXPECT_EQ(next.values.at("retries"), "0");
    EXPECT_EQ(sharedSqlite("SELECT group_concat(name) FROM raw_events;"), "_f,_e\n");
}

}  // namespace
