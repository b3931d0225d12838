#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// How an introductory offer is paid, numbered as the store numbers them.
enum class StoreDiscountPaymentMode : std::int64_t {
    kPayAsYouGo = 0,
    kPayUpFront = 1,
    kFreeTrial = 2,
};

// A product's introductory offer.
struct StoreDiscount {
    // The offer's price as a decimal string ("0.49"); absent when the store gives none.
    std::optional<std::string> price;
    StoreDiscountPaymentMode paymentMode = StoreDiscountPaymentMode::kPayAsYouGo;
};

// One product record of the store: a plain value, safe to copy between threads.
struct StoreProduct {
    std::string productIdentifier;
    // The price as a decimal string ("0.99"); absent when the store gives none.
    std::optional<std::string> price;
    // The price locale's three-letter currency code.
    std::optional<std::string> currencyCode;
    std::optional<std::string> localizedTitle;
    std::optional<StoreDiscount> introductoryPrice;
};

}  // namespace platform
