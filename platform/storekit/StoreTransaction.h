#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The states of a store transaction, numbered as the store numbers them.
enum class StoreTransactionState : std::int64_t {
    kPurchasing = 0,
    kPurchased = 1,
    kFailed = 2,
    kRestored = 3,
    kDeferred = 4,
};

// One payment-queue transaction as the store hands it over: a plain value, safe to copy between
// threads. Optional fields are absent where the store gives nil.
struct StoreTransaction {
    StoreTransactionState transactionState = StoreTransactionState::kPurchasing;
    // The payment's product identifier and quantity.
    std::optional<std::string> productIdentifier;
    std::int64_t quantity = 1;
    std::optional<std::string> transactionIdentifier;
    // The identifier of the original transaction (of a restore or renewal).
    std::optional<std::string> originalTransactionIdentifier;
    // Seconds since 1970.
    std::optional<double> transactionDate;
    // The code of the transaction's error; 0 for none.
    std::int64_t errorCode = 0;
};

}  // namespace platform
