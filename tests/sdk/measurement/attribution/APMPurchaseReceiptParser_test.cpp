#include "sdk/measurement/attribution/APMPurchaseReceiptParser.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/sdk/measurement/attribution/ReceiptBuilder.h"

namespace {

using sdktest::ReceiptBuilder;

struct Logged {
    std::int64_t level;
    std::int64_t code;
    std::int64_t value;
};

struct Parsed {
    std::vector<APMInAppPurchaseItem> items;
    std::vector<Logged> logged;
};

Parsed parse(const std::vector<std::uint8_t>& bytes) {
    Parsed parsed;
    parsed.items = APMParsePurchaseReceipt(
        bytes, [&](std::int64_t level, std::int64_t code, std::string_view, std::int64_t value) {
            parsed.logged.push_back({level, code, value});
        });
    return parsed;
}

APMInAppPurchaseItem fullItem() {
    APMInAppPurchaseItem item;
    item.freeTrial = true;
    item.introductoryOffer = false;
    item.subscriptionExpirationDateIA5String = "2024-02-05T10:00:00Z";
    item.productID = "com.example.pro";
    item.originalTransactionID = "1000";
    item.transactionID = "1001";
    item.webOrderLineItemID = 0x0102030405060708ULL;
    item.originalPurchaseDateIA5String = "2024-01-05T10:00:00Z";
    item.purchaseDateIA5String = "2024-01-06T10:00:00Z";
    item.cancellationDateIA5String = "2024-01-07T10:00:00Z";
    item.purchaseType = 3;
    return item;
}

TEST(PurchaseReceiptParserTest, ReadsEveryFieldOfARecordAndDropsRecordsWithoutAProduct) {
    APMInAppPurchaseItem noProduct;
    noProduct.transactionID = "9";
    APMInAppPurchaseItem second;
    second.productID = "gem";
    second.transactionID = "5";
    second.purchaseType = 1;
    const Parsed parsed =
        parse(ReceiptBuilder().item(fullItem()).item(noProduct).item(second).bytes());
    ASSERT_EQ(parsed.items.size(), 2u);
    EXPECT_EQ(parsed.items[0], fullItem());
    EXPECT_EQ(parsed.items[1], second);
    EXPECT_TRUE(parsed.logged.empty());
}

TEST(PurchaseReceiptParserTest, OddFieldValuesAreLoggedOrIgnored) {
    struct Case {
        const char* name;
        std::uint8_t typeLow;
        std::vector<std::uint8_t> value;
        std::int64_t code;  // 0: nothing logged
    };
    const Case cases[] = {
        {"free trial 2", 0xB1, {2}, 39025},
        {"introductory offer 7", 0xB7, {7}, 39028},
        {"free trial of two bytes", 0xB1, {1, 1}, 0},
        {"type of two bytes", 0xAB, {0, 1}, 0},
        {"line item 0", 0xAF, {0, 0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed parsed = parse(ReceiptBuilder()
                                        .record()
                                        .text(0xA6, ReceiptBuilder::kUTF8, "gem")
                                        .field(c.typeLow, ReceiptBuilder::kInteger, c.value)
                                        .bytes());
        ASSERT_EQ(parsed.items.size(), 1u);
        const APMInAppPurchaseItem& item = parsed.items[0];
        EXPECT_FALSE(item.freeTrial);
        EXPECT_FALSE(item.introductoryOffer);
        EXPECT_FALSE(item.purchaseType);
        EXPECT_FALSE(item.webOrderLineItemID);
        if (c.code == 0) {
            EXPECT_TRUE(parsed.logged.empty());
        } else {
            ASSERT_EQ(parsed.logged.size(), 1u);
            EXPECT_EQ(parsed.logged[0].code, c.code);
            EXPECT_EQ(parsed.logged[0].level, 5);
            EXPECT_EQ(parsed.logged[0].value, c.value[0]);
        }
    }
}

TEST(PurchaseReceiptParserTest, ALongFormLengthIsLoggedAndTakenAsTheLength) {
    const std::string longID(0x90, 'x');
    const Parsed parsed =
        parse(ReceiptBuilder().record().text(0xA6, ReceiptBuilder::kUTF8, longID).bytes());
    ASSERT_EQ(parsed.items.size(), 1u);
    EXPECT_EQ(parsed.items[0].productID, longID);
    ASSERT_EQ(parsed.logged.size(), 1u);
    EXPECT_EQ(parsed.logged[0].code, 39027);
    EXPECT_EQ(parsed.logged[0].value, 0x90);
}

TEST(PurchaseReceiptParserTest, AReceiptCutShortAnywhereGivesTheRecordsReadSoFar) {
    APMInAppPurchaseItem other = fullItem();
    other.productID = "second";
    const std::vector<std::uint8_t> whole = ReceiptBuilder().item(fullItem()).item(other).bytes();
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        // A copy of exactly `length` bytes, so the address sanitizer sees any read past it.
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + length);
        const Parsed parsed = parse(cut);
        ASSERT_LE(parsed.items.size(), 2u);
        if (!parsed.items.empty()) {
            EXPECT_EQ(parsed.items[0].productID, "com.example.pro");
        }
        if (parsed.items.size() == 2) {
            EXPECT_EQ(parsed.items[1].productID, "second");
        }
    }
    EXPECT_EQ(parse(whole).items.size(), 2u);
}

TEST(PurchaseReceiptParserTest, RandomBytesAndMangledRecordsNeverReadOutsideTheData) {
    std::mt19937 random(57);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::vector<std::uint8_t> valid = ReceiptBuilder().item(fullItem()).bytes();
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint8_t> bytes;
        if (round % 2 == 0) {
            bytes.resize(static_cast<std::size_t>(round % 97));
            for (auto& b : bytes) {
                b = static_cast<std::uint8_t>(byte(random));
            }
        } else {
            // A valid record with a few bytes (lengths among them) changed.
            bytes = valid;
            for (int flip = 0; flip < 3; ++flip) {
                bytes[static_cast<std::size_t>(random() % bytes.size())] =
                    static_cast<std::uint8_t>(byte(random));
            }
        }
        const Parsed parsed = parse(bytes);
        for (const APMInAppPurchaseItem& item : parsed.items) {
            EXPECT_TRUE(item.productID);
        }
    }
}

}  // namespace
