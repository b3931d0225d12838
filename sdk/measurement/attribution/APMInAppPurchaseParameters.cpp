#include "sdk/measurement/attribution/APMInAppPurchaseParameters.h"

#include <algorithm>
#include <iterator>
#include <span>

#include "sdk/measurement/attribution/APMPurchaseAmount.h"
#include "sdk/measurement/attribution/APMPurchaseDateText.h"
#include "sdk/measurement/engine/APMDigest.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace {

const APMValue kOne{std::int64_t{1}};

void verbose(std::int64_t code, std::string_view message) {
    APMMonitor::shared().logWithLevel(8, code, message);
}

std::string_view orEmpty(const std::optional<std::string>& text) {
    return text ? std::string_view(*text) : std::string_view();
}

bool isOne(const APMParameters& parameters, std::string_view name) {
    const auto it = parameters.find(name);
    return it != parameters.end() && it->second == kOne;
}

// Both IDs of the call are given and differ.
bool idsDiffer(const std::optional<std::string>& transactionID,
               const std::optional<std::string>& originalTransactionID) {
    return !orEmpty(transactionID).empty() && !orEmpty(originalTransactionID).empty() &&
           *transactionID != *originalTransactionID;
}

std::optional<double> purchaseSeconds(const APMInAppPurchaseItem& item) {
    return item.purchaseDateIA5String ? APMPurchaseSecondsFromDateText(*item.purchaseDateIA5String)
                                      : std::nullopt;
}

// "sub_convert" when the purchase before `s` was a free trial, else "sub_renew"; nothing for
// a first purchase (equal transaction IDs).
void markRenewalKind(const APMInAppPurchaseItems& productItems, const APMInAppPurchaseItem& s,
                     APMParameters& parameters) {
    if (s.originalTransactionID == s.transactionID) {
        return;
    }
    const auto at = std::find(productItems.begin(), productItems.end(), s);
    const bool afterTrial =
        at != productItems.begin() && at != productItems.end() && std::prev(at)->freeTrial;
    parameters.insert_or_assign(afterTrial ? "sub_convert" : "sub_renew", kOne);
}

struct Call {
    const platform::StoreProduct& product;
    const std::optional<std::string>& transactionID;
    const std::optional<std::string>& originalTransactionID;
    std::optional<double> transactionDate;
};

void classifyAutoRenewable(const Call& call, const APMInAppPurchaseItems& productItems,
                           const APMInAppPurchaseItem& s, APMParameters& parameters) {
    if (s.originalTransactionID == s.transactionID) {
        parameters.insert_or_assign("subscription", kOne);
    }
    parameters.insert_or_assign(
        "_did", APMValue(APMPurchaseDedupeID(orEmpty(s.originalTransactionID), s.webOrderLineItemID,
                                             orEmpty(s.productID))));
    if (!s.freeTrial && !s.introductoryOffer) {
        verbose(40008, "Transaction of auto-renewable subscription will be reported");
        markRenewalKind(productItems, s, parameters);
        return;
    }
    if (s.freeTrial) {
        parameters.insert_or_assign("free_trial", kOne);
        if (idsDiffer(call.transactionID, call.originalTransactionID)) {
            verbose(40011,
                    "Repurchase of free-trial auto-renewable subscription will be reported as "
                    "invalid");
            parameters.insert_or_assign("invalid", kOne);
            return;
        }
        verbose(40009, "Transaction of free-trial auto-renewable subscription will be reported");
    }
    if (s.introductoryOffer) {
        parameters.insert_or_assign("price_is_discounted", kOne);
        markRenewalKind(productItems, s, parameters);
        verbose(40018, "Transaction of introductory offer will be reported");
    }
    verbose(40010, "Transaction of auto-renewable subscription renewal will be reported");
}

void classifySubscription(const Call& call, const APMInAppPurchaseItems& productItems,
                          APMParameters& parameters) {
    const APMInAppPurchaseItems sameTime =
        APMFilterPurchaseItems(productItems, {}, call.transactionDate)
            .value_or(APMInAppPurchaseItems{});
    if (sameTime.size() != 1) {
        if (sameTime.empty()) {
            APMMonitor::shared().logWithLevel(
                8, 40023, "Subscription transaction missing in receipt will be reported as invalid",
                call.product.productIdentifier);
        } else {
            APMMonitor::shared().logWithLevel(
                8, 40024,
                "Subscription transaction with duplicate transaction date will be reported as "
                "invalid",
                call.product.productIdentifier, static_cast<std::int64_t>(sameTime.size()));
        }
        parameters.insert_or_assign("invalid", kOne);
        parameters.insert_or_assign("subscription", kOne);
        return;
    }
    const APMInAppPurchaseItem& s = sameTime.front();
    if (s.purchaseType == 2) {
        parameters.insert_or_assign("subscription", kOne);
        parameters.insert_or_assign(
            "_did", APMValue(APMPurchaseDedupeID(orEmpty(s.originalTransactionID), std::nullopt,
                                                 orEmpty(s.productID))));
        verbose(40025, "Transaction of non-renewing subscription will be reported");
        return;
    }
    classifyAutoRenewable(call, productItems, s, parameters);
}

// Classifies the purchase against the receipt's items (steps 4 to 7 of a report).
void classify(const Call& call, const APMInAppPurchaseItems& items, APMParameters& parameters) {
    const std::optional<APMInAppPurchaseItems> productItems =
        APMFilterPurchaseItems(items, call.product.productIdentifier, std::nullopt);
    if (!productItems || productItems->empty()) {
        APMMonitor::shared().logWithLevel(
            8, 40020, "Transaction missing in receipt will be reported as invalid",
            call.product.productIdentifier);
        parameters.insert_or_assign("invalid", kOne);
        return;
    }
    const APMInAppPurchaseItem& item = productItems->back();
    if (item.purchaseType == 0 && idsDiffer(call.transactionID, call.originalTransactionID)) {
        verbose(40005, "Restore/repurchase of non-consumable item will be reported as invalid");
        parameters.insert_or_assign("invalid", kOne);
        return;
    }
    const bool subscription =
        item.purchaseType == 2 || item.purchaseType == 3 || item.webOrderLineItemID.has_value();
    if (subscription) {
        classifySubscription(call, *productItems, parameters);
        return;
    }
    if (item.transactionID != item.originalTransactionID) {
        verbose(40007,
                "Transaction with mismatched transaction ID and original transaction ID will be "
                "reported as consumable");
        return;
    }
    if (item.purchaseType == 1) {
        verbose(40021, "Transaction of consumable item will be reported");
    } else if (item.purchaseType == 0) {
        verbose(40022, "Transaction of non-consumable item will be reported");
    }
    parameters.insert_or_assign(
        "_did", APMValue(APMPurchaseDedupeID(orEmpty(item.originalTransactionID), std::nullopt,
                                             orEmpty(item.productID))));
}

// The four entries of a purchase that costs nothing now.
void applyFreePeriod(APMParameters& parameters) {
    const auto price = parameters.find("price");
    if (price == parameters.end()) {
        return;  // without a price there is no event anyway
    }
    parameters.insert_or_assign("original_price", price->second);
    parameters.insert_or_assign("price_is_discounted", kOne);
    parameters.insert_or_assign("price", APMValue(std::int64_t{0}));
    parameters.insert_or_assign("value", APMValue(std::int64_t{0}));
}

void applyDiscount(const platform::StoreProduct& product, std::int64_t quantity,
                   APMParameters& parameters) {
    if (isOne(parameters, "free_trial")) {
        applyFreePeriod(parameters);
        return;
    }
    if (!isOne(parameters, "price_is_discounted") || !product.introductoryPrice) {
        return;
    }
    const platform::StoreDiscount& discount = *product.introductoryPrice;
    if (discount.paymentMode == platform::StoreDiscountPaymentMode::kFreeTrial) {
        applyFreePeriod(parameters);
        return;
    }
    const auto price = parameters.find("price");
    const std::optional<std::int64_t> discounted =
        discount.price ? APMMicrosFromDecimalPrice(*discount.price, 1) : std::nullopt;
    if (!discounted || price == parameters.end()) {
        return;
    }
    parameters.insert_or_assign("original_price", price->second);
    parameters.insert_or_assign("price", APMValue(*discounted));
    if (quantity != 0) {
        if (const auto value = APMMicrosFromDecimalPrice(*discount.price, quantity)) {
            parameters.insert_or_assign("value", APMValue(*value));
        }
    }
}

// The product's own entries (step 2 of a report).
APMParameters productParameters(const platform::StoreProduct& product, std::int64_t quantity) {
    APMParameters parameters;
    parameters.insert_or_assign("product_id", APMValue(product.productIdentifier));
    if (const auto price =
            product.price ? APMMicrosFromDecimalPrice(*product.price, 1) : std::nullopt) {
        parameters.insert_or_assign("price", APMValue(*price));
        if (quantity != 0) {
            if (const auto value = APMMicrosFromDecimalPrice(*product.price, quantity)) {
                parameters.insert_or_assign("value", APMValue(*value));
                parameters.insert_or_assign("quantity", APMValue(quantity));
            }
        }
    }
    if (product.currencyCode) {
        parameters.insert_or_assign("currency", APMValue(*product.currencyCode));
    }
    if (product.localizedTitle) {
        parameters.insert_or_assign("product_name", APMValue(*product.localizedTitle));
    }
    return parameters;
}

}  // namespace

std::optional<APMInAppPurchaseItems> APMFilterPurchaseItems(const APMInAppPurchaseItems& items,
                                                            std::string_view productID,
                                                            std::optional<double> purchaseDate) {
    if (items.empty() || (productID.empty() && !purchaseDate)) {
        return std::nullopt;
    }
    APMInAppPurchaseItems result;
    for (const APMInAppPurchaseItem& item : items) {
        if ((productID.empty() || orEmpty(item.productID) == productID) &&
            (!purchaseDate || purchaseSeconds(item) == purchaseDate)) {
            result.push_back(item);
        }
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const APMInAppPurchaseItem& a, const APMInAppPurchaseItem& b) {
                         return purchaseSeconds(a) < purchaseSeconds(b);
                     });
    return result;
}

std::int64_t APMPurchaseDedupeID(std::string_view originalTransactionID,
                                 std::optional<std::uint64_t> webOrderLineItemID,
                                 std::string_view productID) {
    if (originalTransactionID.empty() || productID.empty()) {
        return -1;
    }
    std::string key(originalTransactionID);
    if (webOrderLineItemID) {
        key += std::to_string(*webOrderLineItemID);
    }
    key += productID;
    return apm_64LSBMD5(std::span(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()));
}

std::optional<APMParameters> APMInAppPurchaseParameters(
    const std::optional<platform::StoreProduct>& product, std::int64_t quantity,
    const std::optional<std::string>& transactionID,
    const std::optional<std::string>& originalTransactionID, std::optional<double> transactionDate,
    const APMInAppPurchaseItems& items) {
    if (!product) {
        verbose(40026, "IAP Transaction cannot be created from nil product");
        return std::nullopt;
    }
    if (product->productIdentifier.empty()) {
        verbose(40027, "IAP Transaction cannot be created from empty or nil product ID");
        return std::nullopt;
    }
    APMParameters parameters = productParameters(*product, quantity);
    if (orEmpty(transactionID).empty()) {
        verbose(40003, "Transaction ID cannot be nil or empty.");
    }
    classify(Call{*product, transactionID, originalTransactionID, transactionDate}, items,
             parameters);
    applyDiscount(*product, quantity, parameters);
    for (const char* required : {"price", "value", "currency", "product_id"}) {
        if (!parameters.contains(required)) {
            return std::nullopt;
        }
    }
    return parameters;
}
