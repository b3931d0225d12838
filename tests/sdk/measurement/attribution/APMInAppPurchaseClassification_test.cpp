// Purchases reported field by field (road 2), classified against the receipt's records.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sdk/measurement/attribution/APMInAppPurchaseParameters.h"
#include "tests/sdk/measurement/attribution/APMInAppPurchaseTransactionReporterTestPeer.h"
#include "tests/sdk/measurement/attribution/ReporterTestSupport.h"

namespace {

using sdktest::kDay0;
using sdktest::kDay1;
using sdktest::receiptItem;
using sdktest::Road2;

APMValue i64(std::int64_t v) {
    return APMValue(v);
}

APMInAppPurchaseItem with(APMInAppPurchaseItem item,
                          const std::function<void(APMInAppPurchaseItem&)>& change) {
    change(item);
    return item;
}

struct Row {
    const char* name;
    std::vector<APMInAppPurchaseItem> receipt;
    Road2 call;
    std::function<void(platform::StoreProduct&)> product;  // may be empty
    std::optional<std::string> event;                      // none: no event
    std::map<std::string, APMValue> expected;
    std::vector<std::string> absent;
    std::int64_t code = 0;  // a message the classification logs
};

std::vector<Row> rows() {
    const auto sub = [](std::string tx, std::string orig, double date) {
        return receiptItem("p", std::move(tx), std::move(orig), 3, date);
    };
    const auto freeTrial = [](APMInAppPurchaseItem& i) { i.freeTrial = true; };
    const auto introOffer = [](APMInAppPurchaseItem& i) { i.introductoryOffer = true; };
    Road2 renewal;
    renewal.transactionID = "2";
    Road2 noQuantity;
    noQuantity.quantity = 0;
    Road2 threeOf;
    threeOf.quantity = 3;
    Road2 sandbox;
    sandbox.environment = "Sandbox";
    return {
        {"consumable with equal IDs",
         {receiptItem("p", "1", "1", 1, kDay1)},
         {},
         {},
         "_iap",
         {{"_did", i64(APMPurchaseDedupeID("1", std::nullopt, "p"))},
          {"price", i64(990000)},
          {"value", i64(990000)},
          {"quantity", i64(1)},
          {"currency", APMValue("USD")},
          {"product_id", APMValue("p")},
          {"product_name", APMValue("Test product")},
          {"_skv", APMValue("2")}},
         {"invalid", "sandbox", "subscription"},
         40021},
        {"consumable with differing IDs",
         {receiptItem("p", "2", "1", 1, kDay1)},
         renewal,
         {},
         "_iap",
         {},
         {"_did"},
         40007},
        {"non-consumable",
         {receiptItem("p", "1", "1", 0, kDay1)},
         {},
         {},
         "_iap",
         {{"_did", i64(APMPurchaseDedupeID("1", std::nullopt, "p"))}},
         {},
         40022},
        {"non-consumable restore",
         {receiptItem("p", "2", "1", 0, kDay1)},
         renewal,
         {},
         "_iapx",
         {},
         {"invalid", "_did"},
         40005},
        {"missing from the receipt",
         {receiptItem("q", "1", "1", 1, kDay1)},
         {},
         {},
         "_iapx",
         {},
         {"invalid"},
         40020},
        {"non-renewing subscription",
         {receiptItem("p", "1", "1", 2, kDay1)},
         {},
         {},
         "_iap",
         {{"subscription", i64(1)}, {"_did", i64(APMPurchaseDedupeID("1", std::nullopt, "p"))}},
         {},
         40025},
        {"first auto-renewable purchase",
         {with(sub("1", "1", kDay1), [](auto& i) { i.webOrderLineItemID = 10; })},
         {},
         {},
         "_iap",
         {{"subscription", i64(1)}, {"_did", i64(APMPurchaseDedupeID("1", 10, "p"))}},
         {"sub_renew"},
         40008},
        {"renewal",
         {sub("1", "1", kDay0),
          with(sub("2", "1", kDay1), [](auto& i) { i.webOrderLineItemID = 11; })},
         renewal,
         {},
         "_assr",
         {{"_did", i64(APMPurchaseDedupeID("1", 11, "p"))}},
         {"subscription", "sub_renew"},
         40008},
        {"trial then paid",
         {with(sub("1", "1", kDay0), freeTrial), sub("2", "1", kDay1)},
         renewal,
         {},
         "_assc",
         {},
         {"sub_convert", "free_trial"},
         40008},
        {"free trial",
         {with(sub("1", "1", kDay1), freeTrial)},
         {},
         {},
         "_iap",
         {{"price", i64(0)},
          {"value", i64(0)},
          {"original_price", i64(990000)},
          {"price_is_discounted", i64(1)},
          {"free_trial", i64(1)},
          {"subscription", i64(1)}},
         {},
         40009},
        {"free trial bought again",
         {with(sub("2", "1", kDay1), freeTrial)},
         renewal,
         {},
         "_iapx",
         {{"free_trial", i64(1)}, {"price", i64(0)}},
         {"invalid"},
         40011},
        {"introductory offer",
         {with(sub("1", "1", kDay1), introOffer)},
         {},
         [](platform::StoreProduct& p) { p.introductoryPrice = platform::StoreDiscount{"0.49"}; },
         "_iap",
         {{"price", i64(490000)},
          {"value", i64(490000)},
          {"original_price", i64(990000)},
          {"price_is_discounted", i64(1)}},
         {"free_trial"},
         40018},
        {"introductory offer paid as a free trial",
         {with(sub("1", "1", kDay1), introOffer)},
         {},
         [](platform::StoreProduct& p) {
             p.introductoryPrice =
                 platform::StoreDiscount{"0.49", platform::StoreDiscountPaymentMode::kFreeTrial};
         },
         "_iap",
         {{"price", i64(0)}, {"value", i64(0)}, {"original_price", i64(990000)}},
         {},
         40018},
        {"two records at one date",
         {sub("1", "1", kDay1), sub("3", "3", kDay1)},
         {},
         {},
         "_iapx",
         {{"subscription", i64(1)}},
         {"invalid"},
         40024},
        {"no record at the date",
         {sub("1", "1", kDay0)},
         {},
         {},
         "_iapx",
         {{"subscription", i64(1)}},
         {},
         40023},
        {"quantity 3",
         {receiptItem("p", "1", "1", 1, kDay1)},
         threeOf,
         {},
         "_iap",
         {{"price", i64(990000)}, {"value", i64(2970000)}, {"quantity", i64(3)}},
         {},
         0},
        {"quantity 0",
         {receiptItem("p", "1", "1", 1, kDay1)},
         noQuantity,
         {},
         std::nullopt,
         {},
         {},
         0},
        {"no currency",
         {receiptItem("p", "1", "1", 1, kDay1)},
         {},
         [](platform::StoreProduct& p) { p.currencyCode.reset(); },
         std::nullopt,
         {},
         {},
         0},
        {"sandbox",
         {receiptItem("p", "1", "1", 1, kDay1)},
         sandbox,
         {},
         "_iap",
         {{"sandbox", i64(1)}},
         {},
         0},
    };
}

TEST(PurchaseClassificationTest, EachKindOfPurchaseGetsItsEventAndParameters) {
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name);
        platform::StoreProduct product = sdktest::testProduct("p");
        if (row.product) {
            row.product(product);
        }
        sdktest::ReporterFixture fixture(product);
        fixture.cacheProduct("p");
        fixture.writeReceipt(row.receipt);
        sdktest::MonitorRecorder monitor;
        fixture.report(row.call);
        APMInAppPurchaseTransactionReporterTestPeer::waitForReports(fixture.reporter());
        const std::vector<sdktest::LoggedEvent> events = fixture.sink().events();
        if (row.code != 0) {
            EXPECT_TRUE(monitor.saw(row.code));
        }
        if (!row.event) {
            EXPECT_TRUE(events.empty());
            continue;
        }
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].origin, "auto");
        EXPECT_EQ(events[0].name, *row.event);
        const APMParameters& parameters = events[0].parameters;
        for (const auto& [name, value] : row.expected) {
            const auto it = parameters.find(name);
            ASSERT_NE(it, parameters.end()) << name;
            EXPECT_EQ(it->second, value) << name << ": " << it->second.description();
        }
        for (const std::string& name : row.absent) {
            EXPECT_FALSE(parameters.contains(name)) << name;
        }
        EXPECT_EQ(parameters.at("_skv"), APMValue("2"));
    }
}

TEST(PurchaseClassificationTest, AVerifiedPurchaseMissingFromTheReceiptIsReportedAsItsOwnRecord) {
    sdktest::ReporterFixture fixture;
    fixture.cacheProduct("p");
    fixture.writeReceipt({receiptItem("q", "1", "1", 1, kDay1)});
    Road2 call;
    call.transactionID = "new";
    call.originalTransactionID = "new";
    call.isVerified = true;
    fixture.report(call);
    APMInAppPurchaseTransactionReporterTestPeer::waitForReports(fixture.reporter());

    const auto events = fixture.sink().events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "_iap");
    EXPECT_EQ(events[0].parameters.at("_did"), i64(APMPurchaseDedupeID("new", std::nullopt, "p")));
    const auto items = fixture.reporter().allPurchaseItems();
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[0].transactionID, "new");
    EXPECT_EQ((*items)[0].purchaseDateIA5String, "2024-01-05T10:00:00Z");
}

TEST(PurchaseClassificationTest, AProductNotCachedIsAskedForOnceAndAnUnknownOneReportsNothing) {
    sdktest::ReporterFixture fixture;
    fixture.writeReceipt({receiptItem("p", "1", "1", 1, kDay1)});
    fixture.report({});
    EXPECT_EQ(fixture.sink().waitForEvents(1).size(), 1u);

    sdktest::MonitorRecorder monitor;
    Road2 unknown;
    unknown.productID = "unknown";
    fixture.report(unknown);
    APMInAppPurchaseTransactionReporterTestPeer::waitForReports(fixture.reporter());
    // The lookup's answer comes back through the cache; wait for its message.
    for (int i = 0; i < 1000 && !monitor.saw(21027); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(monitor.saw(21027));
    EXPECT_EQ(fixture.sink().events().size(), 1u);
    EXPECT_EQ(fixture.store()->requests().size(), 2u);
}

}  // namespace
