#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One purchase transaction as the app passes it in, field by field, for the purchase reporter's
// road 2; the facade hands it on unchanged. A plain value; dates are seconds since 1970. The
// optional fields start empty, so a caller names only the fields it has.
struct APMPurchaseTransaction {
    std::string productID;
    std::string transactionID;
    std::string originalTransactionID;
    // Present for subscription renewals.
    std::optional<std::int64_t> webOrderLineItemID = std::nullopt;
    // 0 non-consumable, 1 consumable, 2 non-renewing subscription, 3 auto-renewable
    // subscription.
    std::int64_t productType = 0;
    bool isFreeTrial = false;
    bool isIntroductoryOffer = false;
    std::int64_t paymentQuantity = 0;
    std::optional<double> purchaseDate = std::nullopt;
    std::optional<double> originalPurchaseDate = std::nullopt;
    std::optional<double> subscriptionExpirationDate = std::nullopt;
    std::optional<double> cancellationDate = std::nullopt;
    std::optional<std::string> environment = std::nullopt;
    // The store's own verification result for the transaction.
    bool isVerified = false;
};
