// The app's usage events from launch to the measurement service: the built program's options,
// a loopback server in place of the service, and the batches it receives decoded on their own.

#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/AppDelegate.h"
#include "app/ApplicationActivation.h"
#include "app/ads/AnalyticsEvent.h"
#include "platform/bundle/Bundle.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/process/ProcessRunner.h"
#include "sdk/analytics/REROdazadeve.h"
#include "sdk/core/VIZUveziza.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/installations/DUDUrareravuzers.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRawEventData.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/app/WindowTestEnvironment.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/storage/APMRemoteConfigTestPeer.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ProtocText.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new cb::testing::WindowEnvironment);

// Whether an event block carries the string parameter `name` = `value`.
bool hasParameter(const std::string& event, const std::string& name, const std::string& value) {
    return event.find("      name: \"" + name + "\"\n      string_value: \"" + value + "\"\n") !=
           std::string::npos;
}

// The program's launch against a loopback measurement service that answers the configuration
// with 404 and every upload with 204.
class AnalyticsUploadTest : public ::testing::Test {
  protected:
    AnalyticsUploadTest() {
        setenv("HOME", home_.path().c_str(), 1);
        APMRemoteConfigTestPeer::setServiceOrigin(server_.address());
    }
    ~AnalyticsUploadTest() override { APMRemoteConfigTestPeer::setServiceOrigin(std::nullopt); }

    // Launches the program and logs a finished scan through the app's event path.
    void launchAndScan() {
        ZEDOre::resetApps();
        REROdazadeve::registerClasses();  // as main() does
        DUDUrareravuzers::load();
        platform::Bundle::TEST_setMainBundle(fs::path(CB_BUILD_DIR) / "Cellarbright.app");
        VIZUveziza::resetDefaultOptions();
        AppDelegate().applicationDidFinishLaunching();
        logAnalyticsEvent(AnalyticsEvent::scanCompleted,
                          sdk::Value::Dictionary{{"size_bytes", sdk::Value(std::int64_t{4096})},
                                                 {"children_count", sdk::Value(std::int64_t{3})}});
    }

    // The first line the sqlite3 program prints for `sql` on the engine's store; empty (and a
    // failure) when the store or the program is missing.
    static std::string sqliteOutput(const std::string& sql) {
        fs::path database;
        for (const auto& entry :
             fs::recursive_directory_iterator(fs::path(std::getenv("XDG_DATA_HOME")))) {
            if (entry.path().filename() == "vovidu-app-measurement.sql") {
                database = entry.path();
            }
        }
        EXPECT_FALSE(database.empty());
        if (database.empty()) {
            return {};
        }
        const platform::ProcessResult result =
            platform::ProcessRunner::shared().run("/usr/bin/sqlite3", {database.string(), sql});
        EXPECT_TRUE(result.launched) << result.launchError;
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        return result.output.substr(0, result.output.find('\n') + 1);
    }

    // Drains the main queue until `done` (read on the engine's worker queue) holds; false after
    // twenty seconds.
    bool drainUntil(const std::function<bool(APMMeasurement&)>& done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < limit) {
            platform::drainMainQueue();
            bool reached = false;
            if (std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
                APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine,
                                                                [&] { reached = done(*engine); });
            }
            if (reached) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // Whether a posted batch carries the scan event.
    bool scanPosted() const {
        for (const auto& r : server_.requests()) {
            if (r.method == "POST" && r.body.find("scan_completed") != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    testsupport::TempDir home_{"cb-upload-home"};
    testsupport::LoopbackServer server_{
        [](const httplib::Request& request, httplib::Response& response) {
            // "/config/app/..." (and anything else) is not found; uploads are taken.
            response.status = request.method == "POST" && request.path == "/a" ? 204 : 404;
        }};
};

TEST_F(AnalyticsUploadTest, TheLaunchAndAScanAreUploadedAndTheStoreIsEmptiedAfterwards) {
    APMUserDefaults::sharedUserDefaults().setBool(true, "/vovidu/measurement/debug_mode");
    launchAndScan();
    // Uploads go on until nothing is left to send.
    ASSERT_TRUE(drainUntil([&](APMMeasurement& engine) {
        return scanPosted() && !engine.hasDataToUpload() && !engine.isNetworkRequestPending();
    }));
    const testsupport::LoopbackServer& server = server_;
    const testsupport::TempDir& home = home_;

    std::vector<std::string> names;
    std::vector<std::string> appBundles;
    for (const auto& r : server.requests()) {
        if (r.method != "POST") {
            EXPECT_EQ(r.path.rfind("/config/app/", 0), 0u) << r.path;
            continue;
        }
        EXPECT_EQ(r.path, "/a");
        const std::string text = testsupport::protocDecodeBatch(
            r.body, home.path(), "protoc", CB_SOURCE_DIR "/sdk/measurement/messages/proto");
        for (const std::string& bundle : testsupport::protocBlocks(text, "bundles", 0)) {
            bool fromApp = false;
            for (const std::string& event : testsupport::protocBlocks(bundle, "events", 2)) {
                const std::string name = testsupport::protocField(event, "name", 4);
                names.push_back(name);
                if (name == "app_launched" || name == "scan_completed") {
                    fromApp = true;
                    EXPECT_TRUE(hasParameter(event, "_o", "app")) << event;
                    EXPECT_TRUE(hasParameter(event, "distribution", "direct")) << event;
                }
                if (name == "_f") {
                    EXPECT_TRUE(hasParameter(event, "distribution", "direct")) << event;
                }
            }
            if (fromApp) {
                appBundles.push_back(bundle);
            }
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"_f", "_e", "app_launched", "scan_completed"}));
    ASSERT_FALSE(appBundles.empty());
    for (const std::string& bundle : appBundles) {
        bool distribution = false;
        for (const std::string& attribute :
             testsupport::protocBlocks(bundle, "user_attributes", 2)) {
            distribution = distribution ||
                           (testsupport::protocField(attribute, "name", 4) == "distribution" &&
                            testsupport::protocField(attribute, "string_value", 4) == "direct");
        }
        EXPECT_TRUE(distribution) << bundle;
        for (const char* tag : {"app_id: ", "app_instance_id: ", "consent_signals: "}) {
            EXPECT_NE(bundle.find(std::string("\n  ") + tag), std::string::npos) << tag;
        }
    }

    // What the store holds at the end, read with the sqlite3 program.
    for (const char* table : {"queue", "raw_events"}) {
        EXPECT_EQ(sqliteOutput(std::string("select count(*) from ") + table), "0\n") << table;
    }
}

// Qt reports the application active on a fresh profile: the activity handler's notification
// starts a session, whose "_s" row the store holds.
TEST_F(AnalyticsUploadTest, BecomingActiveOnAFreshProfileStoresASessionStart) {
    launchAndScan();
    ASSERT_TRUE(
        drainUntil([](APMMeasurement& engine) { return engine.didInitializeComponents(); }));
    ApplicationActivity activity(false);
    // As postActivationNotifications hands it Qt's state.
    const Qt::ApplicationState state = Qt::ApplicationActive;
    activity.applicationStateChanged(state == Qt::ApplicationActive);
    const auto hasSessionStart = [](APMMeasurement& engine) {
        sdk::Error error;
        for (const APMRawEventData& data :
             engine.database()->allRawEventsWithError(&error).value_or(
                 std::vector<APMRawEventData>{})) {
            if (data.rawEvent().name() == "_s") {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(drainUntil(hasSessionStart));
    EXPECT_EQ(sqliteOutput("select count(*) from raw_events where name = '_s'"), "1\n");
}

}  // namespace
}  // namespace cb
