// The engine's own reports: the first open (once per install, again after a reset), app and OS
// updates, the stored campaign link, and the purchase de-duplication.
#include <cstdlib>
#include <fstream>
#include <future>

#include "platform/bundle/Bundle.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/storekit/StoreTransaction.h"
#include "sdk/measurement/engine/APMDeepLink.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/Command.h"

namespace {

namespace fs = std::filesystem;
using sdktest::EngineTest;

// The home the child process starts its engine in (its own start-up isolates it elsewhere).
constexpr const char* kChildHomeVariable = "CB_REPORTS_CHILD_HOME";

class ReportsTest : public EngineTest {
  protected:
    // These tests start as fresh installs: the start reports the first open.
    ReportsTest() { freshInstall_ = true; }

    // The parameter `name` of `event`; none when absent.
    static std::optional<APMValue> parameter(const APMEvent& event, const std::string& name) {
        const auto found = event.parameters().find(name);
        return found == event.parameters().end() ? std::nullopt : std::optional(found->second);
    }

    // Gives the fixture bundle a short version string and makes it the main bundle again.
    void setAppVersion(const std::string& version) {
        std::ofstream(bundle_.path() / "Contents" / "Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>CFBundleIdentifier</key><string>com.example.fixture</string>"
               "<key>CFBundleShortVersionString</key><string>"
            << version << "</string></dict></plist>\n";
        platform::Bundle::TEST_setMainBundle(bundle_.path());
    }

    static std::shared_ptr<APMPersistedConfig> persisted() {
        return APMPersistedConfig::sharedInstance();
    }
};

TEST(ReportsRounding, FirstOpenTimeMovesToTheNextWholeHour) {
    constexpr std::int64_t k10h = 1796896800000;  // a day at 10:00:00.000 UTC
    constexpr std::int64_t k11h = k10h + 3600000;
    struct Case {
        std::int64_t millis;
        std::int64_t rounded;
    };
    for (const Case& c : {Case{k10h + 20 * 60000, k11h}, Case{k10h, k11h},
                          Case{k10h + 3599999, k11h}, Case{k11h, k11h + 3600000}}) {
        EXPECT_EQ(APMMeasurement::timestampMillisRoundedUpToNextHour(c.millis), c.rounded)
            << c.millis;
    }
}

// Run by FirstStartReportsFirstOpenOnceAndStoresVersionsSilently in a child process: starts
// the engine again on the parent's data.
TEST_F(ReportsTest, ChildStartsAgain) {
    const char* home = std::getenv(kChildHomeVariable);
    if (home == nullptr) {
        GTEST_SKIP() << "runs only as the child of another test";
    }
    setenv("XDG_DATA_HOME", (fs::path(home) / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (fs::path(home) / "config").c_str(), 1);
    ASSERT_TRUE(startEngine(kAppID));
    EXPECT_TRUE(engine_->didInitializeComponents());
}

TEST_F(ReportsTest, FirstStartReportsFirstOpenOnceAndStoresVersionsSilently) {
    setAppVersion("2.0");
    ASSERT_TRUE(startEngine(kAppID));
    const std::vector<APMRawEventData> events = rawEvents();
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e"}));
    const APMEvent& firstOpen = events[0].rawEvent();
    EXPECT_EQ(parameter(firstOpen, "_pfo"), APMValue(std::int64_t{0}));
    EXPECT_EQ(parameter(firstOpen, "_uwa"), APMValue(std::int64_t{0}));
    EXPECT_EQ(parameter(firstOpen, "_pvap"), std::nullopt);
    EXPECT_EQ(parameter(events[1].rawEvent(), "_et"), APMValue(std::int64_t{1}));

    const std::int64_t startMillis = static_cast<std::int64_t>(engine_->initTimestamp() * 1000);
    const std::int64_t fot = (startMillis / 3600000 + 1) * 3600000;
    EXPECT_EQ(sqlite("SELECT name, value, origin FROM user_attributes ORDER BY name;"),
              "_fi|1|auto\n_fot|" + std::to_string(fot) + "|auto\n");
    EXPECT_EQ(persisted()->firstOpenTimestampMilliseconds(), startMillis);
    // The first run stores the versions without reporting an update.
    EXPECT_EQ(persisted()->appVersion(), "2.0");
    EXPECT_EQ(persisted()->osVersion(), VDUAppEnvironmentUtil::systemVersion());

    persisted()->userDefaults()->persistToDisk();  // what the scheduled write does a second later
    sdktest::ScopedEnv child(kChildHomeVariable, home().string());
    const platform::ProcessResult result =
        platform::ProcessRunner::shared().run(fs::read_symlink("/proc/self/exe").string(),
                                              {"--gtest_filter=ReportsTest.ChildStartsAgain"});
    ASSERT_TRUE(result.launched) << result.launchError;
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("[  PASSED  ] 1 test"), std::string::npos) << result.output;
    EXPECT_EQ(sqlite("SELECT name FROM raw_events ORDER BY rowid;"), "_f\n_e\n");
}

TEST_F(ReportsTest, FirstOpenAfterAResetCarriesThePreviousCountAndAppID) {
    ASSERT_TRUE(startEngine(kAppID));
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e"}));
    EXPECT_EQ(engine_->previousFirstOpenCount(), "1");
    persisted()->setAppIDFromVUD("1:222:macos:bb");

    ASSERT_TRUE(engine_->resetAnalyticsDataWithAppInstanceID("0123456789ABCDEF0123456789ABCDEF"));
    const std::vector<APMRawEventData> events = rawEvents();
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e"}));
    const APMEvent& firstOpen = events[0].rawEvent();
    EXPECT_EQ(parameter(firstOpen, "_pfo"), APMValue(std::int64_t{1}));
    EXPECT_EQ(parameter(firstOpen, "_uwa"), APMValue(std::int64_t{0}));
    EXPECT_EQ(parameter(firstOpen, "_pvap"), APMValue("1:222:macos:bb"));
    EXPECT_EQ(sqlite("SELECT value FROM user_attributes WHERE name = '_fi';"), "1\n");
    EXPECT_EQ(engine_->previousFirstOpenCount(), "2");
}

TEST_F(ReportsTest, FirstOpenTimestampIsTheFirstOpenPropertysOrTheEarliestOne) {
    ASSERT_TRUE(startEngine(kAppID));
    const auto firstOpenTimestamp = [&] {
        double answer = -1;
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(
            *engine_, [&] { answer = engine_->firstOpenTimestamp(); });
        return answer;
    };
    EXPECT_EQ(firstOpenTimestamp(), engine_->initTimestamp());
    sqlite(
        "UPDATE user_attributes SET set_timestamp = 5 WHERE name = '_fi';"
        "DELETE FROM user_attributes WHERE name = '_fot';");
    EXPECT_EQ(firstOpenTimestamp(), 5.0);
    sqlite("DELETE FROM user_attributes;");
    EXPECT_EQ(firstOpenTimestamp(), 0.0);
    EXPECT_EQ(countOf(23124), 1);
}

TEST_F(ReportsTest, ChangedAppAndOSVersionsAreReportedWithTheOldOnes) {
    setAppVersion("2.0");
    persisted()->setAppVersion("1.0");
    persisted()->setOSVersion("0.1-old");
    ASSERT_TRUE(startEngine(kAppID));
    const std::vector<APMRawEventData> events = rawEvents();
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e", "_au", "_ou"}));
    EXPECT_EQ(parameter(events[2].rawEvent(), "_pv"), APMValue("1.0"));
    EXPECT_EQ(parameter(events[3].rawEvent(), "_po"), APMValue("0.1-old"));
    EXPECT_EQ(persisted()->appVersion(), "2.0");
    EXPECT_EQ(persisted()->osVersion(), VDUAppEnvironmentUtil::systemVersion());
}

TEST_F(ReportsTest, FirstOpenReportsTheStoredCampaignLinkAndClearsIt) {
    APMUserDefaults& defaults = APMUserDefaults::sharedUserDefaults();
    APMStoreDeepLink(defaults, "https://example.com/?utm_source=mail");
    const double storedAt = defaults.doubleForKey(kAPMDeepLinkTimestampKey);
    ASSERT_TRUE(startEngine(kAppID));

    const std::vector<APMRawEventData> events = rawEvents();
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e", "_cmp"}));
    const APMEvent& campaign = events[2].rawEvent();
    EXPECT_EQ(parameter(campaign, "source"), APMValue("mail"));
    EXPECT_EQ(parameter(campaign, "click_timestamp"),
              APMValue(persisted()->firstOpenTimestampMilliseconds() - 1));
    const std::int64_t storedMillis = static_cast<std::int64_t>(storedAt * 1000);
    EXPECT_EQ(parameter(campaign, "_cc"), APMValue(storedMillis / 3600000 * 3600000 - 3600000));
    // The first open comes after the link was stored: the campaign takes its time.
    EXPECT_EQ(campaign.timestamp(),
              static_cast<double>(persisted()->firstOpenTimestampMilliseconds()) / 1000);
    EXPECT_FALSE(defaults.objectForKey(kAPMDeepLinkKey));
}

// A payment-queue transaction as the store hands it over.
platform::StoreTransaction transaction(platform::StoreTransactionState state, std::string product,
                                       std::optional<std::string> identifier) {
    platform::StoreTransaction t;
    t.transactionState = state;
    t.productIdentifier = std::move(product);
    t.transactionIdentifier = std::move(identifier);
    return t;
}

TEST_F(ReportsTest, PurchaseFilterDropsDuplicatesAndUnfinishedPurchases) {
    using State = platform::StoreTransactionState;
    ASSERT_TRUE(startEngine(kAppID));
    const auto filter = [&](std::vector<platform::StoreTransaction> transactions) {
        std::promise<std::pair<std::vector<std::string>, bool>> answer;
        engine_->filterPurchaseTransactions(
            std::move(transactions), [&](std::vector<platform::StoreTransaction> kept) {
                std::vector<std::string> products;
                for (const platform::StoreTransaction& t : kept) {
                    products.push_back(t.productIdentifier.value_or(""));
                }
                answer.set_value({products, platform::DispatchQueue::global()->isCurrent()});
            });
        return answer.get_future().get();
    };
    const auto first = filter({transaction(State::kPurchased, "gold", "T1"),
                               transaction(State::kRestored, "silver", "T2"),
                               transaction(State::kPurchased, "plain", ""),
                               transaction(State::kPurchased, "zero", "0000-00")});
    EXPECT_EQ(first.first, (std::vector<std::string>{"gold", "plain", "zero"}));
    EXPECT_TRUE(first.second);
    // Neither an empty identifier nor one of zeros has a fingerprint: both are kept unchecked.
    EXPECT_EQ(countOf(21016), 1);
    EXPECT_EQ(countOf(21017), 1);
    EXPECT_EQ(countOf(23139), 2);
    // The stored key is the purchase reporter's: the MD5 hex of the identifier.
    EXPECT_EQ(sqlite("SELECT fingerprint FROM purchase_transactions;"),
              cb::testsupport::commandOutput("printf %s T1 | openssl md5 -r | cut -c1-32"));
    const auto second = filter({transaction(State::kPurchased, "gold", "T1"),
                                transaction(State::kPurchased, "platinum", "T3")});
    EXPECT_EQ(second.first, std::vector<std::string>{"platinum"});
    EXPECT_EQ(countOf(23141), 1);
}

}  // namespace
