#include "sdk/measurement/attribution/APMInAppPurchaseProductCache.h"

#include <cassert>
#include <utility>

const std::shared_ptr<APMInAppPurchaseProductCache>&
APMInAppPurchaseProductCache::sharedInstance() {
    static const auto* const shared = new std::shared_ptr<APMInAppPurchaseProductCache>(
        std::make_shared<APMInAppPurchaseProductCache>());  // lives for the process
    return *shared;
}

APMInAppPurchaseProductCache::APMInAppPurchaseProductCache()
    : lockQueue_(platform::DispatchQueue::createSerial("com.vovidu.vud.measurement.iap-cache")) {}

std::optional<platform::StoreProduct>
APMInAppPurchaseProductCache::cachedProductForProductIdentifier(
    std::string_view productIdentifier) {
    std::optional<platform::StoreProduct> product;
    lockQueue_->sync([&] {
        if (const auto it = validProducts_.find(std::string(productIdentifier));
            it != validProducts_.end()) {
            product = it->second;
        }
    });
    return product;
}

void APMInAppPurchaseProductCache::requestProductsWithProductIdentifiers(
    const APMProductIdentifiers& productIdentifiers, const platform::QueueRef& queue,
    APMProductsCompletion completion) {
    if (!queue || !completion) {
        return;
    }
    APMProductsRequest::requestProductsWithProductIdentifiers(
        productIdentifiers, lockQueue_,
        [self = shared_from_this(), queue, completion = std::move(completion)](
            std::optional<APMProductsByIdentifier> products,
            std::optional<APMProductIdentifiers> invalid, sdk::Error error) {
            self->updateOnLockQueue(products, invalid);
            queue->async([completion, products = std::move(products), invalid = std::move(invalid),
                          error = std::move(error)] { completion(products, invalid, error); });
        });
}

void APMInAppPurchaseProductCache::updateOnLockQueue(
    const std::optional<APMProductsByIdentifier>& products,
    const std::optional<APMProductIdentifiers>& invalid) {
    const APMProductsByIdentifier newProducts = products.value_or(APMProductsByIdentifier{});
    const APMProductIdentifiers newInvalid = invalid.value_or(APMProductIdentifiers{});
    for (const auto& [identifier, product] : newProducts) {
        validProducts_.insert_or_assign(identifier, product);
    }
    for (const std::string& identifier : newInvalid) {
        validProducts_.erase(identifier);
        invalidProductIdentifiers_.insert(identifier);
    }
    for (const auto& entry : newProducts) {
        invalidProductIdentifiers_.erase(entry.first);
    }
    if (validProducts_.size() + invalidProductIdentifiers_.size() > kMaxEntries) {
        validProducts_ = newProducts;
        invalidProductIdentifiers_ = newInvalid;
    }
    // An identifier the answer gives both ways is kept as neither (as the steps above leave it).
    for (const std::string& identifier : newInvalid) {
        if (newProducts.contains(identifier)) {
            validProducts_.erase(identifier);
            invalidProductIdentifiers_.erase(identifier);
        }
    }
    for ([[maybe_unused]] const std::string& identifier : invalidProductIdentifiers_) {
        assert(!validProducts_.contains(identifier));
    }
}
