// Uploads and a configuration fetch on the worker queue while other threads report reachability
// changes and the application becoming active. One test, so the whole binary runs in one
// process under ThreadSanitizer.
#include <thread>

#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/core/UploadTestSupport.h"

namespace {

using sdktest::UploadTest;

class UploadThreadsTest : public UploadTest {
  protected:
    void TearDown() override { TEST_APMSetCurrentTimeInterval(std::nullopt); }
};

TEST_F(UploadThreadsTest, UploadsAndFetchWhileOtherThreadsPlanAndNotify) {
    startConnected();
    storeConfig({{"measurement.upload.blacklist_internal", "1"}});
    respondWith([](const httplib::Request& request, httplib::Response& response) {
        response.status = request.method == "GET" ? 304 : 204;
    });
    // Three app IDs: three batches, each answer chaining the next upload.
    queue({bundle(0, "a"), bundle(0, "b", "1:222:macos:bb"), bundle(0, "c")});
    // A week later, so becoming active fetches the configuration.
    TEST_APMSetCurrentTimeInterval(APMCurrentTimeInterval() + 604800);

    std::thread planner([&] {
        for (int i = 0; i < 100; ++i) {
            engine_->reachabilityDidChange();
        }
    });
    std::thread notifier([&] {
        for (int i = 0; i < 20; ++i) {
            VDUNotificationCenter::defaultCenter().postNotificationName(
                std::string(APMAppDidBecomeActiveNotificationName()), nullptr);
        }
    });
    onWorker([&] { engine_->uploadData(); });
    notifier.join();
    planner.join();
    waitUntil([&] {
        return requestsWithMethod("POST").size() == 3 && !requestsWithMethod("GET").empty() &&
               !engine_->isNetworkRequestPending();
    });
    drain(*engine_);
    EXPECT_EQ(queueCount(), "0\n");
    EXPECT_EQ(persisted().lastFailedUploadTimestamp(), 0);
}

}  // namespace
