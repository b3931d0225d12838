#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/storekit/StoreTransaction.h"
#include "sdk/measurement/attribution/APMInAppPurchaseParameters.h"
#include "sdk/measurement/attribution/APMInAppPurchaseProductCache.h"
#include "sdk/measurement/attribution/APMPurchaseTransaction.h"

// Turns store purchases into internal events of origin "auto": "_iap" (reportable), "_iapx"
// (classed as invalid), "_assr" (a subscription renewal) and "_assc" (a free trial converted
// to a paid subscription). Two roads lead here: payment-queue transactions the engine has
// already filtered for duplicates (road 1, "_skv" "1"), and transactions the app passes in
// field by field (road 2, "_skv" "2"). Each report prices the purchase from the product cache
// and classifies it against the purchase records of the app's store receipt.
//
// Design notes:
// 1. Every report runs on the reporter's one serial queue, so reports never interleave. Each
//    parses the receipt into its own item list and classifies against that list, so a road-2
//    item it inserted cannot be lost to a road-1 batch that started at the same moment.
// 2. allPurchaseItems records the last parse: none until the receipt is first read, none again
//    after a road-1 batch, and after road 2 the parsed items with its inserted item first. A
//    missing or empty receipt leaves it as it was.
// 3. Events leave through the internal-event hook; until the facade installs one, nothing is
//    logged.
//
// Thread-safety: every public member may be called from any thread.
class APMInAppPurchaseTransactionReporter
    : public std::enable_shared_from_this<APMInAppPurchaseTransactionReporter> {
  public:
    // Receives each purchase event: origin, name and parameters. Runs on the report queue.
    using InternalEventLogger =
        std::function<void(std::string_view origin, std::string_view name, APMParameters)>;

    // The process's reporter, over the shared product cache.
    static const std::shared_ptr<APMInAppPurchaseTransactionReporter>& sharedInstance();

    // A reporter of its own over `productCache` (tests use one each).
    static std::shared_ptr<APMInAppPurchaseTransactionReporter> create(
        std::shared_ptr<APMInAppPurchaseProductCache> productCache);

    // The hook events leave through (the facade's internal-event entry); empty drops them.
    void setInternalEventLogger(InternalEventLogger logger);

    // Road 1: the transactions that survived the engine's fingerprint filter. Reports the
    // purchased ones with a product identifier once their products are cached, asking the
    // store for the missing ones first (a failed lookup logs 21027 and reports nothing).
    void paymentQueueUpdatedFilteredTransactions(
        std::vector<platform::StoreTransaction> transactions);

    // Reports each transaction of a road-1 batch against a fresh parse of the receipt, then
    // clears allPurchaseItems. REQUIRES: called on the report queue.
    void reportTransactionsFromArray(const std::vector<platform::StoreTransaction>& transactions);

    // Road 2: one transaction the app passes in. Dates are seconds since 1970. A verified
    // transaction missing from the receipt is reported as if the receipt held it. Returns at
    // once; the report runs on the report queue.
    void reportTransactionWithProductID(APMPurchaseTransaction transaction);

    // Reads the receipt (APMAEU::appStoreRURL()) into allPurchaseItems and returns them (21028
    // at level 7). Without a receipt file, or with an empty or unreadable one, allPurchaseItems
    // stays as it was and is returned.
    std::optional<APMInAppPurchaseItems> parsePurchasedItemsFromReceipt();

    // The dedupe key of a purchased transaction: the MD5 hex of its identifier. None for no
    // transaction (21014), another state (silently), and an identifier that is missing (21015),
    // empty (21016) or made only of "0" and "-" (21017); those log at level 2 with the error code.
    static std::optional<std::string> transactionFingerprint(
        const platform::StoreTransaction* transaction);

    // The date text of a date (whole seconds, GMT); none for none.
    static std::optional<std::string> ia5StringFromDate(std::optional<double> date);

    std::optional<APMInAppPurchaseItems> allPurchaseItems() const;

    // The largest receipt file read; a larger one counts as unreadable.
    static constexpr std::uintmax_t kMaxReceiptBytes = 16 * 1024 * 1024;

    struct Passkey {
        explicit Passkey() = default;
    };
    APMInAppPurchaseTransactionReporter(Passkey,
                                        std::shared_ptr<APMInAppPurchaseProductCache> productCache);

  private:
    // Tests wait for the report queue through it.
    friend class APMInAppPurchaseTransactionReporterTestPeer;

    // The event-building operation: builds the parameters against `items` and logs the event.
    void logPurchaseEvent(const std::optional<platform::StoreProduct>& product,
                          std::int64_t quantity, const std::optional<std::string>& transactionID,
                          const std::optional<std::string>& originalTransactionID,
                          std::optional<double> transactionDate,
                          const std::optional<std::string>& environment,
                          std::string_view storeKitVersion, const APMInAppPurchaseItems& items);
    // Road 2 on the report queue: classifies `item` against a fresh parse of the receipt (with
    // `item` inserted first when verified and missing), once its product is known.
    void reportItem(const APMInAppPurchaseItem& item, std::int64_t quantity,
                    std::optional<double> purchaseDate,
                    const std::optional<std::string>& environment, bool isVerified);
    void setAllPurchaseItems(std::optional<APMInAppPurchaseItems> items);

    const std::shared_ptr<APMInAppPurchaseProductCache> productCache_;
    const platform::QueueRef reportQueue_;

    mutable std::mutex mutex_;
    std::optional<APMInAppPurchaseItems> allPurchaseItems_;  // guarded by mutex_
    InternalEventLogger internalEventLogger_;                // guarded by mutex_
};
