// The remote configuration as an experiment client's delegate: registration, snapshot
// activation and the flags that override settings. The manager's callbacks come from another
// thread, as they do from the manager's queue.
#include <atomic>
#include <thread>

#include "tests/sdk/measurement/storage/RemoteConfigTestSupport.h"

namespace {

using sdktest::kAppID;
using sdktest::makeConfig;

// A client whose activations succeed or fail on demand and whose flags a test sets.
class FakeClient : public APMEClient {
  public:
    bool activateLatestSnapshot(sdk::Error* error) override {
        activations.fetch_add(1);
        if (failActivation.load()) {
            *error = sdk::Error("com.vovidu.vud.measurement.experiment.ErrorDomain", -2, "stale");
            return false;
        }
        std::lock_guard lock(mutex);
        active = pending;
        return true;
    }
    std::optional<sdk::Value> objectForKeyedSubscript(std::string_view name) override {
        std::lock_guard lock(mutex);
        auto it = active.find(std::string(name));
        return it == active.end() ? std::nullopt : std::optional<sdk::Value>(it->second);
    }
    void setDelegate(std::weak_ptr<APMEClientDelegate> d) override { delegate = std::move(d); }

    // Stores a snapshot with `flags` and tells the delegate, as the manager's queue would.
    void receiveSnapshot(std::map<std::string, sdk::Value> flags) {
        {
            std::lock_guard lock(mutex);
            pending = std::move(flags);
        }
        if (auto d = delegate.lock()) {
            d->clientDidReceiveNewSnapshot(*this);
        }
    }

    std::atomic<int> activations{0};
    std::atomic<bool> failActivation{false};
    std::weak_ptr<APMEClientDelegate> delegate;
    std::mutex mutex;
    std::map<std::string, sdk::Value> pending;  // guarded by mutex
    std::map<std::string, sdk::Value> active;   // guarded by mutex
};

class FakeManager : public APMEManager {
  public:
    std::shared_ptr<APMEClient> registerSDKProperty(
        std::shared_ptr<APMESDKProperty> p,
        const std::map<std::string, sdk::Value>& flags) override {
        property = std::move(p);
        defaultFlags = flags;
        return client;
    }
    std::vector<std::int64_t> experimentIDs() override { return {11, 12}; }
    void reset() override { resets += 1; }

    std::shared_ptr<FakeClient> client = std::make_shared<FakeClient>();
    std::shared_ptr<APMESDKProperty> property;
    std::map<std::string, sdk::Value> defaultFlags;
    int resets = 0;
};

class APMRemoteConfigExperimentsTest : public sdktest::RemoteConfigTest {
  protected:
    std::shared_ptr<FakeManager> manager_ = std::make_shared<FakeManager>();
};

TEST_F(APMRemoteConfigExperimentsTest, RegistersAndActivatesAtCreation) {
    auto remote = makeRemoteConfig(manager_);
    ASSERT_TRUE(manager_->property);
    EXPECT_EQ(manager_->property->name(), "div_edadevadeze");
    EXPECT_EQ(manager_->property->version(), 111500);
    EXPECT_EQ(manager_->property->delegate().lock(), remote);
    EXPECT_TRUE(manager_->defaultFlags.empty());
    EXPECT_EQ(manager_->client->delegate.lock(), remote);
    EXPECT_EQ(manager_->client->activations.load(), 1);
    EXPECT_FALSE(monitor_.saw(29023));
    EXPECT_EQ(remote->experimentIDs(), (std::vector<std::int64_t>{11, 12}));
    remote->reset();
    EXPECT_EQ(manager_->resets, 1);

    auto failing = std::make_shared<FakeManager>();
    failing->client->failActivation = true;
    makeRemoteConfig(failing);
    EXPECT_TRUE(monitor_.saw(29023));
}

TEST_F(APMRemoteConfigExperimentsTest, SnapshotFromAnotherThreadOverridesTheSettings) {
    auto remote = makeRemoteConfig(manager_);
    ASSERT_TRUE(remote->updateMeasurementConfig(
        makeConfig(kAppID, {{"measurement.customer_type_enabled", "1"}}).get()));
    EXPECT_TRUE(remote->customerTypeEnabled());
    EXPECT_FALSE(remote->sessionStitchingTokenFeatureEnabled());
    EXPECT_FALSE(remote->activateNewSnapshot());  // nothing pending

    // The worker keeps asking while the manager's thread delivers the snapshot.
    std::thread manager([&] {
        manager_->client->receiveSnapshot(
            {{"customer_type_enabled", sdk::Value(false)},
             {"session_stitching_token_feature_enabled", sdk::Value(1)}});
    });
    bool activated = false;
    for (int i = 0; i < 1000000 && !activated; ++i) {
        activated = remote->activateNewSnapshot();
    }
    manager.join();
    activated = activated || remote->activateNewSnapshot();
    EXPECT_TRUE(activated);
    EXPECT_FALSE(remote->customerTypeEnabled());
    EXPECT_TRUE(remote->sessionStitchingTokenFeatureEnabled());
    EXPECT_FALSE(remote->activateNewSnapshot());  // consumed
}

TEST_F(APMRemoteConfigExperimentsTest, FailedActivationStaysPending) {
    auto remote = makeRemoteConfig(manager_);
    manager_->client->failActivation = true;
    std::thread([&] { manager_->client->receiveSnapshot({{"customer_type_enabled", 0}}); }).join();
    EXPECT_FALSE(remote->activateNewSnapshot());
    EXPECT_TRUE(monitor_.saw(29024));
    EXPECT_TRUE(remote->customerTypeEnabled());

    manager_->client->failActivation = false;
    EXPECT_TRUE(remote->activateNewSnapshot());
    EXPECT_FALSE(remote->customerTypeEnabled());
}

TEST_F(APMRemoteConfigExperimentsTest, FetchErrorsAreLoggedAndFetchingWaitsForTheEngine) {
    auto remote = makeRemoteConfig(manager_);
    remote->clientDidReceiveFetchError(*manager_->client, sdk::Error());
    EXPECT_FALSE(monitor_.saw(29025));
    remote->clientDidReceiveFetchError(*manager_->client, sdk::Error("d", 1, "offline"));
    EXPECT_TRUE(monitor_.saw(29025));
    EXPECT_FALSE(remote->shouldFetchExperimentsForClient(*manager_->client));
}

}  // namespace
