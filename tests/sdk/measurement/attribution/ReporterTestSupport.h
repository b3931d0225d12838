#pragma once

#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sdk/measurement/attribution/APMInAppPurchaseTransactionReporter.h"
#include "sdk/measurement/engine/APMAEU.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/attribution/FakeStore.h"
#include "tests/sdk/measurement/attribution/ReceiptBuilder.h"
#include "tests/sdk/measurement/attribution/Waiting.h"
#include "tests/sdk/measurement/engine/APMAEUTesting.h"
#include "tests/support/TempDir.h"

namespace sdktest {

// 2024-01-05T10:00:00Z and the day before.
inline constexpr double kDay1 = 1704448800.0;
inline constexpr double kDay0 = kDay1 - 86400.0;

struct LoggedEvent {
    std::string origin;
    std::string name;
    APMParameters parameters;
};

// Collects what the reporter's internal-event hook receives.
class EventSink {
  public:
    APMInAppPurchaseTransactionReporter::InternalEventLogger logger() {
        return [this](std::string_view origin, std::string_view name, APMParameters parameters) {
            std::lock_guard lock(mutex_);
            events_.push_back({std::string(origin), std::string(name), std::move(parameters)});
            changed_.notify_all();
        };
    }
    // The events once there are at least `count` (fewer after the wait limit).
    std::vector<LoggedEvent> waitForEvents(std::size_t count) {
        waitFor(mutex_, changed_, [&] { return events_.size() >= count; });
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<LoggedEvent> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<LoggedEvent> events_;  // guarded by mutex_
};

// One receipt record with the IDs, type and purchase date given.
inline APMInAppPurchaseItem receiptItem(std::string productID, std::string transactionID,
                                        std::string originalTransactionID,
                                        std::int64_t purchaseType, double purchaseDate) {
    APMInAppPurchaseItem item;
    item.productID = std::move(productID);
    item.transactionID = std::move(transactionID);
    item.originalTransactionID = std::move(originalTransactionID);
    item.purchaseType = purchaseType;
    item.purchaseDateIA5String =
        APMInAppPurchaseTransactionReporter::ia5StringFromDate(purchaseDate);
    return item;
}

// The arguments of a road-2 report.
struct Road2 {
    std::string productID = "p";
    std::string transactionID = "1";
    std::string originalTransactionID = "1";
    std::optional<std::int64_t> webOrderLineItemID;
    std::int64_t productType = 1;
    bool isFreeTrial = false;
    bool isIntroductoryOffer = false;
    std::int64_t quantity = 1;
    std::optional<double> purchaseDate = kDay1;
    std::optional<std::string> environment;
    bool isVerified = false;
};

// A reporter of its own over a fake store selling "p" at 0.99 USD, a receipt file its reports
// read, and the events it logs.
class ReporterFixture {
  public:
    explicit ReporterFixture(platform::StoreProduct product = testProduct("p")) {
        store_->addProduct(product);
        reporter_->setInternalEventLogger(sink_.logger());
        TEST_APMSetAppStoreRURL(receiptPath());
    }
    ~ReporterFixture() { TEST_APMSetAppStoreRURL(std::nullopt); }
    ReporterFixture(const ReporterFixture&) = delete;
    ReporterFixture& operator=(const ReporterFixture&) = delete;

    std::filesystem::path receiptPath() const { return dir_ / "receipt"; }

    void writeReceipt(const std::vector<APMInAppPurchaseItem>& items) {
        ReceiptBuilder builder;
        for (const APMInAppPurchaseItem& item : items) {
            builder.item(item);
        }
        const std::vector<std::uint8_t>& bytes = builder.bytes();
        std::ofstream(receiptPath(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    // Puts `identifier` in the cache (as the store answers it), so reports of it run at once.
    void cacheProduct(const std::string& identifier) {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
        cache_->requestProductsWithProductIdentifiers(
            {identifier}, platform::DispatchQueue::global(), [&](auto, auto, sdk::Error) {
                std::lock_guard lock(mutex);
                done = true;
                changed.notify_all();
            });
        ASSERT_TRUE(waitFor(mutex, changed, [&] { return done; }));
    }

    void report(const Road2& r) {
        reporter_->reportTransactionWithProductID({.productID = r.productID,
                                                   .transactionID = r.transactionID,
                                                   .originalTransactionID = r.originalTransactionID,
                                                   .webOrderLineItemID = r.webOrderLineItemID,
                                                   .productType = r.productType,
                                                   .isFreeTrial = r.isFreeTrial,
                                                   .isIntroductoryOffer = r.isIntroductoryOffer,
                                                   .paymentQuantity = r.quantity,
                                                   .purchaseDate = r.purchaseDate,
                                                   .environment = r.environment,
                                                   .isVerified = r.isVerified});
    }

    APMInAppPurchaseTransactionReporter& reporter() { return *reporter_; }
    EventSink& sink() { return sink_; }
    ScopedFakeStore& store() { return store_; }

  private:
    cb::testsupport::TempDir dir_{"cb-iap"};
    ScopedFakeStore store_;
    std::shared_ptr<APMInAppPurchaseProductCache> cache_ =
        std::make_shared<APMInAppPurchaseProductCache>();
    std::shared_ptr<APMInAppPurchaseTransactionReporter> reporter_ =
        APMInAppPurchaseTransactionReporter::create(cache_);
    EventSink sink_;
};

}  // namespace sdktest
