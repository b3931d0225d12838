// The built program delivers its events to the services its environment names: it runs
// offscreen against one loopback server named by all four service variables, scans a folder
// and quits within a second of its last event, then runs again; the batches that arrive are
// decoded by protoc on their own.

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/LoopbackServer.h"
#include "tests/support/ProtocText.h"

namespace cb {
namespace {

namespace fs = std::filesystem;

// One uploaded event: its name and time.
using UploadedEvent = std::pair<std::string, std::string>;

class ServiceOriginsTest : public ::testing::Test {
  protected:
    // The program with a home of its own and every service at the loopback server; with
    // `scan`, it scans a small folder and quits by itself once the disk map shows.
    std::unique_ptr<QProcess> startProgram(bool scan) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("HOME", home_.path());
        environment.insert("XDG_CONFIG_HOME", home_.filePath("config"));
        environment.insert("XDG_DATA_HOME", home_.filePath("data"));
        environment.insert("XDG_CACHE_HOME", home_.filePath("cache"));
        environment.insert("LANG", "en_US.UTF-8");
        const QString origin = QString::fromStdString(server_.address());
        for (const char* variable :
             {"CELLARBRIGHT_MEASUREMENT_API_BASE", "CELLARBRIGHT_CONFIGURATION_API_BASE",
              "CELLARBRIGHT_EXPERIMENTS_API_BASE", "CELLARBRIGHT_INSTALLATIONS_API_BASE"}) {
            environment.insert(variable, origin);
        }
        if (scan) {
            fs::create_directories(fs::path(home_.filePath("scanned").toStdString()) / "sub");
            std::ofstream(home_.filePath("scanned/sub/file.bin").toStdString()) << "contents";
            environment.insert("CELLARBRIGHT_TEST_SCAN", home_.filePath("scanned"));
            environment.insert("CELLARBRIGHT_TEST_SCREENSHOT", home_.filePath("map.png"));
        }
        process->setProcessEnvironment(environment);
        // Debug mode: the engine uploads as soon as events are stored.
        process->start(
            QString::fromStdString(
                (fs::path(CB_BUILD_DIR) / "Cellarbright.app/Contents/MacOS/cellarbright").string()),
            {"-REROdazadeveDebugEnabled"});
        return process;
    }

    // Every event of every batch received so far, with the app instance IDs of their bundles.
    std::vector<UploadedEvent> uploadedEvents(std::set<std::string>* appInstanceIDs) const {
        std::vector<UploadedEvent> events;
        for (const testsupport::ReceivedRequest& request : server_.requests()) {
            if (request.method != "POST" || request.path != "/a") {
                continue;
            }
            const std::string text =
                testsupport::protocDecodeBatch(request.body, home_.path().toStdString(), "protoc",
                                               CB_SOURCE_DIR "/sdk/measurement/messages/proto");
            for (const std::string& bundle : testsupport::protocBlocks(text, "bundles", 0)) {
                appInstanceIDs->insert(testsupport::protocField(bundle, "app_instance_id", 2));
                for (const std::string& event : testsupport::protocBlocks(bundle, "events", 2)) {
                    events.emplace_back(testsupport::protocField(event, "name", 4),
                                        testsupport::protocField(event, "timestamp_millis", 4));
                }
            }
        }
        return events;
    }

    static std::size_t countOf(const std::vector<UploadedEvent>& events, const std::string& name) {
        std::size_t count = 0;
        for (const UploadedEvent& event : events) {
            count += event.first == name ? 1 : 0;
        }
        return count;
    }

    QTemporaryDir home_;
    testsupport::LoopbackServer server_{
        [](const httplib::Request& request, httplib::Response& response) {
            // Uploads are taken; the configuration, experiments and installations are not found.
            response.status = request.method == "POST" && request.path == "/a" ? 204 : 404;
        }};
};

TEST_F(ServiceOriginsTest, EveryEventReachesTheNamedServiceOnceAcrossAQuitAndARestart) {
    std::unique_ptr<QProcess> first = startProgram(true);
    ASSERT_TRUE(first->waitForFinished(120'000));
    ASSERT_EQ(first->exitCode(), 0) << first->readAllStandardError().toStdString();

    // The second run uploads what the first stored; it is ended once the second launch's event
    // has arrived and nothing more comes for two seconds.
    std::unique_ptr<QProcess> second = startProgram(false);
    ASSERT_TRUE(second->waitForStarted());
    std::set<std::string> ids;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    std::size_t seen = 0;
    auto quietSince = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::size_t now = server_.requests().size();
        if (now != seen) {
            seen = now;
            quietSince = std::chrono::steady_clock::now();
            continue;
        }
        ids.clear();
        if (countOf(uploadedEvents(&ids), "app_launched") >= 2 &&
            std::chrono::steady_clock::now() - quietSince > std::chrono::seconds(2)) {
            break;
        }
    }
    second->kill();
    second->waitForFinished();

    ids.clear();
    const std::vector<UploadedEvent> events = uploadedEvents(&ids);
    // Every service was asked at the loopback server: the configuration at least.
    bool configurationAsked = false;
    for (const testsupport::ReceivedRequest& request : server_.requests()) {
        configurationAsked = configurationAsked || request.path.rfind("/config/app/", 0) == 0;
    }
    EXPECT_TRUE(configurationAsked);
    EXPECT_EQ(countOf(events, "app_launched"), 2u);
    EXPECT_EQ(countOf(events, "scan_completed"), 1u);
    // One installation of the app: one first open, one app instance ID.
    EXPECT_EQ(countOf(events, "_f"), 1u);
    EXPECT_EQ(ids.size(), 1u);
    EXPECT_FALSE(ids.count(""));
    // No event arrived twice.
    std::map<UploadedEvent, int> times;
    for (const UploadedEvent& event : events) {
        EXPECT_EQ(++times[event], 1) << event.first << " at " << event.second;
    }
}

}  // namespace
}  // namespace cb
