// The engine with the shared experiment manager: a snapshot served by the experiments service
// reaches the remote configuration, its flag turns the customer type off and its experiment IDs
// reach the uploaded bundles.
#include <algorithm>

#include "sdk/measurement/engine/APMFilePaths.h"
#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/experiments/APMEFetchTaskManager.h"
#include "sdk/utilities/VDUGzip.h"
#include "tests/sdk/measurement/engine/core/UploadTestSupport.h"
#include "tests/sdk/measurement/experiments/APMEExperimentManagerTestPeer.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"

namespace {

using sdktest::UploadTest;

// The experiments service's answer: experiment 12 switches the customer type off.
const std::string kServedSnapshot =
    "snapshots { sdk_name: \"div_edadevadeze\" experiments { experiment_id: 12 flags { name: "
    "\"customer_type_enabled\" int_value: 0 } } }\n";

class ExperimentsEngineTest : public UploadTest {
  protected:
    // The shared manager and its fetching task manager, as the engine's start made them.
    static std::shared_ptr<APMEExperimentManager> manager() {
        return std::dynamic_pointer_cast<APMEExperimentManager>(
            APMEExperimentManager::sharedInstance());
    }
    static std::shared_ptr<APMEFetchTaskManager> taskManager() {
        return std::dynamic_pointer_cast<APMEFetchTaskManager>(
            APMEExperimentManagerTestPeer::taskManager(*manager()));
    }

    // The sqlite3 shell's output for `sql` on the experiment database.
    static std::string experimentsSqlite(const std::string& sql) {
        return shell("/usr/bin/sqlite3 '" +
                     APMMeasurementFilePath("vovidu_experimentation_database.sql") + "' \"" + sql +
                     "\"");
    }

    // The experiments service answers with `snapshotText` (gzip bytes, no content encoding);
    // every other request gets 204.
    void serveExperiments(const std::string& snapshotText) {
        const sdk::Bytes body =
            *vdu_dataByGzippingData(messages_test::asBytes(messages_test::protoc(
                                        "--encode=apmpb.ExperimentResponse", snapshotText)),
                                    nullptr);
        respondWith([payload = messages_test::asString(body)](const httplib::Request& request,
                                                              httplib::Response& response) {
            if (request.path == "/sdk-exp") {
                response.set_content(payload, "application/octet-stream");
            } else {
                response.status = 204;
            }
        });
    }

    // Runs one upload cycle and waits until its answer, if any, was handled.
    void uploadCycle() {
        const std::size_t before = requestsWithMethod("POST").size();
        onWorker([&] { engine_->uploadData(); });
        waitUntil([&] {
            return !engine_->isNetworkRequestPending() &&
                   (requestsWithMethod("POST").size() > before || monitor_.saw(23037));
        });
    }
};

TEST_F(ExperimentsEngineTest, AServedSnapshotTurnsTheCustomerTypeOffAndTagsTheBundles) {
    serveExperiments(kServedSnapshot);
    startConnected();
    // A current configuration, so that upload cycles bundle; bundled before the snapshot is
    // active, a purchase still gets its customer type.
    storeConfig({});
    logEvent("purchase");
    // The configuration registered with the shared manager; the registration has reached the
    // task manager before the fetch is asked for.
    (void)manager()->experimentIDs();
    taskManager()->dispatchSyncOnWorkerQueue([] {});
    taskManager()->fetchExperiments();

    // Stored again marked for the client, which is told on the main queue.
    waitUntil([&] {
        return experimentsSqlite(
                   "SELECT count(*) FROM pending_snapshot_table WHERE sdk_name = "
                   "'div_edadevadeze' AND manually_activated = 1") == "1\n";
    });
    taskManager()->dispatchSyncOnWorkerQueue([] {});
    platform::drainMainQueue();
    const auto fetches = server_.requests();
    const auto fetch = std::find_if(fetches.begin(), fetches.end(),
                                    [](const auto& r) { return r.path == "/sdk-exp"; });
    ASSERT_NE(fetch, fetches.end());
    EXPECT_NE(fetch->body.find("div_edadevadeze"), std::string::npos);
    EXPECT_TRUE(manager()->experimentIDs().empty());  // pending until the engine activates it

    // Upload cycles until one finds nothing to send: that one activates the snapshot.
    for (int i = 0; i < 5 && !monitor_.saw(23037); ++i) {
        uploadCycle();
    }
    ASSERT_TRUE(monitor_.saw(23037));
    EXPECT_EQ(manager()->experimentIDs(), std::vector<std::int64_t>{12});
    std::vector<std::string> earlier;
    for (const auto& post : requestsWithMethod("POST")) {
        if (post.path != "/sdk-exp") {
            earlier.push_back(messages_test::protoc("--decode=apmpb.MeasurementBatch", post.body));
        }
    }
    const auto withPurchase = std::find_if(earlier.begin(), earlier.end(), [](const auto& text) {
        return text.find("name: \"purchase\"") != std::string::npos;
    });
    ASSERT_NE(withPurchase, earlier.end());
    EXPECT_NE(withPurchase->find("\"_ct\""), std::string::npos) << *withPurchase;
    EXPECT_EQ(withPurchase->find("experiment_ids"), std::string::npos) << *withPurchase;

    logEvent("purchase");
    logEvent("purchase");
    const std::size_t posted = requestsWithMethod("POST").size();
    uploadCycle();
    const auto posts = requestsWithMethod("POST");
    ASSERT_EQ(posts.size(), posted + 1);
    const std::string batch =
        messages_test::protoc("--decode=apmpb.MeasurementBatch", posts.back().body);
    std::size_t purchases = 0;
    for (std::size_t at = batch.find("name: \"purchase\""); at != std::string::npos;
         at = batch.find("name: \"purchase\"", at + 1)) {
        ++purchases;
    }
    EXPECT_EQ(purchases, 2u) << batch;
    EXPECT_EQ(batch.find("\"_ct\""), std::string::npos) << batch;
    EXPECT_NE(batch.find("experiment_ids: 12"), std::string::npos) << batch;
}

TEST_F(ExperimentsEngineTest, OnlyAnExistingEnabledEngineFetches) {
    std::shared_ptr<APMEClient> client =
        APMEExperimentManager::sharedInstance()->registerSDKProperty(
            std::make_shared<APMESDKProperty>("div_other"), {});
    ASSERT_TRUE(client);
    EXPECT_FALSE(APMMeasurement::remoteConfig()->shouldFetchExperimentsForClient(*client));

    startConnected();
    const std::shared_ptr<APMRemoteConfig> remote = engine_->remoteConfigInstance();
    EXPECT_TRUE(remote->shouldFetchExperimentsForClient(*client));
    engine_->setEnabled(false);
    drain(*engine_);
    EXPECT_FALSE(remote->shouldFetchExperimentsForClient(*client));
}

}  // namespace
