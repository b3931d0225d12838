#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "sdk/measurement/attribution/APMInAppPurchaseProductCache.h"

// What tests reach of APMInAppPurchaseProductCache beyond its public interface. Each call waits
// for the cache queue, where the collections live. REQUIRES: not called on that queue.
class APMInAppPurchaseProductCacheTestPeer {
  public:
    // The number of cached products.
    static std::size_t validProductCount(APMInAppPurchaseProductCache& cache) {
        std::size_t count = 0;
        cache.lockQueue_->sync([&] { count = cache.validProducts_.size(); });
        return count;
    }

    // Whether `identifier` is held as invalid.
    static bool isInvalidProductIdentifier(APMInAppPurchaseProductCache& cache,
                                           std::string_view identifier) {
        bool invalid = false;
        cache.lockQueue_->sync(
            [&] { invalid = cache.invalidProductIdentifiers_.contains(std::string(identifier)); });
        return invalid;
    }
};
