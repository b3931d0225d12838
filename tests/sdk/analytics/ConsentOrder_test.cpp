// Every event is written under the consent in force when it was logged, however the calls of
// several threads interleave with the engine's work: the uploads, decoded by protoc on their own,
// never give an event logged under denied analytics storage the app instance ID.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/analytics/ConfiguredAnalyticsTest.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/storage/APMRemoteConfigTestPeer.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ProtocText.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 4;
constexpr int kRounds = 60;

class ConsentOrderTest : public sdktest::ConfiguredAnalyticsTest {
  protected:
    ConsentOrderTest() { APMRemoteConfigTestPeer::setServiceOrigin(server_.address()); }
    ~ConsentOrderTest() override { APMRemoteConfigTestPeer::setServiceOrigin(std::nullopt); }

    // Drains the main queue until the engine has nothing left to upload; false after a minute.
    static bool uploadEverything() {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < limit) {
            settle();
            platform::drainMainQueue();
            bool done = false;
            std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
            APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine, [&] {
                done = engine->didInitializeComponents() && !engine->hasDataToUpload() &&
                       !engine->isNetworkRequestPending();
            });
            if (done) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    cb::testsupport::TempDir scratch_{"cb-consent-order"};
    cb::testsupport::LoopbackServer server_{
        [](const httplib::Request& request, httplib::Response& response) {
            // The configuration is not found; uploads are taken.
            response.status = request.method == "POST" && request.path == "/a" ? 204 : 404;
        }};
};

TEST_F(ConsentOrderTest, NoEventLoggedUnderDeniedAnalyticsStorageIsUploadedWithTheAppInstanceID) {
    // Every event is real-time, so bundles are made and uploaded while the threads go on.
    APMMeasurement::monitor().setDebugModeEnabled(true);
    ZEDOre::configure();
    // The start's own events (the first open, whose upload takes the consent of its moment for
    // the whole batch) go first.
    ASSERT_TRUE(uploadEverything());
    const std::size_t startRequests = server_.requests().size();

    // A consent change and a logged event never overlap, so each event's consent is known: the
    // threads change consent alone and log together.
    std::shared_mutex consentLock;
    bool analyticsDenied = false;  // guarded by consentLock
    std::atomic<int> deniedLogged{0};
    std::atomic<int> grantedLogged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                if ((round + t) % 3 == 0) {
                    std::unique_lock lock(consentLock);
                    analyticsDenied = !analyticsDenied;
                    REROdazadeve::setConsent(
                        {{"analytics_storage", analyticsDenied ? "denied" : "granted"}});
                } else {
                    std::shared_lock lock(consentLock);
                    const bool denied = analyticsDenied;
                    REROdazadeve::logEventWithName(
                        denied ? "under_denied" : "under_granted",
                        sdk::Value::Dictionary{{"thread", sdk::Value(std::int64_t{t})},
                                               {"round", sdk::Value(std::int64_t{round})}});
                    (denied ? deniedLogged : grantedLogged).fetch_add(1);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(uploadEverything());
    ASSERT_GT(deniedLogged.load(), 0);
    ASSERT_GT(grantedLogged.load(), 0);

    int deniedUploaded = 0;
    int grantedUploaded = 0;
    const std::vector<cb::testsupport::ReceivedRequest> requests = server_.requests();
    for (std::size_t i = startRequests; i < requests.size(); ++i) {
        if (requests[i].method != "POST") {
            continue;
        }
        const std::string text = cb::testsupport::protocDecodeBatch(
            requests[i].body, scratch_.path(), CB_PROTOC, CB_MESSAGES_PROTO_DIR);
        for (const std::string& bundle : cb::testsupport::protocBlocks(text, "bundles", 0)) {
            const bool hasAppInstanceID =
                ("\n" + bundle).find("\n  app_instance_id: ") != std::string::npos;
            for (const std::string& event : cb::testsupport::protocBlocks(bundle, "events", 2)) {
                if (event.find("name: \"under_denied\"") != std::string::npos) {
                    ++deniedUploaded;
                    EXPECT_FALSE(hasAppInstanceID) << bundle;
                } else if (event.find("name: \"under_granted\"") != std::string::npos) {
                    ++grantedUploaded;
                }
            }
        }
    }
    // Every event arrived once.
    EXPECT_EQ(deniedUploaded, deniedLogged.load());
    EXPECT_EQ(grantedUploaded, grantedLogged.load());
}

}  // namespace
