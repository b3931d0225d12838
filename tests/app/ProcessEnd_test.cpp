// The program's end: events logged just before it are stored and the SDK's persisted state is
// written, within a bounded time, or the events that could not be stored are counted in the log.
// A probe program ends as the app does (cb::endProcess); the store is read with sqlite3.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "platform/process/ProcessRunner.h"

namespace cb {
namespace {

namespace fs = std::filesystem;

struct ProbeRun {
    int exitCode = -1;
    std::string standardError;
    double seconds = 0;
};

// Runs the probe with `events` in a home of its own under `home`.
ProbeRun runProbe(const QTemporaryDir& home, int events) {
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
    probe.setProcessEnvironment(environment);
    const auto start = std::chrono::steady_clock::now();
    probe.start(QStringLiteral(CB_EXIT_PROBE), {QString::number(events)});
    ProbeRun run;
    if (!probe.waitForFinished(180'000)) {
        probe.kill();
        probe.waitForFinished();
        return run;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1;
    run.standardError = probe.readAllStandardError().toStdString();
    return run;
}

// The file named `name` anywhere under `folder`; empty when there is none.
fs::path findFile(const fs::path& folder, const std::string& name) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().filename() == name) {
            return entry.path();
        }
    }
    return {};
}

// The probe's events in the store, counted by the sqlite3 program.
long storedProbeEvents(const QTemporaryDir& home) {
    const fs::path database =
        findFile(home.filePath("data").toStdString(), "vovidu-app-measurement.sql");
    EXPECT_FALSE(database.empty());
    const platform::ProcessResult result = platform::ProcessRunner::shared().run(
        "/usr/bin/sqlite3",
        {database.string(), "select count(*) from raw_events where name = 'probe_event'"});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    return std::strtol(result.output.c_str(), nullptr, 10);
}

TEST(ProcessEndTest, EventsLoggedJustBeforeTheEndAreStoredAndThePersistedStateIsWritten) {
    QTemporaryDir home;
    const ProbeRun run = runProbe(home, 400);
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(storedProbeEvents(home), 400);
    // The app instance ID was chosen at the start, under a second before the end.
    const fs::path state =
        findFile(home.filePath("data").toStdString(), "com.vovidu.vud.measurement.plist");
    ASSERT_FALSE(state.empty());
    std::ifstream in(state, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(bytes.find("/vovidu/measurement/app_instance_id"), std::string::npos);
    EXPECT_EQ(run.standardError.find("I-ACS025061"), std::string::npos) << run.standardError;
}

// More events than can be stored in the time given: the end waits no longer than that, and
// the log counts the events it dropped, which with the stored ones make every event logged.
TEST(ProcessEndTest, EventsThatCannotBeStoredInTimeAreCountedInTheLog) {
    constexpr int kEvents = 60000;
    QTemporaryDir home;
    const ProbeRun run = runProbe(home, kEvents);
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(run.standardError, match,
                                  std::regex(R"(I-ACS025061\][^\n]*Dropped count: (\d+))")))
        << run.standardError;
    const long dropped = std::stol(match[1]);
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(storedProbeEvents(home) + dropped, kEvents);
}

}  // namespace
}  // namespace cb
