// Upload scheduling and upload: the timing rule, the alarm, the batch on the wire and what each
// answer does to the queue and the persisted upload times.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "sdk/measurement/engine/APMDigest.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/APMUptimeTesting.h"
#include "tests/sdk/measurement/engine/core/UploadTestSupport.h"

namespace {

namespace Bundle = apmpb::MeasurementBundle;
using sdktest::UploadTest;

constexpr double kT0 = 1.7e9;

class UploadScheduleTest : public UploadTest {
  protected:
    void TearDown() override {
        TEST_APMSetCurrentTimeInterval(std::nullopt);
        APMMeasurement::monitor().setDebugModeEnabled(false);
    }
};

TEST_F(UploadScheduleTest, NextUploadingTimeFollowsSuccessesFailuresDebugAndRealTime) {
    startConnected();
    struct Case {
        const char* what;
        double now, lastSuccess, lastFailure;
        bool debug, realtime;
        double expected;  // 0: no upload
    };
    constexpr double candidate = kT0 + 15;
    const Case cases[] = {
        {"data, no success: initial delay", kT0 + 1, 0, 0, false, false, kT0 + 15},
        {"success within the hour: success + interval", kT0, kT0 - 100, 0, false, false,
         kT0 - 100 + 3600},
        {"debug mode: at most latest + 1", kT0 + 1, kT0 - 100, 0, true, false, kT0 + 1},
        {"real-time data: success + 10", kT0 + 1, kT0 - 2, 0, false, true, kT0 + 8},
        {"first retry", kT0 + 20, 0, kT0 + 10, false, false, candidate + 1800},
        {"second retry", kT0 + 20, 0, candidate + 1800, false, false, candidate + 5400},
        {"third retry", kT0 + 20, 0, candidate + 5400, false, false, candidate + 12600},
        {"sixth retry", kT0 + 20, 0, candidate + 55800, false, false, candidate + 113400},
        {"retries used up", kT0 + 20, 0, candidate + 113400, false, false, 0},
        {"no data", kT0, 0, 0, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sqlite("DELETE FROM queue;");
        if (std::string(c.what) != "no data") {
            queue({bundle(kT0)}, c.realtime);
        }
        TEST_APMSetCurrentTimeInterval(c.now);
        APMMeasurement::monitor().setDebugModeEnabled(c.debug);
        persisted().setLastSuccessfulUploadTimestamp(c.lastSuccess);
        persisted().setLastFailedUploadTimestamp(c.lastFailure);
        double next = -1;
        onWorker([&] { next = engine_->nextUploadingTime(); });
        EXPECT_DOUBLE_EQ(next, c.expected);
    }
}

TEST_F(UploadScheduleTest, PendingAlarmMovesOnlyEarlierAndNoDataCancelsIt) {
    startConnected();
    queue({bundle()});
    persisted().setLastSuccessfulUploadTimestamp(APMCurrentTimeInterval() - 10);
    engine_->reachabilityDidChange();
    drain(*engine_);
    ASSERT_TRUE(secondsUntilAlarm());
    EXPECT_NEAR(*secondsUntilAlarm(), 3590, 5);

    // A later plan keeps the pending alarm.
    persisted().setLastSuccessfulUploadTimestamp(APMCurrentTimeInterval() - 5);
    engine_->reachabilityDidChange();
    drain(*engine_);
    EXPECT_TRUE(monitor_.saw(23027));
    EXPECT_NEAR(*secondsUntilAlarm(), 3590, 5);

    // An earlier one replaces it.
    persisted().setLastSuccessfulUploadTimestamp(0);
    engine_->reachabilityDidChange();
    drain(*engine_);
    ASSERT_TRUE(secondsUntilAlarm());
    EXPECT_NEAR(*secondsUntilAlarm(), 15, 5);

    sqlite("DELETE FROM queue;");
    engine_->reachabilityDidChange();
    drain(*engine_);
    EXPECT_TRUE(monitor_.saw(23024));
    EXPECT_FALSE(secondsUntilAlarm());
}

TEST_F(UploadScheduleTest, WithoutNetworkWaitsForReachabilityThenPlans) {
    // The main queue is not drained yet, so no reachability reading has arrived.
    ASSERT_TRUE(startEngine(kAppID));
    ASSERT_FALSE(engine_->network()->isNetworkConnected());
    queue({bundle()});
    engine_->reachabilityDidChange();
    drain(*engine_);
    EXPECT_TRUE(monitor_.saw(23026));
    EXPECT_FALSE(secondsUntilAlarm());
    EXPECT_EQ(engine_->network()->reachabilityDelegate().lock(), engine_);

    ASSERT_TRUE(platform::runMainQueueUntil(
        [&] { return engine_->network()->isNetworkConnected(); }, std::chrono::seconds(10)));
    waitUntil([&] { return engine_->alarm()->scheduledTimestamp().has_value(); });
    EXPECT_TRUE(monitor_.saw(23028));
    EXPECT_EQ(engine_->network()->reachabilityDelegate().lock(), nullptr);
}

class UploadRequestTest : public UploadTest {
  protected:
    // Uploads one bundle; the server drops the "queue" table before it answers 204, so the
    // uploaded rows cannot be deleted.
    void uploadOneBundleAndDropTheQueueBeforeSuccess() {
        startConnected();
        storeConfig({});
        queue({bundle()});
        const std::string database = databasePath().string();
        respondWith([database](const httplib::Request&, httplib::Response& response) {
            shell("/usr/bin/sqlite3 '" + database + "' 'DROP TABLE queue;'");
            response.status = 204;
        });
        onWorker([&] { engine_->uploadData(); });
        waitForAnswers(1);
    }
};

TEST_F(UploadRequestTest, BatchCarriesUploadFieldsAndChecksumOfTheBundleWithoutIt) {
    startConnected();
    storeConfig({{"measurement.quality.checksum", "1"}});
    queue({bundle(0, "a"), bundle(0, "b")});
    onWorker([&] { engine_->uploadData(); });
    waitForAnswers(1);

    const std::vector<cb::testsupport::ReceivedRequest> posts = requestsWithMethod("POST");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].path, "/a");
    EXPECT_EQ(headerOf(posts[0], "Content-Encoding"), std::string("gzip"));
    EXPECT_EQ(headerOf(posts[0], "Content-Type"), std::string("application/x-www-form-urlencoded"));
    const std::unique_ptr<APMPBMeasurementBatch> batch = batchOf(posts[0]);
    ASSERT_TRUE(batch);
    EXPECT_FALSE(APMPBHasField(batch.get(), apmpb::MeasurementBatch::kUploadSubdomain));
    const auto bundles = bundlesOf(*batch);
    ASSERT_EQ(bundles.size(), 2u);
    const std::int64_t uploadTime = APMPBGetInt64(bundles[0].get(), Bundle::kUploadTimestampMillis);
    EXPECT_NEAR(static_cast<double>(uploadTime), APMCurrentTimeInterval() * 1000, 60000);
    for (const auto& b : bundles) {
        EXPECT_EQ(APMPBGetInt64(b.get(), Bundle::kUploadTimestampMillis), uploadTime);
        EXPECT_EQ(APMPBGetInt64(b.get(), Bundle::kUploadingVudVersion), 111500);
        ASSERT_TRUE(APMPBHasField(b.get(), Bundle::kChecksum));
        APMPBMeasurementBundle withoutChecksum(*b);
        APMPBClearField(&withoutChecksum, Bundle::kChecksum);
        EXPECT_EQ(APMPBGetInt64(b.get(), Bundle::kChecksum),
                  apm_64LSBMD5(withoutChecksum.protoBuffer().value()));
    }
    EXPECT_EQ(queueCount(), "0\n");
}

// One connection on a plain socket: the request exactly as it came over the wire.
std::string receiveOneRequest(int listener) {
    const int connection = accept(listener, nullptr, nullptr);
    std::string request;
    char buffer[4096];
    std::size_t bodyStart = std::string::npos;
    std::size_t length = 0;
    while (true) {
        const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(n));
        if (bodyStart == std::string::npos &&
            (bodyStart = request.find("\r\n\r\n")) != std::string::npos) {
            bodyStart += 4;
            const std::size_t at = request.find("Content-Length: ");
            length = at == std::string::npos ? 0 : std::stoul(request.substr(at + 16));
        }
        if (bodyStart != std::string::npos && request.size() >= bodyStart + length) {
            break;
        }
    }
    const std::string answer =
        "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    (void)send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
    close(connection);
    return bodyStart == std::string::npos ? std::string() : request.substr(bodyStart);
}

TEST_F(UploadRequestTest, RawBodyIsGzipOfABatchThatProtocDecodes) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t size = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    APMRemoteConfigTestPeer::setServiceOrigin("http://127.0.0.1:" +
                                              std::to_string(ntohs(address.sin_port)));

    startConnected();
    storeConfig({});
    queue({bundle(0, "scan_finished")});
    onWorker([&] { engine_->uploadData(); });
    const std::string body = receiveOneRequest(listener);
    close(listener);
    waitUntil([&] { return !engine_->isNetworkRequestPending(); });

    const std::filesystem::path file = home() / "body.gz";
    std::ofstream(file, std::ios::binary) << body;
    const std::string text =
        shell("gzip -dc '" + file.string() + "' | '" + CB_PROTOC + "' -I '" +
              CB_MESSAGES_PROTO_DIR + "' --decode=apmpb.MeasurementBatch upload.proto");
    EXPECT_NE(text.find("name: \"scan_finished\""), std::string::npos) << text;
    EXPECT_NE(text.find("uploading_vud_version: 111500"), std::string::npos) << text;
    EXPECT_NE(text.find("upload_timestamp_millis: "), std::string::npos) << text;
    EXPECT_EQ(text.find("checksum"), std::string::npos) << text;
    EXPECT_EQ(text.find("upload_subdomain"), std::string::npos) << text;
    EXPECT_EQ(queueCount(), "0\n");
}

TEST_F(UploadRequestTest, SuccessEmptiesTheQueueAndClearsFailureAndBackoff) {
    startConnected();
    storeConfig({});
    queue({bundle(), bundle()});
    persisted().setLastFailedUploadTimestamp(APMCurrentTimeInterval() - 100);
    persisted().setLastBackoffTimestamp(APMCurrentTimeInterval() - 100);
    onWorker([&] { engine_->uploadData(); });
    waitForAnswers(1);
    EXPECT_EQ(queueCount(), "0\n");
    EXPECT_NEAR(persisted().lastSuccessfulUploadTimestamp(), APMCurrentTimeInterval(), 60);
    EXPECT_EQ(persisted().lastFailedUploadTimestamp(), 0);
    EXPECT_EQ(persisted().lastBackoffTimestamp(), 0);
    EXPECT_TRUE(engine_->uploadingBundleIDs().empty());
}

TEST_F(UploadRequestTest, FailedAnswersCountARetryAndOnlyOverloadBacksOff) {
    startConnected();
    storeConfig({});
    for (const int status : {500, 503, 429}) {
        SCOPED_TRACE(status);
        sqlite("DELETE FROM queue;");
        persisted().setLastFailedUploadTimestamp(0);
        persisted().setLastBackoffTimestamp(0);
        engine_->alarm()->cancel();  // the previous case's retry
        respondWithStatus(status);
        queue({bundle()});
        const std::size_t before = server_.requests().size();
        onWorker([&] { engine_->uploadData(); });
        waitForAnswers(before + 1);
        EXPECT_EQ(sqlite("SELECT retry_count FROM queue;"), "1\n");
        EXPECT_NEAR(persisted().lastFailedUploadTimestamp(), APMCurrentTimeInterval(), 60);
        const bool backoff = status != 500;
        if (backoff) {
            EXPECT_NEAR(persisted().lastBackoffTimestamp(), APMCurrentTimeInterval(), 60);
        } else {
            EXPECT_EQ(persisted().lastBackoffTimestamp(), 0);
        }
        // The retry comes 1800 s after the first planned time; a back-off waits 43200 s.
        ASSERT_TRUE(secondsUntilAlarm());
        EXPECT_NEAR(*secondsUntilAlarm(), backoff ? 43200 : 1815, 60);
    }
    EXPECT_EQ(countOf(23043), 3);
}

class FocusLossTest : public UploadTest {
  protected:
    // The app resigns active `times` times (what the facade's queue runs on the worker queue
    // for each); returns once the answer of any upload sent was handled.
    void loseFocus(int times) {
        for (int i = 0; i < times; ++i) {
            onWorker([&] { engine_->uploadOnFocusLossOrRegisterAlarm(); });
            waitUntil([&] { return !engine_->isNetworkRequestPending(); });
        }
    }
};

// Switching focus away again and again must not send a request each time: the back-off after
// an overloaded answer and the upload interval after a success hold as they do for the alarm.
TEST_F(FocusLossTest, UploadsOnlyWhenBackOffAndIntervalAllow) {
    startConnected();
    storeConfig({});
    respondWithStatus(429);
    queue({bundle()});
    loseFocus(1);
    ASSERT_EQ(requestsWithMethod("POST").size(), 1u);
    ASSERT_GT(persisted().lastBackoffTimestamp(), 0);

    queue({bundle()});
    loseFocus(10);
    EXPECT_EQ(requestsWithMethod("POST").size(), 1u);
    ASSERT_TRUE(secondsUntilAlarm());
    EXPECT_NEAR(*secondsUntilAlarm(), 43200, 60);  // the back-off's alarm stays

    // A healthy service: one upload, then the upload interval.
    persisted().setLastBackoffTimestamp(0);
    persisted().setLastFailedUploadTimestamp(0);
    respondWithStatus(204);
    loseFocus(1);
    ASSERT_EQ(requestsWithMethod("POST").size(), 2u);
    EXPECT_EQ(queueCount(), "0\n");
    queue({bundle()});
    loseFocus(10);
    EXPECT_EQ(requestsWithMethod("POST").size(), 2u);
    ASSERT_TRUE(secondsUntilAlarm());
    EXPECT_NEAR(*secondsUntilAlarm(), 3600, 60);
}

TEST_F(UploadRequestTest, FailedDeleteAfterSuccessSuspendsUploads) {
    uploadOneBundleAndDropTheQueueBeforeSuccess();
    EXPECT_TRUE(monitor_.saw(23045));
    EXPECT_GT(engine_->suspendedUploadTimestamp(), 0);
    EXPECT_NEAR(engine_->suspendedUploadTimestamp(), APMMeasurement::systemUptime(), 60);
    EXPECT_TRUE(monitor_.saw(23023));
    EXPECT_FALSE(secondsUntilAlarm());
    EXPECT_EQ(requestsWithMethod("POST").size(), 1u);
}

TEST_F(UploadRequestTest, FailedDeleteWithoutReadableUptimeDoesNotSuspendForEver) {
    TEST_APMSetSystemUptime(-1.0);  // a clock that cannot be read
    uploadOneBundleAndDropTheQueueBeforeSuccess();
    TEST_APMSetSystemUptime(std::nullopt);
    EXPECT_TRUE(monitor_.saw(23045));
    EXPECT_EQ(engine_->suspendedUploadTimestamp(), 0);
    EXPECT_FALSE(monitor_.saw(23023));
}

class UploadBatchingTest : public UploadTest {
  protected:
    // Queues `bundles`, uploads once (each answer chains the next upload) and returns the
    // event names of each POST's bundles.
    std::vector<std::vector<std::string>> uploadInBatches(
        const std::vector<APMPBMeasurementBundle>& bundles, std::size_t expectedPosts) {
        queue(bundles);
        onWorker([&] { engine_->uploadData(); });
        waitForAnswers(expectedPosts);
        waitUntil([&] { return engine_->uploadingBundleIDs().empty(); });
        std::vector<std::vector<std::string>> batches;
        for (const auto& post : requestsWithMethod("POST")) {
            std::vector<std::string> names;
            for (const auto& b : bundlesOf(*batchOf(post))) {
                names.push_back(eventNameOf(*b));
            }
            batches.push_back(names);
        }
        return batches;
    }

    static std::string eventNameOf(const APMPBMeasurementBundle& b) {
        const auto events = APMPBGetRepeated<APMPBEvent>(&b, Bundle::kEvents).value();
        return APMPBGetString(std::get<std::shared_ptr<NANOMessageBase>>(events.at(0)).get(),
                              apmpb::Event::kName)
            .value_or("");
    }

    static APMPBMeasurementBundle withSignals(APMPBMeasurementBundle b,
                                              const std::string& signals) {
        APMPBSetString(&b, Bundle::kConsentSignals, signals);
        return b;
    }
};

TEST_F(UploadBatchingTest, DifferentConsentSignalsGoInSeparateBatches) {
    startConnected();
    storeConfig({});
    const auto batches = uploadInBatches(
        {withSignals(bundle(0, "a"), "G111"), withSignals(bundle(0, "b"), "G1--")}, 2);
    EXPECT_EQ(batches, (std::vector<std::vector<std::string>>{{"a"}, {"b"}}));
    EXPECT_EQ(queueCount(), "0\n");
}

TEST_F(UploadBatchingTest, FirstOpenForcesCurrentConsentOnItAndLaterBundles) {
    startConnected();
    storeConfig({});
    const auto batches =
        uploadInBatches({withSignals(bundle(0, "a"), "G111"), withSignals(bundle(0, "_f"), "G111"),
                         withSignals(bundle(0, "c"), "G111")},
                        2);
    EXPECT_EQ(batches, (std::vector<std::vector<std::string>>{{"a"}, {"_f", "c"}}));
    const auto posts = requestsWithMethod("POST");
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(APMPBGetString(bundlesOf(*batchOf(posts[0]))[0].get(), Bundle::kConsentSignals),
              "G111");
    for (const auto& b : bundlesOf(*batchOf(posts[1]))) {
        EXPECT_EQ(APMPBGetString(b.get(), Bundle::kConsentSignals), "G1--");
        EXPECT_EQ(APMPBGetString(b.get(), Bundle::kConsentDiagnostics), "19999");
    }
}

TEST_F(UploadBatchingTest, AnotherAppIDEndsTheBatch) {
    startConnected();
    storeConfig({});
    const auto batches = uploadInBatches(
        {bundle(0, "a"), bundle(0, "b"), bundle(0, "c", "1:222:macos:bb"), bundle(0, "d")}, 3);
    EXPECT_EQ(batches, (std::vector<std::vector<std::string>>{{"a", "b"}, {"c"}, {"d"}}));
}

}  // namespace
