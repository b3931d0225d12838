#include "sdk/measurement/attribution/APMInAppPurchaseTransactionReporter.h"

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "sdk/measurement/attribution/APMPurchaseAmount.h"
#include "sdk/measurement/attribution/APMPurchaseDateText.h"
#include "sdk/measurement/engine/APMDigest.h"
#include "tests/sdk/measurement/attribution/APMInAppPurchaseTransactionReporterTestPeer.h"
#include "tests/sdk/measurement/attribution/ReporterTestSupport.h"
#include "tests/support/Command.h"

namespace {

using sdktest::kDay1;
using sdktest::receiptItem;

platform::StoreTransaction purchased(std::string productID, std::string transactionID,
                                     std::string originalTransactionID) {
    platform::StoreTransaction t;
    t.transactionState = platform::StoreTransactionState::kPurchased;
    t.productIdentifier = std::move(productID);
    t.transactionIdentifier = std::move(transactionID);
    t.originalTransactionIdentifier = std::move(originalTransactionID);
    t.transactionDate = kDay1;
    return t;
}

TEST(PurchaseReporterTest, RoadOneReportsPurchasedTransactionsAfterLookingUpTheirProducts) {
    sdktest::ReporterFixture fixture;
    fixture.writeReceipt({receiptItem("p", "1", "1", 1, kDay1)});
    platform::StoreTransaction failed = purchased("p", "2", "2");
    failed.transactionState = platform::StoreTransactionState::kFailed;
    platform::StoreTransaction noProduct = purchased("", "3", "3");
    fixture.reporter().paymentQueueUpdatedFilteredTransactions(
        {purchased("p", "1", "1"), failed, noProduct});

    const auto events = fixture.sink().waitForEvents(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "_iap");
    EXPECT_EQ(events[0].parameters.at("_skv"), APMValue("1"));
    EXPECT_EQ(events[0].parameters.at("value"), APMValue(std::int64_t{990000}));
    EXPECT_EQ(fixture.store()->requests(), std::vector<std::set<std::string>>{{"p"}});
    APMInAppPurchaseTransactionReporterTestPeer::waitForReports(fixture.reporter());
    EXPECT_FALSE(fixture.reporter().allPurchaseItems());
}

TEST(PurchaseReporterTest, RoadOneReportsNothingWhenTheLookupFails) {
    sdktest::ReporterFixture fixture;
    fixture.store()->failWith(platform::StoreRequestError{"store", 2, "offline"});
    sdktest::MonitorRecorder monitor;
    fixture.reporter().paymentQueueUpdatedFilteredTransactions({purchased("p", "1", "1")});
    for (int i = 0; i < 1000 && !monitor.saw(21027); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(monitor.saw(21027));
    APMInAppPurchaseTransactionReporterTestPeer::waitForReports(fixture.reporter());
    EXPECT_TRUE(fixture.sink().events().empty());
}

TEST(PurchaseReporterTest, AMissingOrEmptyReceiptLeavesThePreviousItems) {
    sdktest::ReporterFixture fixture;
    EXPECT_FALSE(fixture.reporter().parsePurchasedItemsFromReceipt());
    fixture.writeReceipt({receiptItem("p", "1", "1", 1, kDay1)});
    ASSERT_EQ(fixture.reporter().parsePurchasedItemsFromReceipt()->size(), 1u);
    fixture.writeReceipt({});
    EXPECT_EQ(fixture.reporter().parsePurchasedItemsFromReceipt()->size(), 1u);
    std::filesystem::remove(fixture.receiptPath());
    EXPECT_EQ(fixture.reporter().parsePurchasedItemsFromReceipt()->size(), 1u);
}

TEST(PurchaseReporterTest, ReportsOfBothRoadsStartedTogetherEachGetTheirOwnEvent) {
    sdktest::ReporterFixture fixture;
    fixture.store()->addProduct(sdktest::testProduct("q"));
    fixture.cacheProduct("p");
    fixture.cacheProduct("q");
    fixture.writeReceipt({receiptItem("p", "1", "1", 1, kDay1)});
    sdktest::Road2 verified;
    verified.productID = "q";
    verified.transactionID = "new";
    verified.originalTransactionID = "new";
    verified.isVerified = true;
    for (int round = 0; round < 100; ++round) {
        fixture.sink().clear();
        std::thread road2([&] { fixture.report(verified); });
        fixture.reporter().paymentQueueUpdatedFilteredTransactions({purchased("p", "1", "1")});
        road2.join();
        const auto events = fixture.sink().waitForEvents(2);
        ASSERT_EQ(events.size(), 2u) << "round " << round;
        for (const sdktest::LoggedEvent& event : events) {
            EXPECT_EQ(event.name, "_iap") << "round " << round << " product "
                                          << event.parameters.at("product_id").description();
        }
    }
}

TEST(PurchaseReporterTest, TheFingerprintIsTheMD5OfTheTransactionIdentifier) {
    sdktest::MonitorRecorder monitor;
    EXPECT_FALSE(APMInAppPurchaseTransactionReporter::transactionFingerprint(nullptr));
    EXPECT_TRUE(monitor.saw(21014));

    struct Case {
        std::optional<std::string> identifier;
        std::int64_t code;
    };
    for (const Case& c : {Case{std::nullopt, 21015}, Case{"", 21016}, Case{"0000-00", 21017}}) {
        platform::StoreTransaction t = purchased("p", "", "");
        t.transactionIdentifier = c.identifier;
        t.errorCode = 7;
        monitor.clear();
        EXPECT_FALSE(APMInAppPurchaseTransactionReporter::transactionFingerprint(&t));
        ASSERT_TRUE(monitor.saw(c.code)) << c.code;
        EXPECT_EQ(monitor.messages().back().level, 2);
        EXPECT_EQ(monitor.messages().back().contexts.at(0).description(), "7");
    }

    platform::StoreTransaction restored = purchased("p", "1000000123", "1");
    restored.transactionState = platform::StoreTransactionState::kRestored;
    EXPECT_FALSE(APMInAppPurchaseTransactionReporter::transactionFingerprint(&restored));

    const platform::StoreTransaction t = purchased("p", "1000000123", "1");
    const std::string openssl =
        cb::testsupport::commandOutput("printf %s 1000000123 | openssl md5 -r | cut -c1-32");
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::transactionFingerprint(&t),
              openssl.substr(0, 32));
}

TEST(PurchaseReporterTest, DedupeIDsAreTheLow64BitsOfTheMD5OfTheJoinedFields) {
    const std::string joined = "1000" + std::to_string(42) + "com.example.pro";
    EXPECT_EQ(APMPurchaseDedupeID("1000", 42, "com.example.pro"),
              apm_64LSBMD5(
                  std::span(reinterpret_cast<const std::uint8_t*>(joined.data()), joined.size())));
    EXPECT_EQ(APMPurchaseDedupeID("", 42, "p"), -1);
    EXPECT_EQ(APMPurchaseDedupeID("1", std::nullopt, ""), -1);
}

TEST(PurchaseReporterTest, DateTextIsWholeSecondsInGMTAndReadsBackOnlyInItsOwnForm) {
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::ia5StringFromDate(kDay1 + 0.75),
              "2024-01-05T10:00:00Z");
    EXPECT_FALSE(APMInAppPurchaseTransactionReporter::ia5StringFromDate(std::nullopt));
    EXPECT_EQ(APMPurchaseSecondsFromDateText("2024-01-05T10:00:00Z"), kDay1);
    EXPECT_EQ(APMPurchaseSecondsFromDateText("2024-01-05T12:30:00+02:30"), kDay1);
    EXPECT_EQ(APMPurchaseSecondsFromDateText("2024-01-05T07:00:00-03:00"), kDay1);
    for (const char* bad :
         {"", "2024-01-05T10:00:00", "2024-02-30T10:00:00Z", "2024-01-05 10:00:00Z",
          "2024-01-05T10:00:00+0200", "2024-01-05T24:00:00Z", "2024-01-05T10:00:00Zjunk"}) {
        EXPECT_FALSE(APMPurchaseSecondsFromDateText(bad)) << bad;
    }
}

TEST(PurchaseReporterTest, PricesAreExactDecimalProductsTruncatedAndSaturated) {
    EXPECT_EQ(APMMicrosFromDecimalPrice("0.99", 1), 990000);
    EXPECT_EQ(APMMicrosFromDecimalPrice("0.99", 3), 2970000);
    EXPECT_EQ(APMMicrosFromDecimalPrice("0.0000019", 1), 1);
    EXPECT_EQ(APMMicrosFromDecimalPrice("-0.0000019", 1), -1);
    EXPECT_EQ(APMMicrosFromDecimalPrice("19.99", -2), -39980000);
    EXPECT_EQ(APMMicrosFromDecimalPrice("99999999999999", 9223372036854775807),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(APMMicrosFromDecimalPrice("1", std::numeric_limits<std::int64_t>::min()),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(APMMicrosFromDecimalPrice("1e5", 1));
    EXPECT_FALSE(APMMicrosFromDecimalPrice("", 1));
}

}  // namespace
