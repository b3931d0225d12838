// The fetching task manager: its schedule, its replies as stored snapshots and errors, and the
// request it posts to a closed port.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>

#include "platform/dispatch/MainQueue.h"
#include "platform/preferences/PreferencesStore.h"
#include "sdk/measurement/experiments/APMEFetchTaskManager.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUGzip.h"
#include "tests/sdk/measurement/experiments/ExperimentTestSupport.h"
#include "tests/sdk/measurement/storage/APMRemoteConfigTestPeer.h"
#include "tests/support/LoopbackServer.h"

using exptest::kNow;

namespace {

using Key = std::string_view;

class RecordingDelegate : public APMETaskManagerDelegate {
  public:
    bool taskManagerShouldFetchExperiments(APMETaskManager&) override { return shouldFetch; }
    void taskManagerDidStart(APMETaskManager&, const std::vector<APMESnapshot>& activatedSnapshots,
                             const std::vector<APMESnapshot>& pendingSnapshots,
                             const std::vector<APMESnapshot>&) override {
        activated = activatedSnapshots;
        pending = pendingSnapshots;
        ++started;
    }
    void taskManagerDidFinishFetching(APMETaskManager&, const std::vector<APMESnapshot>& snapshots,
                                      const std::map<std::string, sdk::Error>& errors) override {
        fetched = snapshots;
        fetchErrors = errors;
        ++finished;
    }
    void taskManagerDidUpsertPendingSnapshots(APMETaskManager&,
                                              const std::vector<APMESnapshot>&) override {}

    std::vector<APMESnapshot> fetched;
    std::map<std::string, sdk::Error> fetchErrors;
    int finished = 0;
    std::atomic<bool> shouldFetch = true;
    std::vector<APMESnapshot> activated, pending;
    int started = 0;
};

class FetchTaskManagerTest : public exptest::ExperimentTest {
  protected:
    void SetUp() override {
        ExperimentTest::SetUp();
        defaults_ = std::make_shared<APMUserDefaults>("APMExperimentSuiteName");
        defaults_->clearAllData();
        // Port 9 (discard) is closed on the loopback interface.
        makeManager("http://127.0.0.1:9/sdk-exp");
    }
    void makeManager(const std::string& serviceURL) {
        APMEFetchTaskManager::Parts parts;
        parts.queue = platform::DispatchQueue::createSerial("APMExperimentWorkerQueue");
        parts.alarm = std::make_shared<APMAlarm>(parts.queue, "APMExperimentAlarm");
        parts.network = VDUNetwork::createWithReachabilityHost("127.0.0.1");
        parts.persistedStorage = defaults_;
        parts.databasePath = exptest::databasePath();
        parts.initTimestamp = kNow;
        parts.serviceURL = serviceURL;
        alarm_ = parts.alarm;
        manager_ = APMEFetchTaskManager::initWithParts(std::move(parts));
        manager_->setDelegate(delegate_);
    }
    // Fetches once and waits until the reply was handled.
    void fetchAndWait(std::string_view key) {
        manager_->fetchExperiments();
        platform::runMainQueueUntil([&] { return defaults_->objectForKey(key).has_value(); },
                                    std::chrono::seconds(20));
        onWorker([] {});
    }
    void TearDown() override {
        manager_.reset();
        ExperimentTest::TearDown();
    }

    void onWorker(const std::function<void()>& block) {
        manager_->dispatchSyncOnWorkerQueue(block);
    }
    // Spends the first-call rule, so the regular schedule applies.
    void spendFirstCall() {
        onWorker([&] { (void)manager_->fetchTimeFromLastSuccessfulTimestamp(0, 0); });
    }
    // When the alarm fires, on the test's clock (the alarm keeps system-clock times).
    std::optional<double> alarmDue() const {
        const auto due = alarm_->scheduledTimestamp();
        if (!due)
            return std::nullopt;
        return kNow + (due->timeIntervalSince1970() - sdk::Date::now().timeIntervalSince1970());
    }
    void reply(long status, const std::string& responseText = "") {
        VDUNetwork::Response response = platform::HTTPURLResponse{"", status, {}};
        VDUNetwork::Data data;
        if (!responseText.empty())
            data = messages_test::asBytes(
                messages_test::protoc("--encode=apmpb.ExperimentResponse", responseText));
        onWorker(
            [&] { manager_->handleFetchingExperimentsResponse(response, data, sdk::Error()); });
    }

    std::shared_ptr<APMUserDefaults> defaults_;
    std::shared_ptr<APMAlarm> alarm_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<APMEFetchTaskManager> manager_;
};

const std::string kTwoSnapshots =
    "snapshots { sdk_name: \"div_edadevadeze\" experiments { experiment_id: 12 flags { name: "
    "\"customer_type_enabled\" int_value: 0 } } }\n"
    "snapshots { sdk_name: \"div_other\" experiments { experiment_id: 3 } }\n";

}  // namespace

TEST_F(FetchTaskManagerTest, NextFetchTime) {
    const double S = 1000;
    struct Case {
        const char* name;
        bool firstCall;
        double success, failure, expected;
    };
    const Case cases[] = {
        {"first call, no times", true, 0, 0, kNow + 10},
        {"success 1 h ago", false, kNow - 3600, 0, kNow + 3 * 3600},
        {"success 5 h ago, first call", true, kNow - 5 * 3600, 0, kNow + 10},
        {"first retry passed", false, S, S + 14400 + 1800 + 1, S + 14400 + 1800 + 3600},
        {"six retries spent", false, S, S + 14400 + 63 * 1800, 0},
        {"success in the future mirrored", false, kNow + 3600, 0, kNow - 3600 + 14400},
        {"never a success: retries count from init", false, 0, kNow + 1, kNow + 1800},
    };
    for (const Case& c : cases) {
        SetUp();
        if (!c.firstCall)
            spendFirstCall();
        double next = -1;
        onWorker(
            [&] { next = manager_->fetchTimeFromLastSuccessfulTimestamp(c.success, c.failure); });
        EXPECT_DOUBLE_EQ(next, c.expected) << c.name;
        TearDown();
    }
}

TEST_F(FetchTaskManagerTest, SixFailedRetriesStopTheScheduleAndForgetTheSuccess) {
    defaults_->setDouble(1000, APMEFetchTaskManager::kSuccessKey);
    defaults_->setDouble(1000 + 14400 + 63 * 1800, APMEFetchTaskManager::kFailureKey);
    spendFirstCall();
    onWorker([&] { manager_->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_TRUE(monitor_.saw(820024));
    EXPECT_FALSE(defaults_->objectForKey(APMEFetchTaskManager::kSuccessKey));
    EXPECT_FALSE(alarmDue());
}

TEST_F(FetchTaskManagerTest, AnEarlierAlarmStaysALaterOneIsReplaced) {
    alarm_->runAfterDelay(5, [] {});
    onWorker([&] { manager_->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_TRUE(monitor_.saw(820017));
    EXPECT_NEAR(*alarmDue(), kNow + 5, 1);

    alarm_->runAfterDelay(100, [] {});
    monitor_.clear();
    onWorker([&] { manager_->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_FALSE(monitor_.saw(820017));
    // No success yet: the computed time is long past, so the fetch runs almost at once.
    EXPECT_NEAR(*alarmDue(), kNow + 0.001, 0.5);
}

TEST_F(FetchTaskManagerTest, BackOffAfter503And429Only) {
    for (long status : {503L, 429L, 500L}) {
        SetUp();
        defaults_->setDouble(kNow - 3600, APMEFetchTaskManager::kSuccessKey);
        spendFirstCall();
        reply(status);
        EXPECT_DOUBLE_EQ(defaults_->doubleForKey(APMEFetchTaskManager::kFailureKey), kNow);
        EXPECT_TRUE(monitor_.saw(820002));
        ASSERT_TRUE(alarmDue()) << status;
        if (status == 500) {
            EXPECT_FALSE(defaults_->objectForKey(APMEFetchTaskManager::kBackoffKey));
            EXPECT_NEAR(*alarmDue(), kNow - 3600 + 14400 + 1800, 1);
        } else {
            EXPECT_GE(*alarmDue(), kNow + 43200 - 1) << status;
        }
        TearDown();
    }
}

TEST_F(FetchTaskManagerTest, ASuccessfulReplyStoresPendingSnapshotsAndClearsFailures) {
    manager_->startTaskManager();
    defaults_->setDouble(kNow - 60, APMEFetchTaskManager::kFailureKey);
    defaults_->setDouble(kNow - 60, APMEFetchTaskManager::kBackoffKey);
    reply(200, kTwoSnapshots);
    EXPECT_EQ(cli("SELECT sdk_name FROM pending_snapshot_table ORDER BY sdk_name"),
              "div_edadevadeze\ndiv_other\n");
    EXPECT_DOUBLE_EQ(defaults_->doubleForKey(APMEFetchTaskManager::kSuccessKey), kNow);
    EXPECT_FALSE(defaults_->objectForKey(APMEFetchTaskManager::kFailureKey));
    EXPECT_FALSE(defaults_->objectForKey(APMEFetchTaskManager::kBackoffKey));
    // The suite's file on disk holds the same: only the success time is left.
    std::ifstream file(platform::PreferencesStore::defaultFolder() / "APMExperimentSuiteName.plist",
                       std::ios::binary);
    const std::string plist{std::istreambuf_iterator<char>(file), {}};
    EXPECT_NE(plist.find(APMEFetchTaskManager::kSuccessKey), std::string::npos) << plist;
    EXPECT_EQ(plist.find(APMEFetchTaskManager::kFailureKey), std::string::npos) << plist;
    EXPECT_EQ(plist.find(APMEFetchTaskManager::kBackoffKey), std::string::npos) << plist;
    EXPECT_EQ(delegate_->finished, 1);
    EXPECT_EQ(delegate_->fetched.size(), 2u);
    EXPECT_TRUE(alarmDue());
}

TEST_F(FetchTaskManagerTest, SdkResponsesGiveNamedSnapshotsAndErrors) {
    reply(200,
          "sdk_responses { sdk_name: \"div_edadevadeze\" status: 2 snapshot { experiments { "
          "experiment_id: 12 } } }\n"
          "sdk_responses { sdk_name: \"div_other\" snapshot { experiments { experiment_id: 4 } } "
          "}\n");
    ASSERT_EQ(delegate_->fetched.size(), 2u);
    EXPECT_EQ(delegate_->fetched[0].SDKName(), "div_edadevadeze");
    EXPECT_EQ(exptest::experimentIDsOf(delegate_->fetched[1]), std::vector<std::int64_t>{4});
    ASSERT_EQ(delegate_->fetchErrors.size(), 1u);
    EXPECT_TRUE(
        delegate_->fetchErrors.at("div_edadevadeze").is(APMEFetchTaskManager::kErrorDomain, -3));

    // A status beyond the known ones maps to -1.
    APMPBExperimentResponse response;
    auto sdkResponse = std::make_shared<APMPBSdkResponse>();
    APMPBSetString(sdkResponse.get(), apmpb::SdkResponse::kSdkName, "div_edadevadeze");
    APMPBSetInt32(sdkResponse.get(), apmpb::SdkResponse::kStatus, 5);
    APMPBSetRepeated(&response, apmpb::ExperimentResponse::kSdkResponses,
                     APMPBRepeatedArray{sdkResponse});
    const auto errors = APMEFetchTaskManager::errorsFromExperimentResponse(&response);
    ASSERT_TRUE(errors);
    EXPECT_TRUE(errors->at("div_edadevadeze").is(APMEFetchTaskManager::kErrorDomain, -1));
}

TEST_F(FetchTaskManagerTest, SnapshotsWithoutNameAreSkippedAndEmptyDataGivesNothing) {
    reply(200, "snapshots { experiments { experiment_id: 1 } }\n" + kTwoSnapshots);
    EXPECT_TRUE(monitor_.saw(840000));
    EXPECT_TRUE(monitor_.saw(820016));
    EXPECT_EQ(delegate_->fetched.size(), 2u);

    EXPECT_FALSE(APMEFetchTaskManager::experimentSnapshotsFromData({}));
    EXPECT_TRUE(monitor_.saw(820025));
}

TEST_F(FetchTaskManagerTest, AClosedPortRecordsAFailureAndReschedules) {
    spendFirstCall();
    fetchAndWait(APMEFetchTaskManager::kFailureKey);
    EXPECT_DOUBLE_EQ(defaults_->doubleForKey(APMEFetchTaskManager::kFailureKey), kNow);
    EXPECT_TRUE(monitor_.saw(820001));
    EXPECT_TRUE(monitor_.saw(820002));
    EXPECT_TRUE(alarmDue());
}

TEST_F(FetchTaskManagerTest, AFetchPostsTheRequestAndStoresTheGzippedReply) {
    const sdk::Bytes body =
        *vdu_dataByGzippingData(messages_test::asBytes(messages_test::protoc(
                                    "--encode=apmpb.ExperimentResponse", kTwoSnapshots)),
                                nullptr);
    cb::testsupport::LoopbackServer server(
        [&](const httplib::Request&, httplib::Response& response) {
            response.set_content(std::string(body.begin(), body.end()), "application/octet-stream");
        });
    makeManager(server.address("/sdk-exp"));
    auto property = std::make_shared<APMESDKProperty>("div_edadevadeze");
    property->setDiversionKey("key");
    manager_->addSDKProperty(property);
    manager_->startTaskManager();
    spendFirstCall();

    fetchAndWait(APMEFetchTaskManager::kSuccessKey);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.path, "/sdk-exp");
    // The server may have inflated the body already.
    const auto inflated =
        vdu_dataByInflatingGzippedData(messages_test::asBytes(request.body), nullptr);
    const std::string sent = inflated ? messages_test::asString(*inflated) : request.body;
    const std::string decoded = messages_test::protoc("--decode=apmpb.ExperimentRequest", sent);
    EXPECT_NE(decoded.find("diversion_id: \"key-div_edadevadeze\""), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("platform: \"macos\""), std::string::npos) << decoded;
    EXPECT_EQ(cli("SELECT sdk_name FROM pending_snapshot_table ORDER BY sdk_name"),
              "div_edadevadeze\ndiv_other\n");
    EXPECT_EQ(delegate_->finished, 1);
}

TEST_F(FetchTaskManagerTest, ADelegateAnsweringNoPostponesWithoutARequest) {
    delegate_->shouldFetch = false;
    spendFirstCall();
    // No success yet: the alarm fires at once and asks the delegate.
    onWorker([&] { manager_->scheduleFetchingExperimentsOnWorkerQueue(); });
    platform::runMainQueueUntil(
        [&] { return defaults_->objectForKey(APMEFetchTaskManager::kSuccessKey).has_value(); },
        std::chrono::seconds(20));
    onWorker([] {});
    EXPECT_DOUBLE_EQ(defaults_->doubleForKey(APMEFetchTaskManager::kSuccessKey), kNow);
    EXPECT_FALSE(monitor_.saw(820001));
    ASSERT_TRUE(alarmDue());
    EXPECT_NEAR(*alarmDue(), kNow + 14400, 1);
}

TEST_F(FetchTaskManagerTest, StartActivatesUnmarkedPendingSnapshotsAndReportsThem) {
    {
        auto database = APMEDatabase::initWithPath(exptest::databasePath());
        ASSERT_TRUE(database);
        sdk::Error error;
        ASSERT_TRUE(database->upsertPendingExperimentSnapshots(
            {exptest::makeSnapshot("div_edadevadeze", {{12, {}}})}, &error));
    }
    manager_->startTaskManager();
    onWorker([] {});
    EXPECT_TRUE(monitor_.saw(820009));
    EXPECT_EQ(delegate_->started, 1);
    ASSERT_EQ(delegate_->activated.size(), 1u);
    EXPECT_EQ(delegate_->activated[0].SDKName(), "div_edadevadeze");
    EXPECT_TRUE(delegate_->pending.empty());
    EXPECT_TRUE(alarmDue());
}

TEST_F(FetchTaskManagerTest, ADatabaseThatFailsValidationSchedulesNothing) {
    // A table without the columns the database needs fails validation.
    std::filesystem::create_directories(exptest::databasePath().parent_path());
    cli("CREATE TABLE activated_snapshot_table (sdk_name TEXT NOT NULL PRIMARY KEY, "
        "snapshotProto BLOB NOT NULL, timestamp REAL NOT NULL);");
    manager_->startTaskManager();
    onWorker([] {});
    EXPECT_EQ(delegate_->started, 0);
    EXPECT_FALSE(alarmDue());
}

TEST_F(FetchTaskManagerTest, AReplyThatIsNotGzipCountsAsEmpty) {
    cb::testsupport::LoopbackServer server(
        [](const httplib::Request&, httplib::Response& response) {
            response.set_content("plain bytes", "application/octet-stream");
        });
    makeManager(server.address("/sdk-exp"));
    manager_->startTaskManager();
    spendFirstCall();
    fetchAndWait(APMEFetchTaskManager::kSuccessKey);
    EXPECT_TRUE(monitor_.saw(820023));
    EXPECT_EQ(delegate_->finished, 1);
    EXPECT_TRUE(delegate_->fetched.empty());
    EXPECT_EQ(cli("SELECT count(*) FROM pending_snapshot_table"), "0\n");
}

TEST_F(FetchTaskManagerTest, AReplyThatInflatesPastTheLimitCountsAsEmpty) {
    // 65 KB of gzip that would inflate to 64 MiB, past what a reply may hold once inflated.
    const sdk::Bytes bomb = *vdu_dataByGzippingData(sdk::Bytes(64u << 20, 0), nullptr);
    cb::testsupport::LoopbackServer server(
        [&](const httplib::Request&, httplib::Response& response) {
            response.set_content(std::string(bomb.begin(), bomb.end()), "application/octet-stream");
        });
    makeManager(server.address("/sdk-exp"));
    manager_->startTaskManager();
    spendFirstCall();
    fetchAndWait(APMEFetchTaskManager::kSuccessKey);
    EXPECT_TRUE(monitor_.saw(820023));
    EXPECT_EQ(delegate_->finished, 1);
    EXPECT_TRUE(delegate_->fetched.empty());
}

TEST_F(FetchTaskManagerTest, TheSDKOriginOverrideRedirectsTheService) {
    cb::testsupport::LoopbackServer server(
        [](const httplib::Request&, httplib::Response& response) { response.status = 500; });
    APMRemoteConfigTestPeer::setServiceOrigin(server.address());
    makeManager("");
    spendFirstCall();
    fetchAndWait(APMEFetchTaskManager::kFailureKey);
    APMRemoteConfigTestPeer::setServiceOrigin(std::nullopt);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/sdk-exp");
}
