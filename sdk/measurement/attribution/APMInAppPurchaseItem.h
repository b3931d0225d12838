#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One purchase record of the app's store receipt, or one a report made from a transaction the
// app passed in. A plain value. Dates are date text (APMPurchaseDateText.h).
struct APMInAppPurchaseItem {
    bool freeTrial = false;
    bool introductoryOffer = false;
    std::optional<std::string> subscriptionExpirationDateIA5String;
    std::optional<std::string> productID;
    std::optional<std::string> originalTransactionID;
    std::optional<std::string> transactionID;
    // Present for subscription renewals; never 0.
    std::optional<std::uint64_t> webOrderLineItemID;
    std::optional<std::string> originalPurchaseDateIA5String;
    std::optional<std::string> purchaseDateIA5String;
    std::optional<std::string> cancellationDateIA5String;
    // 0 non-consumable, 1 consumable, 2 non-renewing subscription, 3 auto-renewable
    // subscription; absent when the record gives no type.
    std::optional<std::int64_t> purchaseType;

    bool operator==(const APMInAppPurchaseItem&) const = default;
};
