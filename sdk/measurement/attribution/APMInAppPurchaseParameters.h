#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/storekit/StoreProduct.h"
#include "sdk/measurement/attribution/APMInAppPurchaseItem.h"
#include "sdk/measurement/engine/APMValue.h"

// How a purchase is classified against the receipt's purchase records. Pure apart from the
// monitor messages (APMMonitor::shared()); safe from any thread.

using APMInAppPurchaseItems = std::vector<APMInAppPurchaseItem>;

// The items of `productID` (when not empty), bought at `purchaseDate` (when given; the item's
// date text must name exactly that second), sorted by purchase date, oldest first (items
// whose date cannot be read first). None when `items` is empty or neither test is given.
std::optional<APMInAppPurchaseItems> APMFilterPurchaseItems(const APMInAppPurchaseItems& items,
                                                            std::string_view productID,
                                                            std::optional<double> purchaseDate);

// The dedupe ID of a purchase: apm_64LSBMD5 of the UTF-8 bytes of the original transaction ID,
// the line item's decimal digits (when given) and the product ID; -1 when either ID is empty.
std::int64_t APMPurchaseDedupeID(std::string_view originalTransactionID,
                                 std::optional<std::uint64_t> webOrderLineItemID,
                                 std::string_view productID);

// The parameters of one purchase of `quantity` x `product`, classified against `items`, or none
// (without a product, a product ID, a price, a value, or a currency). The entries "invalid",
// "sub_renew" and "sub_convert" are for the event building, which turns them into the event's
// name.
std::optional<APMParameters> APMInAppPurchaseParameters(
    const std::optional<platform::StoreProduct>& product, std::int64_t quantity,
    const std::optional<std::string>& transactionID,
    const std::optional<std::string>& originalTransactionID, std::optional<double> transactionDate,
    const APMInAppPurchaseItems& items);
