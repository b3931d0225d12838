#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/attribution/APMProductsRequest.h"

// The store's product records by identifier, and the identifiers the store called invalid, so
// that a product is asked for once.
//
// Invariants (checked on the cache queue):
//   1. An identifier is never both a valid product and an invalid identifier.
//   2. The two collections hold at most 100 entries together once an update has run: an update
//      that would leave more replaces both by its own answer.
//
// Thread-safety: every member may be called from any thread; the collections live on the
// serial queue "com.vovidu.vud.measurement.iap-cache" (lookups wait for it, updates run there).
class APMInAppPurchaseProductCache
    : public std::enable_shared_from_this<APMInAppPurchaseProductCache> {
  public:
    // The process's one cache.
    static const std::shared_ptr<APMInAppPurchaseProductCache>& sharedInstance();

    // An empty cache of its own (the reporter's tests use one each).
    // REQUIRES: owned by a std::shared_ptr (a request holds the cache until its answer).
    APMInAppPurchaseProductCache();

    // The cached product of `productIdentifier`; none when it is not cached.
    std::optional<platform::StoreProduct> cachedProductForProductIdentifier(
        std::string_view productIdentifier);

    // Asks the store for `productIdentifiers`, updates the cache with the answer and then calls
    // `completion` asynchronously on `queue` with the answer as it came (a failure: none, none
    // and the error). Does nothing without a queue or a completion.
    void requestProductsWithProductIdentifiers(const APMProductIdentifiers& productIdentifiers,
                                               const platform::QueueRef& queue,
                                               APMProductsCompletion completion);

    // The most entries the two collections keep together.
    static constexpr std::size_t kMaxEntries = 100;

  private:
    // Tests look into the two collections through it.
    friend class APMInAppPurchaseProductCacheTestPeer;

    // Cache queue only.
    void updateOnLockQueue(const std::optional<APMProductsByIdentifier>& products,
                           const std::optional<APMProductIdentifiers>& invalid);

    APMProductIdentifiers invalidProductIdentifiers_;  // lockQueue_ only
    APMProductsByIdentifier validProducts_;            // lockQueue_ only
    const platform::QueueRef lockQueue_;
};
