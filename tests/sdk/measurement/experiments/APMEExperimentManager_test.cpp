// The experiment manager over a recording task manager that runs the real database: clients,
// flag lookups, activation, status and the task manager's reports.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>

#include "platform/dispatch/MainQueue.h"
#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "tests/sdk/measurement/experiments/APMEExperimentManagerTestPeer.h"
#include "tests/sdk/measurement/experiments/RecordingTaskManager.h"

using exptest::experimentIDsOf;
using exptest::kNow;
using exptest::makeSnapshot;
using Operation = APMEClientDelegate::Operation;

namespace {

class TestDelegate final : public APMEClientDelegate {
  public:
    explicit TestDelegate(std::set<Operation> operations) : operations_(std::move(operations)) {}

    bool respondsTo(Operation operation) const override { return operations_.count(operation); }
    void clientDidReceiveNewSnapshot(APMEClient& /*client*/) override {
        newSnapshots += 1;
        toldOnMainThread = platform::isMainThread();
    }
    void clientDidReceiveFetchError(APMEClient& /*client*/, const sdk::Error& error) override {
        std::lock_guard lock(mutex);
        errors.push_back(error);
    }
    bool shouldFetchExperimentsForClient(APMEClient& /*client*/) override { return shouldFetch; }

    std::atomic<int> newSnapshots{0};
    std::atomic<bool> toldOnMainThread{false};
    std::atomic<bool> shouldFetch{false};
    std::mutex mutex;
    std::vector<sdk::Error> errors;  // guarded by mutex

  private:
    const std::set<Operation> operations_;
};

class APMEExperimentManagerTest : public exptest::ExperimentTest {
  protected:
    void SetUp() override {
        ExperimentTest::SetUp();
        manager_ = APMEExperimentManager::initWithTaskManager(tasks_);
        settle();
    }
    // Waits until the manager and the task manager have done what they were handed.
    void settle() {
        for (int round = 0; round < 3; ++round) {
            tasks_->drain();
            manager_->dispatchSyncOnSerialQueue([] {});
        }
    }
    std::shared_ptr<APMEExperimentClient> registerSDK(
        const std::string& name, const std::map<std::string, sdk::Value>& flags = {},
        const std::string& diversionKey = "") {
        auto property = std::make_shared<APMESDKProperty>(name);
        property->setDiversionKey(diversionKey);
        auto client = std::dynamic_pointer_cast<APMEExperimentClient>(
            manager_->registerSDKProperty(property, flags));
        settle();
        return client;
    }
    // The manager's view after a start that read these snapshots from the database.
    void start(std::vector<APMESnapshot> activated, std::vector<APMESnapshot> pending,
               std::vector<APMESnapshot> launched) {
        manager_->taskManagerDidStart(*tasks_, activated, pending, launched);
        settle();
    }
    std::string rows(std::string_view table) {
        return cli("SELECT sdk_name, ifnull(manually_activated, 'NULL') FROM " +
                   std::string(table) + " ORDER BY rowid;");
    }

    std::shared_ptr<exptest::RecordingTaskManager> tasks_ =
        std::make_shared<exptest::RecordingTaskManager>();
    std::shared_ptr<APMEExperimentManager> manager_;
};

TEST_F(APMEExperimentManagerTest, RegistrationRefusesBadPropertiesAndTheLastOneWins) {
    EXPECT_EQ(manager_->registerSDKProperty(nullptr, {}), nullptr);
    EXPECT_EQ(manager_->registerSDKProperty(std::make_shared<APMESDKProperty>(""), {}), nullptr);
    EXPECT_EQ(manager_->registerSDKProperty(std::make_shared<APMESDKProperty>("sdk"),
                                            {{"a", 1}, {"b", sdk::Value::Array{1}}}),
              nullptr);
    for (std::int64_t code : {800000, 800001, 800002})
        EXPECT_TRUE(monitor_.saw(code)) << code;
    settle();
    EXPECT_EQ(manager_->clientForSDKName("sdk"), nullptr);

    // The client comes back while the queue is still busy, before it is stored.
    std::promise<void> release;
    manager_->dispatchAsyncOnSerialQueue(
        [future = release.get_future().share()] { future.wait(); });
    auto first = manager_->registerSDKProperty(std::make_shared<APMESDKProperty>("sdk"),
                                               {{"on", true}, {"n", 1}});
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(tasks_->calls(), (std::vector<std::string>{"start"}));
    release.set_value();
    settle();
    EXPECT_EQ(manager_->clientForSDKName("sdk"), first);
    EXPECT_EQ(first->objectForKeyedSubscript("on"), sdk::Value(1));

    auto second = registerSDK("sdk", {{"n", "two"}});
    EXPECT_TRUE(monitor_.saw(800003));
    EXPECT_EQ(manager_->clientForSDKName("sdk"), second);
    EXPECT_EQ(second->valueForFlag("n"), sdk::Value("two"));
    EXPECT_EQ(second->valueForFlag("on"), std::nullopt);
    EXPECT_EQ(tasks_->calls(), (std::vector<std::string>{"start", "add sdk", "add sdk"}));
}

TEST_F(APMEExperimentManagerTest, LookupsTakeActivatedThenLaunchedThenDefault) {
    auto client = registerSDK("sdk", {{"a", "default"}, {"b", 1}, {"c", true}});
    auto activated = makeSnapshot("sdk", {{7, {{"a", "activated"}, {"d", 2.5}}}});
    APMPBFlag boolFlag;
    APMPBSetString(&boolFlag, apmpb::Flag::kName, "f");
    APMPBSetBool(&boolFlag, apmpb::Flag::kBoolValue, true);
    activated.addFlag(&boolFlag, 7);
    start({activated}, {}, {makeSnapshot("sdk", {{0, {{"a", "launched"}, {"b", 5}, {"e", 7}}}})});

    const std::pair<const char*, std::optional<sdk::Value>> cases[] = {
        {"a", sdk::Value("activated")},
        {"b", sdk::Value(5)},
        {"c", sdk::Value(1)},
        {"d", sdk::Value(2.5)},
        {"e", sdk::Value(7)},
        {"f", sdk::Value(true)},
        {"z", std::nullopt},
    };
    for (const auto& [flag, expected] : cases) {
        SCOPED_TRACE(flag);
        EXPECT_EQ(client->valueForFlag(flag), expected);
    }
    EXPECT_TRUE(monitor_.saw(800014));
    monitor_.clear();
    EXPECT_EQ(manager_->flagValueForFlagName("a", "other"), std::nullopt);
    EXPECT_EQ(manager_->flagValueForFlagName("a", ""), std::nullopt);
    EXPECT_EQ(manager_->flagValueForFlagName("", "sdk"), std::nullopt);
    EXPECT_EQ(client->valueForFlag(""), std::nullopt);
    EXPECT_EQ(monitor_.codes(), (std::vector<std::int64_t>{800012, 800010, 800011, 830002}));
}

TEST_F(APMEExperimentManagerTest, ActivationSplitsTheLaunchedExperimentAndStoresIt) {
    auto client = registerSDK("sdk");
    sdk::Error error;
    EXPECT_FALSE(client->activateLatestSnapshot(&error));
    EXPECT_TRUE(monitor_.saw(800023));
    EXPECT_EQ(APMEExperimentManagerTestPeer::activatedSnapshot(*manager_, "sdk"), nullptr);

    auto pending = makeSnapshot("sdk", {{0, {{"l", 1}}}, {7, {{"a", 2}}}}, kNow - 10);
    {
        auto database = APMEDatabase::initWithPath(exptest::databasePath());
        ASSERT_TRUE(database->upsertPendingExperimentSnapshots({pending}, &error));
    }
    start({}, {pending}, {});
    platform::TEST_setWallClockTime(platform::wallClockNow() + std::chrono::seconds(20));
    ASSERT_TRUE(client->activateLatestSnapshot(&error)) << error.ToString();
    settle();
    EXPECT_EQ(experimentIDsOf(*APMEExperimentManagerTestPeer::launchedSnapshot(*manager_, "sdk")),
              (std::vector<std::int64_t>{0}));
    EXPECT_EQ(experimentIDsOf(*APMEExperimentManagerTestPeer::activatedSnapshot(*manager_, "sdk")),
              (std::vector<std::int64_t>{7}));
    EXPECT_EQ(APMEExperimentManagerTestPeer::pendingSnapshot(*manager_, "sdk"), nullptr);
    EXPECT_EQ(rows("pending_snapshot_table"), "");
    EXPECT_EQ(rows("activated_snapshot_table"), "sdk|NULL\n");
    EXPECT_EQ(rows("launched_snapshot_table"), "sdk|NULL\n");
    EXPECT_TRUE(monitor_.saw(800028));

    EXPECT_FALSE(manager_->activateSnapshotOfSDK("", &error));
    EXPECT_EQ(sdktest::codeAndMessage(error), "1 SDK name cannot be empty");
    EXPECT_TRUE(monitor_.saw(800022));
}

TEST_F(APMEExperimentManagerTest, StatusExperimentIDsAndResetToDefaults) {
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("sdk"), -1);
    auto client = registerSDK("sdk");
    registerSDK("diverted", {}, "key");
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("sdk"), -2);

    const double day = 86400;
    start({makeSnapshot("sdk", {{9, {}}, {3, {}}}, kNow - 4 * day),
           makeSnapshot("diverted", {{1, {}}})},
          {}, {});
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("sdk"), 1);
    EXPECT_TRUE(client->hasStaleSnapshot());
    start({makeSnapshot("sdk", {{9, {}}, {3, {}}}, kNow - 2 * day)}, {}, {});
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("sdk"), 0);
    EXPECT_FALSE(client->hasStaleSnapshot());
    EXPECT_EQ(manager_->experimentIDs(), (std::vector<std::int64_t>{3, 9}));

    sdk::Error error;
    {
        auto database = APMEDatabase::initWithPath(exptest::databasePath());
        auto snapshot = makeSnapshot("sdk", {{9, {}}});
        ASSERT_TRUE(database->activateSnapshot(&snapshot, kNow, &error));
    }
    client->resetToDefaults();
    settle();
    EXPECT_TRUE(monitor_.saw(800027));
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("sdk"), -2);
    EXPECT_EQ(rows("activated_snapshot_table"), "");
    manager_->resetToDefaultsOfSDKName("unknown");
    EXPECT_TRUE(monitor_.saw(800026));
}

TEST_F(APMEExperimentManagerTest, FetchedSnapshotsBecomePendingAndReachTheirClients) {
    auto taking = std::make_shared<TestDelegate>(
        std::set<Operation>{Operation::kDidReceiveNewSnapshot, Operation::kDidReceiveFetchError});
    auto silent = std::make_shared<TestDelegate>(std::set<Operation>{});
    registerSDK("taking")->setDelegate(taking);
    registerSDK("silent")->setDelegate(silent);

    manager_->taskManagerDidFinishFetching(
        *tasks_, {makeSnapshot("taking", {{1, {}}}), makeSnapshot("silent", {{2, {}}})},
        {{"taking", sdk::Error("com.vovidu.vud.measurement.experiment.ErrorDomain", -2)},
         {"silent", sdk::Error("com.vovidu.vud.measurement.experiment.ErrorDomain", -3)}});
    settle();
    EXPECT_TRUE(
        APMEExperimentManagerTestPeer::pendingSnapshot(*manager_, "taking")->manuallyActivated());
    EXPECT_FALSE(
        APMEExperimentManagerTestPeer::pendingSnapshot(*manager_, "silent")->manuallyActivated());
    EXPECT_EQ(rows("pending_snapshot_table"), "taking|1\n");
    {
        std::lock_guard lock(taking->mutex);
        ASSERT_EQ(taking->errors.size(), 1u);
        EXPECT_EQ(taking->errors[0].code(), -2);
    }
    EXPECT_TRUE(silent->errors.empty());
    ASSERT_TRUE(platform::runMainQueueUntil([&] { return taking->newSnapshots.load() == 1; },
                                            std::chrono::seconds(10)));
    EXPECT_TRUE(taking->toldOnMainThread);

    monitor_.clear();
    manager_->taskManagerDidUpsertPendingSnapshots(*tasks_, {makeSnapshot("silent", {{2, {}}})});
    ASSERT_EQ(monitor_.messages().size(), 1u);
    EXPECT_EQ(monitor_.messages()[0].code, 800021);
    EXPECT_EQ(monitor_.messages()[0].level, 0);

    manager_->taskManagerDidFinishFetching(*tasks_, {}, {});
    EXPECT_TRUE(monitor_.saw(800020));
}

TEST_F(APMEExperimentManagerTest, FetchingIsWantedUnlessEveryClientDeclines) {
    EXPECT_FALSE(manager_->taskManagerShouldFetchExperiments(*tasks_));
    auto declining =
        std::make_shared<TestDelegate>(std::set<Operation>{Operation::kShouldFetchExperiments});
    auto client = registerSDK("sdk");
    client->setDelegate(declining);
    EXPECT_FALSE(manager_->taskManagerShouldFetchExperiments(*tasks_));
    declining->shouldFetch = true;
    EXPECT_TRUE(manager_->taskManagerShouldFetchExperiments(*tasks_));
    client->setDelegate(std::make_shared<TestDelegate>(std::set<Operation>{}));
    EXPECT_TRUE(manager_->taskManagerShouldFetchExperiments(*tasks_));
}

TEST_F(APMEExperimentManagerTest, ConcurrentLookupsSeeWholeSnapshots) {
    registerSDK("sdk", {{"a", "default"}});
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i) {
        readers.emplace_back([&] {
            for (int reads = 0; !done.load() || reads < 50; ++reads) {
                auto value = manager_->flagValueForFlagName("a", "sdk");
                const std::string* text = value ? value->string() : nullptr;
                if (text == nullptr || (*text != "default" && text->rfind("v", 0) != 0))
                    bad += 1;
            }
        });
    }
    for (int round = 0; round < 200; ++round) {
        const std::string value = "v" + std::to_string(round);
        manager_->taskManagerDidStart(*tasks_, {makeSnapshot("sdk", {{round + 1, {{"a", value}}}})},
                                      {}, {});
    }
    settle();
    done = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(manager_->flagValueForFlagName("a", "sdk"), sdk::Value("v199"));
}

}  // namespace

namespace {

TEST_F(APMEExperimentManagerTest, AThrowingBlockIsCaughtAndLoggedAndTheQueueGoesOn) {
    manager_->dispatchAsyncOnSerialQueue([] { throw std::runtime_error("async"); });
    manager_->dispatchSyncOnSerialQueue([] { throw std::runtime_error("sync"); });
    auto client = registerSDK("sdk", {{"a", 1}});
    EXPECT_EQ(client->valueForFlag("a"), sdk::Value(1));
    const auto codes = monitor_.codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 800017), 1);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 800018), 1);
    EXPECT_EQ(APMEExperimentManager::version(), 10000);
}

}  // namespace

namespace {

TEST_F(APMEExperimentManagerTest, ResetEmptiesTheSnapshotsAndTheDatabase) {
    auto client = registerSDK("sdk", {{"a", "default"}});
    sdk::Error error;
    {
        auto database = APMEDatabase::initWithPath(exptest::databasePath());
        auto snapshot = makeSnapshot("sdk", {{0, {{"a", "launched"}}}, {4, {}}});
        ASSERT_TRUE(database->activateSnapshot(&snapshot, kNow, &error));
    }
    start({makeSnapshot("sdk", {{4, {{"a", "activated"}}}})}, {makeSnapshot("sdk", {{5, {}}})},
          {makeSnapshot("sdk", {{0, {{"a", "launched"}}}})});
    EXPECT_EQ(client->valueForFlag("a"), sdk::Value("activated"));
    manager_->reset();
    settle();
    EXPECT_EQ(client->valueForFlag("a"), sdk::Value("default"));
    EXPECT_EQ(APMEExperimentManagerTestPeer::pendingSnapshot(*manager_, "sdk"), nullptr);
    EXPECT_EQ(tasks_->calls().back(), "reset");
    EXPECT_EQ(rows("activated_snapshot_table") + rows("launched_snapshot_table"), "");

    manager_->clearAndDelete();
    settle();
    EXPECT_EQ(tasks_->calls().back(), "clearAndDelete");
    EXPECT_FALSE(std::filesystem::exists(exptest::databasePath()));
}

}  // namespace
