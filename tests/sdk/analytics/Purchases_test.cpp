// Purchases end to end: transactions through the analytics interface and the facade's payment
// queue hook reach the purchase reporter, its events are stored as raw events, and every
// purchase moves the lifetime value the engine keeps in its database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <mutex>
#include <thread>

#include "sdk/analytics/REROdazadeve.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/measurement/attribution/APMInAppPurchaseTransactionReporter.h"
#include "sdk/measurement/engine/APMAEU.h"
#include "tests/sdk/analytics/ConfiguredAnalyticsTest.h"
#include "tests/sdk/measurement/attribution/FakeStore.h"
#include "tests/sdk/measurement/attribution/ReceiptBuilder.h"
#include "tests/sdk/measurement/engine/APMAEUTesting.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace {

using ::testing::ElementsAre;

// 2024-01-05T10:00:00Z.
constexpr double kPurchaseDate = 1704448800.0;

class PurchasesTest : public sdktest::ConfiguredAnalyticsTest {
  protected:
    void SetUp() override {
        ConfiguredAnalyticsTest::SetUp();
        store_->addProduct(sdktest::testProduct("coins"));
        TEST_APMSetAppStoreRURL(dir_ / "receipt");
    }
    void TearDown() override {
        ConfiguredAnalyticsTest::TearDown();
        TEST_APMSetAppStoreRURL(std::nullopt);
    }

    // A receipt of consumable "coins" purchases, one per transaction ID (its own original).
    void writeReceipt(const std::vector<std::string>& transactionIDs) {
        sdktest::ReceiptBuilder builder;
        for (const std::string& id : transactionIDs) {
            APMInAppPurchaseItem item;
            item.productID = "coins";
            item.transactionID = id;
            item.originalTransactionID = id;
            item.purchaseType = 1;
            item.purchaseDateIA5String =
                APMInAppPurchaseTransactionReporter::ia5StringFromDate(kPurchaseDate);
            builder.item(item);
        }
        const std::vector<std::uint8_t>& bytes = builder.bytes();
        std::ofstream(dir_ / "receipt", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    // The stored raw events named `name` once there are `count` of them (fewer after 10 s):
    // purchase reports wait for product lookups on other queues.
    static std::vector<APMEvent> waitForStoredEvents(std::string_view name, std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<APMEvent> found;
        while (true) {
            found.clear();
            for (const APMRawEventData& data : rawEvents()) {
                if (data.rawEvent().name() == name) {
                    found.push_back(data.rawEvent());
                }
            }
            if (found.size() >= count || std::chrono::steady_clock::now() > deadline) {
                return found;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // What the sqlite3 tool prints for `sql` on the engine's database.
    static std::string sqlite(const std::string& sql) {
        settle();
        const std::string database = std::string(std::getenv("XDG_DATA_HOME")) +
                                     "/Vovidu/Measurement/vovidu-app-measurement.sql";
        return cb::testsupport::commandOutput("sqlite3 '" + database + "' \"" + sql + "\"");
    }

    // The lifetime-value properties: "name|value|origin" lines.
    static std::string lifetimeValues() {
        return sqlite(
            "SELECT name, value, origin FROM user_attributes WHERE name LIKE '!_ltv!_%' ESCAPE "
            "'!' ORDER BY name");
    }

    static void reportVerified(const std::string& transactionID) {
        REROdazadeve::logTransactionWithProductID({.productID = "coins",
                                                   .transactionID = transactionID,
                                                   .originalTransactionID = transactionID,
                                                   .productType = 1,
                                                   .paymentQuantity = 1,
                                                   .purchaseDate = kPurchaseDate,
                                                   .isVerified = true});
    }

    static platform::StoreTransaction paymentQueueTransaction(platform::StoreTransactionState state,
                                                              const std::string& id) {
        platform::StoreTransaction transaction;
        transaction.transactionState = state;
        transaction.productIdentifier = "coins";
        transaction.transactionIdentifier = id;
        transaction.originalTransactionIdentifier = id;
        transaction.transactionDate = kPurchaseDate;
        return transaction;
    }

    static std::string text(const APMEvent& event, std::string_view name) {
        const auto it = event.parameters().find(name);
        return it == event.parameters().end() || !it->second.stringValue()
                   ? "(none)"
                   : *it->second.stringValue();
    }
    static std::int64_t number(const APMEvent& event, std::string_view name) {
        const auto it = event.parameters().find(name);
        return it == event.parameters().end() ? -1 : it->second.int64Value();
    }

    cb::testsupport::TempDir dir_{"cb-purchases"};
    sdktest::ScopedFakeStore store_;
};

TEST_F(PurchasesTest, ATransactionPassedInIsStoredAsAPurchaseAndAddsToTheLifetimeValue) {
    writeReceipt({"1000000001"});
    std::mutex mutex;
    std::vector<std::string> heard;
    REROdazadeve::addLogEventListener([&](const APMEvent& event) {
        std::lock_guard lock(mutex);
        heard.push_back(event.name());
    });
    ZEDOre::configure();

    reportVerified("1000000001");
    std::vector<APMEvent> purchases = waitForStoredEvents("_iap", 1);
    ASSERT_EQ(purchases.size(), 1u);
    const APMEvent& purchase = purchases[0];
    EXPECT_EQ(purchase.origin(), "auto");
    EXPECT_EQ(text(purchase, "product_id"), "coins");
    EXPECT_EQ(text(purchase, "currency"), "USD");
    EXPECT_EQ(number(purchase, "price"), 990000);
    EXPECT_EQ(number(purchase, "value"), 990000);
    EXPECT_EQ(text(purchase, "_skv"), "2");
    EXPECT_NE(purchase.parameters().count("_did"), 0u);
    EXPECT_EQ(lifetimeValues(), "_ltv_USD|990000|auto\n");
    {
        std::lock_guard lock(mutex);
        EXPECT_NE(std::find(heard.begin(), heard.end(), "_iap"), heard.end());
    }

    // A verified transaction the receipt does not hold yet is reported as a valid purchase too.
    reportVerified("1000000002");
    ASSERT_EQ(waitForStoredEvents("_iap", 2).size(), 2u);
    EXPECT_EQ(lifetimeValues(), "_ltv_USD|1980000|auto\n");
}

TEST_F(PurchasesTest, PaymentQueueTransactionsAreReportedOnceAndOnlyWhenPurchased) {
    using State = platform::StoreTransactionState;
    writeReceipt({"2000000001", "2000000003"});
    ZEDOre::configure();

    APMAnalytics::paymentQueueUpdatedTransactions(
        {paymentQueueTransaction(State::kPurchased, "2000000001"),
         paymentQueueTransaction(State::kFailed, "2000000002")});
    std::vector<APMEvent> purchases = waitForStoredEvents("_iap", 1);
    ASSERT_EQ(purchases.size(), 1u);
    EXPECT_EQ(text(purchases[0], "_skv"), "1");
    EXPECT_EQ(number(purchases[0], "value"), 990000);

    // The same transaction again is a known duplicate; a new one still gets through.
    APMAnalytics::paymentQueueUpdatedTransactions(
        {paymentQueueTransaction(State::kPurchased, "2000000001")});
    APMAnalytics::paymentQueueUpdatedTransactions(
        {paymentQueueTransaction(State::kPurchased, "2000000003")});
    ASSERT_EQ(waitForStoredEvents("_iap", 2).size(), 2u);
    // The duplicate was dropped by the engine's filter, before the later transaction's turn.
    EXPECT_EQ(countOf(23141), 1);
    EXPECT_EQ(waitForStoredEvents("_iap", 0).size(), 2u);
    EXPECT_EQ(lifetimeValues(), "_ltv_USD|1980000|auto\n");
    EXPECT_EQ(sqlite("SELECT count(*) FROM purchase_transactions"), "2\n");

    // While collection is disabled the hook leaves the transactions alone.
    APMAnalytics::setAnalyticsEnabled(false);
    APMAnalytics::paymentQueueUpdatedTransactions(
        {paymentQueueTransaction(State::kPurchased, "2000000004")});
    settle();
    EXPECT_EQ(sqlite("SELECT count(*) FROM purchase_transactions"), "2\n");
}

TEST_F(PurchasesTest, EcommerceEventsMoveTheLifetimeValueAndUnboundedAmountsAreNotWritten) {
    ZEDOre::configure();
    REROdazadeve::logEventWithName(
        "purchase",
        sdk::Value::Dictionary{{"value", sdk::Value(3.0)}, {"currency", sdk::Value("usd")}});
    EXPECT_EQ(lifetimeValues(), "_ltv_USD|3000000|auto\n");
    REROdazadeve::logEventWithName(
        "refund",
        sdk::Value::Dictionary{{"value", sdk::Value(2.5)}, {"currency", sdk::Value("usd")}});
    EXPECT_EQ(lifetimeValues(), "_ltv_USD|500000|auto\n");

    // 1e13 units are beyond the int64 range in micros; an amount that would carry the stored
    // total past it is refused the same way. Neither event is written.
    REROdazadeve::logEventWithName(
        "purchase",
        sdk::Value::Dictionary{{"value", sdk::Value(1e13)}, {"currency", sdk::Value("USD")}});
    APMAnalytics::logInternalEventWithOrigin(
        "auto", "_iap",
        {{"value", sdk::Value(std::numeric_limits<std::int64_t>::max())},
         {"currency", sdk::Value("USD")}});
    settle();
    EXPECT_EQ(countOf(22002), 2);
    EXPECT_EQ(countOf(23053), 2);
    EXPECT_EQ(lifetimeValues(), "_ltv_USD|500000|auto\n");
    std::vector<std::string> purchases;
    for (const APMRawEventData& data : rawEvents()) {
        const std::string& name = data.rawEvent().name();
        if (name == "purchase" || name == "refund" || name == "_iap") {
            purchases.push_back(name);
        }
    }
    EXPECT_THAT(purchases, ElementsAre("purchase", "refund"));
}

}  // namespace
