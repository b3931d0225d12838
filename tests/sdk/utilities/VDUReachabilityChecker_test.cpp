#include "sdk/utilities/VDUReachabilityChecker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "platform/reachability/ReachabilityProbe.h"
#include "sdk/utilities/VDUNetwork.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;

struct RecordingDelegate : VDUReachabilityDelegate {
    void reachability(VDUReachabilityChecker&, std::int32_t status) override {
        statuses.push_back(status);
    }
    std::vector<std::int32_t> statuses;
};

// A replacement table that counts its calls; `failCreate` makes create return null.
struct FakeApi {
    int created = 0;
    int scheduled = 0;
    int unscheduled = 0;
    int released = 0;
    bool failCreate = false;
    VDUReachabilityCallback callback = nullptr;
    void* info = nullptr;
};
FakeApi fake;  // the table's functions cannot capture, so they share this

int fakeObject = 0;
const VDUReachabilityApi kFakeApi{
    [](const char*) -> VDUReachabilityRef {
        if (fake.failCreate) {
            return nullptr;
        }
        ++fake.created;
        return &fakeObject;
    },
    [](VDUReachabilityRef, VDUReachabilityCallback callback,
       const VDUReachabilityContext* context) {
        fake.callback = callback;
        fake.info = context->info;
        return true;
    },
    [](VDUReachabilityRef) { return ++fake.scheduled > 0; },
    [](VDUReachabilityRef) { return ++fake.unscheduled > 0; },
    [](VDUReachabilityRef) { ++fake.released; },
};

class ReachabilityCheckerTest : public ::testing::Test {
  protected:
    ReachabilityCheckerTest() {
        fake = FakeApi();
        VDULoggerSetLevel(VDULoggerLevelDebug);
        checker_ = VDUReachabilityChecker::create(delegate_, "example.invalid");
        checker_->setReachabilityApi(&kFakeApi);
    }

    // Delivers a reading the way the platform does: through the registered callback.
    void reading(std::uint32_t flags) { fake.callback(&fakeObject, flags, fake.info); }

    std::size_t count(const std::vector<std::string>& lines, const std::string& text) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    }

    sdktest::LoggedLines log_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::unique_ptr<VDUReachabilityChecker> checker_;
};

TEST_F(ReachabilityCheckerTest, StatusForFlags) {
    const std::pair<std::uint32_t, std::int32_t> table[] = {
        {0x2, 2}, {0x0, 1}, {0x6, 1}, {0xE, 2}, {0x1E, 1}, {0x26, 2}, {0x36, 1}, {0x4, 1}};
    for (const auto& [flags, status] : table) {
        EXPECT_EQ(checker_->statusForFlags(flags), status) << std::hex << flags;
    }
}

TEST_F(ReachabilityCheckerTest, EmptyHostIsRefusedWithALogLine) {
    log_.take();
    EXPECT_EQ(VDUReachabilityChecker::create(delegate_, ""), nullptr);
    const auto lines = log_.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[VDUReachability][I-REA902001] Invalid host specified"),
              std::string::npos)
        << lines[0];
}

TEST_F(ReachabilityCheckerTest, ChangesReachTheDelegateOncePerStatus) {
    ASSERT_TRUE(checker_->start());
    EXPECT_EQ(checker_->reachabilityStatus(), 0);  // nothing is read at start
    log_.take();
    reading(0x2);
    reading(0x6 | 0x8);  // another reading of "connected"
    reading(0x0);
    EXPECT_EQ(delegate_->statuses, (std::vector<std::int32_t>{2, 1}));
    const auto lines = log_.take();
    EXPECT_EQ(count(lines, "[I-REA902004] Network status has changed. Code:2, status:Connected"),
              1u);
    EXPECT_EQ(count(lines, "Code:1, status:Disconnected"), 1u);
}

TEST_F(ReachabilityCheckerTest, StartTwiceMakesOneObjectAndLogsTwice) {
    log_.take();
    EXPECT_TRUE(checker_->start());
    EXPECT_TRUE(checker_->start());
    EXPECT_EQ(fake.created, 1);
    EXPECT_EQ(fake.scheduled, 1);
    EXPECT_TRUE(checker_->isActive());
    EXPECT_EQ(count(log_.take(), "[I-REA902003] Monitoring the network status"), 2u);
    checker_->setReachabilityApi(VDUDefaultReachabilityApi());  // refused while running
    EXPECT_EQ(checker_->reachabilityApi(), &kFakeApi);
    EXPECT_EQ(count(log_.take(), "[I-REA902000] Cannot change reachability API"), 1u);
}

TEST_F(ReachabilityCheckerTest, NullObjectMakesStartFailSilently) {
    fake.failCreate = true;
    log_.take();
    EXPECT_FALSE(checker_->start());
    EXPECT_FALSE(checker_->isActive());
    EXPECT_TRUE(log_.take().empty());
}

TEST_F(ReachabilityCheckerTest, StopResetsTheStatusWithoutTellingTheDelegate) {
    ASSERT_TRUE(checker_->start());
    reading(0x2);
    checker_->stop();
    EXPECT_EQ(checker_->reachabilityStatus(), 0);
    EXPECT_EQ(delegate_->statuses, (std::vector<std::int32_t>{2}));
    EXPECT_EQ(fake.unscheduled, 1);
    EXPECT_EQ(fake.released, 1);
    EXPECT_EQ(checker_->reachability(), nullptr);
    checker_.reset();  // destroying a stopped checker unschedules nothing more
    EXPECT_EQ(fake.unscheduled, 1);
}

// The real probe, on routing tables written by the test.
class ReachabilityProbeTest : public ::testing::Test {
  protected:
    struct Listener : VDUNetworkReachabilityDelegate {
        void reachabilityDidChange() override { ++changes; }
        int changes = 0;
    };

    ReachabilityProbeTest() {
        setRoutes(false);
        platform::ReachabilityProbe::TEST_setRouteFiles(dir_ / "route", dir_ / "ipv6_route");
    }
    ~ReachabilityProbeTest() override { platform::ReachabilityProbe::TEST_setRouteFiles({}, {}); }

    void setRoutes(bool withDefault) {
        std::ofstream(dir_ / "route")
            << "Iface\tDestination\tGateway "
               "\tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
            << (withDefault ? "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                            : "");
        std::ofstream(dir_ / "ipv6_route").flush();
    }

    bool waitForChanges(int count) {
        return platform::runMainQueueUntil([&] { return listener_->changes >= count; }, 10s);
    }

    static platform::ReachabilityProbe& probeOf(VDUNetwork& network) {
        return *static_cast<platform::ReachabilityProbe*>(
            network.reachabilityChecker().reachability());
    }

    cb::testsupport::TempDir dir_;
    std::shared_ptr<Listener> listener_ = std::make_shared<Listener>();
};

TEST_F(ReachabilityProbeTest, DefaultRouteComingAndGoing) {
    setRoutes(true);
    std::shared_ptr<VDUNetwork> network = VDUNetwork::createWithReachabilityHost("example.invalid");
    ASSERT_NE(network, nullptr);
    network->setReachabilityDelegate(listener_);
    EXPECT_FALSE(network->isNetworkConnected());  // until the first reading
    ASSERT_TRUE(waitForChanges(1));
    EXPECT_EQ(network->reachabilityChecker().reachabilityStatus(), 2);
    EXPECT_TRUE(network->isNetworkConnected());

    setRoutes(false);
    probeOf(*network).TEST_rereadNow();
    ASSERT_TRUE(waitForChanges(2));
    EXPECT_EQ(network->reachabilityChecker().reachabilityStatus(), 1);
    EXPECT_FALSE(network->isNetworkConnected());
    platform::drainMainQueue();
    EXPECT_EQ(listener_->changes, 2);
}

TEST_F(ReachabilityProbeTest, LoopbackHostIsReachableWithoutRoutes) {
    std::shared_ptr<VDUNetwork> network = VDUNetwork::createWithReachabilityHost("localhost");
    ASSERT_NE(network, nullptr);
    network->setReachabilityDelegate(listener_);
    ASSERT_TRUE(waitForChanges(1));
    EXPECT_EQ(network->reachabilityChecker().reachabilityStatus(), 2);
    EXPECT_TRUE(network->isNetworkConnected());
    EXPECT_EQ(probeOf(*network).readFlags(), platform::kReachabilityFlagReachable);
}

TEST_F(ReachabilityProbeTest, ReadingQueuedBeforeStopIsDropped) {
    std::atomic<int> queued{0};
    platform::setMainQueueWakeup([&] { ++queued; });
    std::shared_ptr<VDUNetwork> network = VDUNetwork::createWithReachabilityHost("localhost");
    ASSERT_NE(network, nullptr);
    network->setReachabilityDelegate(listener_);
    while (queued.load() == 0) {  // the probe's first reading is on the main queue
        std::this_thread::yield();
    }
    platform::setMainQueueWakeup({});
    network.reset();  // stops the probe and frees the checker the reading points at
    EXPECT_GE(platform::drainMainQueue(), 1u);
    EXPECT_EQ(listener_->changes, 0);
}

}  // namespace
