#include "sdk/measurement/attribution/APMInAppPurchaseTransactionReporter.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

#include "sdk/measurement/attribution/APMPurchaseDateText.h"
#include "sdk/measurement/attribution/APMPurchaseReceiptParser.h"
#include "sdk/measurement/engine/APMAEU.h"
#include "sdk/measurement/engine/APMDigest.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace {

const APMValue kOne{std::int64_t{1}};

// The receipt file's bytes; none when it is missing, unreadable or larger than `maxBytes`.
std::optional<std::vector<std::uint8_t>> readReceipt(const std::filesystem::path& path,
                                                     std::uintmax_t maxBytes) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > maxBytes) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in && !in.eof()) {
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

bool isSandbox(const std::optional<std::string>& environment) {
    std::string lower = environment.value_or("");
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "sandbox" || lower == "xcode" || APMAEU::isASRS();
}

// Moves `name` out of the parameters; whether it was 1.
bool takeFlag(APMParameters& parameters, std::string_view name) {
    const auto it = parameters.find(name);
    if (it == parameters.end()) {
        return false;
    }
    const bool one = it->second == kOne;
    parameters.erase(it);
    return one;
}

void logLookupFailure(const sdk::Error& error) {
    APMMonitor::shared().logWithLevel(1, 21027, "Cannot request product information. Error", error);
}

}  // namespace

const std::shared_ptr<APMInAppPurchaseTransactionReporter>&
APMInAppPurchaseTransactionReporter::sharedInstance() {
    static const auto* const shared = new std::shared_ptr<APMInAppPurchaseTransactionReporter>(
        create(APMInAppPurchaseProductCache::sharedInstance()));  // lives for the process
    return *shared;
}

std::shared_ptr<APMInAppPurchaseTransactionReporter> APMInAppPurchaseTransactionReporter::create(
    std::shared_ptr<APMInAppPurchaseProductCache> productCache) {
    return std::make_shared<APMInAppPurchaseTransactionReporter>(Passkey(),
                                                                 std::move(productCache));
}

APMInAppPurchaseTransactionReporter::APMInAppPurchaseTransactionReporter(
    Passkey, std::shared_ptr<APMInAppPurchaseProductCache> productCache)
    : productCache_(std::move(productCache)),
      reportQueue_(platform::DispatchQueue::createSerial("APMInAppPurchaseTransactionReporter")) {}

void APMInAppPurchaseTransactionReporter::setInternalEventLogger(InternalEventLogger logger) {
    std::lock_guard lock(mutex_);
    internalEventLogger_ = std::move(logger);
}

void APMInAppPurchaseTransactionReporter::paymentQueueUpdatedFilteredTransactions(
    std::vector<platform::StoreTransaction> transactions) {
    std::vector<platform::StoreTransaction> kept;
    APMProductIdentifiers missing;
    for (platform::StoreTransaction& transaction : transactions) {
        if (transaction.transactionState != platform::StoreTransactionState::kPurchased ||
            transaction.productIdentifier.value_or("").empty()) {
            continue;
        }
        if (!productCache_->cachedProductForProductIdentifier(*transaction.productIdentifier)) {
            missing.insert(*transaction.productIdentifier);
        }
        kept.push_back(std::move(transaction));
    }
    if (kept.empty()) {
        return;
    }
    std::weak_ptr<APMInAppPurchaseTransactionReporter> weak = weak_from_this();
    if (missing.empty()) {
        reportQueue_->async([weak, kept = std::move(kept)] {
            if (const auto self = weak.lock()) {
                self->reportTransactionsFromArray(kept);
            }
        });
        return;
    }
    productCache_->requestProductsWithProductIdentifiers(
        missing, reportQueue_,
        [weak, kept = std::move(kept)](std::optional<APMProductsByIdentifier> products,
                                       std::optional<APMProductIdentifiers>, sdk::Error error) {
            if (!error.ok() && (!products || products->empty())) {
                logLookupFailure(error);
                return;
            }
            if (const auto self = weak.lock()) {
                self->reportTransactionsFromArray(kept);
            }
        });
}

void APMInAppPurchaseTransactionReporter::reportTransactionsFromArray(
    const std::vector<platform::StoreTransaction>& transactions) {
    const APMInAppPurchaseItems items =
        parsePurchasedItemsFromReceipt().value_or(APMInAppPurchaseItems{});
    for (const platform::StoreTransaction& transaction : transactions) {
        const std::optional<platform::StoreProduct> product =
            productCache_->cachedProductForProductIdentifier(
                transaction.productIdentifier.value_or(""));
        logPurchaseEvent(product, transaction.quantity, transaction.transactionIdentifier,
                         transaction.originalTransactionIdentifier, transaction.transactionDate,
                         std::nullopt, "1", items);
    }
    setAllPurchaseItems(std::nullopt);
}

void APMInAppPurchaseTransactionReporter::reportTransactionWithProductID(
    APMPurchaseTransaction transaction) {
    APMInAppPurchaseItem item;
    item.freeTrial = transaction.isFreeTrial;
    item.introductoryOffer = transaction.isIntroductoryOffer;
    item.purchaseDateIA5String = ia5StringFromDate(transaction.purchaseDate);
    item.originalPurchaseDateIA5String = ia5StringFromDate(transaction.originalPurchaseDate);
    item.subscriptionExpirationDateIA5String =
        ia5StringFromDate(transaction.subscriptionExpirationDate);
    item.cancellationDateIA5String = ia5StringFromDate(transaction.cancellationDate);
    item.productID = std::move(transaction.productID);
    item.originalTransactionID = std::move(transaction.originalTransactionID);
    item.transactionID = std::move(transaction.transactionID);
    if (transaction.webOrderLineItemID) {
        item.webOrderLineItemID = static_cast<std::uint64_t>(*transaction.webOrderLineItemID);
    }
    item.purchaseType = transaction.productType;
    std::weak_ptr<APMInAppPurchaseTransactionReporter> weak = weak_from_this();
    reportQueue_->async([weak, item = std::move(item), quantity = transaction.paymentQuantity,
                         purchaseDate = transaction.purchaseDate,
                         environment = std::move(transaction.environment),
                         isVerified = transaction.isVerified] {
        if (const auto self = weak.lock()) {
            self->reportItem(item, quantity, purchaseDate, environment, isVerified);
        }
    });
}

void APMInAppPurchaseTransactionReporter::reportItem(const APMInAppPurchaseItem& item,
                                                     std::int64_t quantity,
                                                     std::optional<double> purchaseDate,
                                                     const std::optional<std::string>& environment,
                                                     bool isVerified) {
    APMInAppPurchaseItems items =
        parsePurchasedItemsFromReceipt().value_or(APMInAppPurchaseItems{});
    const bool inReceipt = std::any_of(items.begin(), items.end(), [&](const auto& known) {
        return known.transactionID == item.transactionID;
    });
    if (isVerified && !inReceipt) {
        items.insert(items.begin(), item);
        setAllPurchaseItems(items);
    }
    // Whole seconds in GMT, as the receipt's dates are.
    const std::optional<std::string> dateText = ia5StringFromDate(purchaseDate);
    const std::optional<double> date =
        dateText ? APMPurchaseSecondsFromDateText(*dateText) : std::nullopt;
    const std::string& productID = *item.productID;
    if (const auto product = productCache_->cachedProductForProductIdentifier(productID)) {
        logPurchaseEvent(product, quantity, item.transactionID, item.originalTransactionID, date,
                         environment, "2", items);
        return;
    }
    std::weak_ptr<APMInAppPurchaseTransactionReporter> weak = weak_from_this();
    productCache_->requestProductsWithProductIdentifiers(
        {productID}, reportQueue_,
        [weak, item, quantity, date, environment, items](
            std::optional<APMProductsByIdentifier> products, std::optional<APMProductIdentifiers>,
            sdk::Error error) {
            if (!products || products->empty()) {
                logLookupFailure(error);
                return;
            }
            if (const auto self = weak.lock()) {
                self->logPurchaseEvent(products->begin()->second, quantity, item.transactionID,
                                       item.originalTransactionID, date, environment, "2", items);
            }
        });
}

void APMInAppPurchaseTransactionReporter::logPurchaseEvent(
    const std::optional<platform::StoreProduct>& product, std::int64_t quantity,
    const std::optional<std::string>& transactionID,
    const std::optional<std::string>& originalTransactionID, std::optional<double> transactionDate,
    const std::optional<std::string>& environment, std::string_view storeKitVersion,
    const APMInAppPurchaseItems& items) {
    std::optional<APMParameters> parameters = APMInAppPurchaseParameters(
        product, quantity, transactionID, originalTransactionID, transactionDate, items);
    if (!parameters || parameters->empty()) {
        return;
    }
    std::string name = takeFlag(*parameters, "invalid") ? "_iapx" : "_iap";
    if (isSandbox(environment)) {
        parameters->insert_or_assign("sandbox", kOne);
    }
    if (takeFlag(*parameters, "sub_renew")) {
        name = "_assr";
    }
    if (takeFlag(*parameters, "sub_convert")) {
        name = "_assc";
    }
    parameters->insert_or_assign("_skv", APMValue(std::string(storeKitVersion)));
    InternalEventLogger logger;
    {
        std::lock_guard lock(mutex_);
        logger = internalEventLogger_;
    }
    if (logger) {
        logger("auto", name, std::move(*parameters));
    }
}

std::optional<APMInAppPurchaseItems>
APMInAppPurchaseTransactionReporter::parsePurchasedItemsFromReceipt() {
    const std::optional<std::filesystem::path> url = APMAEU::appStoreRURL();
    const std::optional<std::vector<std::uint8_t>> receipt =
        url ? readReceipt(*url, kMaxReceiptBytes) : std::nullopt;
    if (!receipt || receipt->empty()) {
        return allPurchaseItems();
    }
    APMInAppPurchaseItems items = APMParsePurchaseReceipt(
        *receipt,
        [](std::int64_t level, std::int64_t code, std::string_view message, std::int64_t value) {
            APMMonitor::shared().logWithLevel(level, code, message, value);
        });
    setAllPurchaseItems(items);
    APMMonitor::shared().logWithLevel(7, 21028, "Parsed purchase items from receipt");
    return items;
}

std::optional<std::string> APMInAppPurchaseTransactionReporter::transactionFingerprint(
    const platform::StoreTransaction* transaction) {
    if (transaction == nullptr) {
        APMMonitor::shared().logWithLevel(2, 21014, "Transaction is nil");
        return std::nullopt;
    }
    if (transaction->transactionState != platform::StoreTransactionState::kPurchased) {
        return std::nullopt;
    }
    const std::optional<std::string>& identifier = transaction->transactionIdentifier;
    APMMonitor& monitor = APMMonitor::shared();
    if (!identifier) {
        monitor.logWithLevel(2, 21015, "Transaction identifier is nil. Code",
                             transaction->errorCode);
    } else if (identifier->empty()) {
        monitor.logWithLevel(2, 21016, "Transaction identifier is empty. Code",
                             transaction->errorCode);
    } else if (identifier->find_first_not_of("0-") == std::string::npos) {
        monitor.logWithLevel(2, 21017, "Transaction identifier is only zeroes. Code",
                             transaction->errorCode);
    } else {
        return apm_MD5String(*identifier);
    }
    return std::nullopt;
}

std::optional<std::string> APMInAppPurchaseTransactionReporter::ia5StringFromDate(
    std::optional<double> date) {
    return APMPurchaseDateTextFromSeconds(date);
}

std::optional<APMInAppPurchaseItems> APMInAppPurchaseTransactionReporter::allPurchaseItems() const {
    std::lock_guard lock(mutex_);
    return allPurchaseItems_;
}

void APMInAppPurchaseTransactionReporter::setAllPurchaseItems(
    std::optional<APMInAppPurchaseItems> items) {
    std::lock_guard lock(mutex_);
    allPurchaseItems_ = std::move(items);
}
