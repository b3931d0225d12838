// Remote configuration fetch: the conditional GET, what each answer stores or records, its
// share of the single request slot, and the weekly fetch on becoming active.
#include <condition_variable>

#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/core/UploadTestSupport.h"

namespace {

using sdktest::UploadTest;

class RemoteConfigFetchTest : public UploadTest {
  protected:
    void TearDown() override { TEST_APMSetCurrentTimeInterval(std::nullopt); }

    // An encoded configuration for `appID` with one setting: the upload interval in
    // milliseconds.
    static std::string configBody(const std::string& appID, const std::string& interval) {
        APMPBMeasurementConfig config;
        APMPBSetString(&config, apmpb::MeasurementConfig::kAppId, appID);
        auto setting = std::make_shared<APMPBSetting>();
        APMPBSetString(setting.get(), apmpb::Setting::kName, "measurement.upload.interval");
        APMPBSetString(setting.get(), apmpb::Setting::kValue, interval);
        APMPBSetRepeated(&config, apmpb::MeasurementConfig::kSettings, APMPBRepeatedArray{setting});
        const sdk::Bytes bytes = config.protoBuffer().value();
        return std::string(bytes.begin(), bytes.end());
    }

    // Fetches once and waits for the answer to be handled.
    void fetch() {
        const std::size_t before = server_.requests().size();
        onWorker([&] { engine_->fetchRemoteConfig(); });
        waitForAnswers(before + 1);
    }

    cb::testsupport::ReceivedRequest lastRequest() { return server_.requests().back(); }

    double uploadingInterval() {
        double interval = 0;
        onWorker([&] { interval = engine_->remoteConfigInstance()->uploadingInterval(); });
        return interval;
    }

    double lastConfigUpdate() {
        double time = 0;
        onWorker(
            [&] { time = engine_->remoteConfigInstance()->lastRemoteConfigUpdateTimestamp(); });
        return time;
    }
};

TEST_F(RemoteConfigFetchTest, FirstUploadWithExpiredConfigurationFetchesAndA404IsNoFailure) {
    startConnected();
    logEvent("scan_started");  // data, but nothing queued yet
    respondWith([](const httplib::Request& request, httplib::Response& response) {
        response.status = request.method == "GET" ? 404 : 204;
    });
    onWorker([&] { engine_->uploadData(); });
    waitForAnswers(1);

    const cb::testsupport::ReceivedRequest get = server_.requests().at(0);
    EXPECT_EQ(get.method, "GET");
    EXPECT_EQ(get.path, std::string("/config/app/") + kAppID);
    EXPECT_NE(get.target.find("platform=macos"), std::string::npos) << get.target;
    EXPECT_NE(get.target.find("vud_version=111500"), std::string::npos) << get.target;
    EXPECT_NE(get.target.find("runtime_version=0"), std::string::npos) << get.target;
    EXPECT_FALSE(headerOf(get, "If-Modified-Since"));
    EXPECT_FALSE(headerOf(get, "If-None-Match"));
    EXPECT_TRUE(monitor_.saw(23130));
    EXPECT_NEAR(lastConfigUpdate(), APMCurrentTimeInterval(), 60);
    EXPECT_EQ(persisted().lastFailedUploadTimestamp(), 0);
    EXPECT_EQ(uploadingInterval(), 3600);
    // After the fetch the upload runs again, now with a configuration that is not expired, and
    // posts the stored event.
    waitForAnswers(2);
    EXPECT_EQ(countOf(23033), 2);
    ASSERT_EQ(server_.requests().size(), 2u);
    EXPECT_EQ(server_.requests().at(1).method, "POST");
    EXPECT_EQ(server_.requests().at(1).path, "/a");
    EXPECT_EQ(queueCount(), "0\n");
}

TEST_F(RemoteConfigFetchTest, StoredConfigurationAndItsValidatorsAreSentNextTime) {
    startConnected();
    const std::string body = configBody(kAppID, "7200000");
    respondWith([body](const httplib::Request&, httplib::Response& response) {
        response.status = 200;
        response.set_header("ETag", "\"v1\"");
        response.set_header("Last-Modified", "Wed, 09 Dec 2026 10:00:00 GMT");
        response.set_content(body, "application/x-protobuf");
    });
    fetch();
    EXPECT_TRUE(monitor_.saw(23133));
    EXPECT_EQ(uploadingInterval(), 7200);
    EXPECT_EQ(persisted().configServerETag(), "\"v1\"");
    EXPECT_EQ(persisted().configServerLastModifiedString(), "Wed, 09 Dec 2026 10:00:00 GMT");

    respondWithStatus(304);
    fetch();
    EXPECT_EQ(headerOf(lastRequest(), "If-None-Match"), "\"v1\"");
    EXPECT_EQ(headerOf(lastRequest(), "If-Modified-Since"), "Wed, 09 Dec 2026 10:00:00 GMT");
    EXPECT_TRUE(monitor_.saw(23131));
    EXPECT_EQ(uploadingInterval(), 7200);

    // Validators stored by another library version are not sent.
    persisted().setConfigVUDVersion(111400);
    fetch();
    EXPECT_FALSE(headerOf(lastRequest(), "If-None-Match"));
    EXPECT_FALSE(headerOf(lastRequest(), "If-Modified-Since"));
}

TEST_F(RemoteConfigFetchTest,
       AnswersThatCannotBeStoredKeepThePreviousConfigurationAndRecordTheTime) {
    startConnected();
    storeConfig({{"measurement.upload.interval", "7200000"}});
    struct Case {
        const char* what;
        std::string body;
        std::int64_t code;  // logged; 0 for none
    } const cases[] = {
        {"another app ID", configBody("1:222:macos:bb", "900000"), 23136},
        {"empty body", "", 0},
        {"undecodable body", std::string("\xff\xff\xff\xff", 4), 23135},
    };
    double clock = APMCurrentTimeInterval();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock += 10;
        TEST_APMSetCurrentTimeInterval(clock);
        respondWithStatus(200, c.body);
        fetch();
        if (c.code != 0) {
            EXPECT_TRUE(monitor_.saw(c.code));
        }
        EXPECT_EQ(uploadingInterval(), 7200);
        EXPECT_DOUBLE_EQ(lastConfigUpdate(), clock);
        EXPECT_FALSE(persisted().configServerETag());
    }
}

TEST_F(RemoteConfigFetchTest, OverloadedAnswerCountsAsUploadFailureWithBackoff) {
    startConnected();
    respondWithStatus(503);
    fetch();
    EXPECT_TRUE(monitor_.saw(23128));
    EXPECT_TRUE(monitor_.saw(23129));
    EXPECT_NEAR(persisted().lastFailedUploadTimestamp(), APMCurrentTimeInterval(), 60);
    EXPECT_NEAR(persisted().lastBackoffTimestamp(), APMCurrentTimeInterval(), 60);
    EXPECT_EQ(lastConfigUpdate(), 0);
}

TEST_F(RemoteConfigFetchTest, ABodyCutShortIsAFailedFetch) {
    startConnected();
    respondWith([](const httplib::Request&, httplib::Response& response) {
        // 1000 bytes announced, 10 sent, then the connection closes.
        response.set_content_provider(1000, "application/x-protobuf",
                                      [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                          sink.write("0123456789", 10);
                                          return false;
                                      });
    });
    fetch();
    EXPECT_TRUE(monitor_.saw(23128));
    EXPECT_FALSE(monitor_.saw(23133));
    EXPECT_NEAR(persisted().lastFailedUploadTimestamp(), APMCurrentTimeInterval(), 60);
    EXPECT_EQ(lastConfigUpdate(), 0);
}

TEST_F(RemoteConfigFetchTest, UploadWhileAFetchIsInFlightSendsNothing) {
    startConnected();
    queue({bundle()});
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    respondWith([&](const httplib::Request&, httplib::Response& response) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
        response.status = 404;
    });
    onWorker([&] { engine_->fetchRemoteConfig(); });
    ASSERT_TRUE(server_.waitForRequests(1));
    onWorker([&] { engine_->uploadData(); });
    EXPECT_TRUE(monitor_.saw(23034));
    EXPECT_EQ(server_.requests().size(), 1u);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    respondWithStatus(204);
    waitUntil([&] { return !engine_->isNetworkRequestPending(); });
    EXPECT_EQ(server_.requests().at(0).method, "GET");
    EXPECT_EQ(requestsWithMethod("POST").size(), server_.requests().size() - 1);
}

TEST_F(RemoteConfigFetchTest, BecomingActiveFetchesAWeekOldConfigurationWhenAsked) {
    startConnected();
    storeConfig({{"measurement.upload.blacklist_internal", "1"}});
    respondWithStatus(304);
    const double stored = lastConfigUpdate();

    TEST_APMSetCurrentTimeInterval(stored + 604800 - 60);
    VDUNotificationCenter::defaultCenter().postNotificationName(
        std::string(APMAppDidBecomeActiveNotificationName()), nullptr);
    drain(*engine_);
    EXPECT_TRUE(server_.requests().empty());

    TEST_APMSetCurrentTimeInterval(stored + 604800);
    VDUNotificationCenter::defaultCenter().postNotificationName(
        std::string(APMAppDidBecomeActiveNotificationName()), nullptr);
    waitForAnswers(1);
    EXPECT_EQ(server_.requests().at(0).method, "GET");
    EXPECT_TRUE(monitor_.saw(23131));
}

}  // namespace
