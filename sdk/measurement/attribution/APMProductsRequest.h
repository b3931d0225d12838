#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/storekit/StoreProductsRequester.h"
#include "sdk/utilities/Error.h"

// Products by identifier, as a products request answers them.
using APMProductsByIdentifier = std::map<std::string, platform::StoreProduct>;
using APMProductIdentifiers = std::set<std::string>;

// The answer of a products request: the products and the identifiers the store called invalid,
// or, on failure, none of either and the error (ok() when there is none).
using APMProductsCompletion = std::function<void(
    std::optional<APMProductsByIdentifier> products,
    std::optional<APMProductIdentifiers> invalidProductIdentifiers, sdk::Error error)>;

// One products request to the store (platform::StoreProductsRequester::shared()).
//
// Lifetime: a started request keeps itself alive through the completion it hands the store,
// until its answer has been passed on; clearInstance then lets go of the store's request, the
// completion and the queue. Thread-safety: the store may answer on any thread; the answer only
// hops to the stored queue.
class APMProductsRequest : public std::enable_shared_from_this<APMProductsRequest> {
  public:
    // Asks the store for `productIdentifiers` and calls `completion` once, asynchronously on
    // `queue`. Does nothing without a queue or a completion. When the store makes no request
    // (there is no store here), the completion gets none, none and code 1 "Invalid product
    // identifiers.".
    static void requestProductsWithProductIdentifiers(
        const APMProductIdentifiers& productIdentifiers, const platform::QueueRef& queue,
        APMProductsCompletion completion);

    // A request for `productIdentifiers`; null when the store makes none.
    static std::shared_ptr<APMProductsRequest> initWithProductIdentifiers(
        const APMProductIdentifiers& productIdentifiers);

    // Stores the queue and the completion and starts the store's request. Does nothing without
    // both, or when already started.
    void requestWithQueue(const platform::QueueRef& queue, APMProductsCompletion completion);

    // The store's answers. Each passes its result to the stored completion on the stored queue
    // (when both are still there), then clearInstance.
    void productsRequestDidReceiveResponse(const platform::StoreProductsResponse& response);
    void requestDidFailWithError(const platform::StoreRequestError& error);

    void clearInstance();

    struct Passkey {
        explicit Passkey() = default;
    };
    APMProductsRequest(Passkey, std::unique_ptr<platform::StoreProductsRequest> productsRequest);

  private:
    // Takes the queue and the completion out; none when they are gone already.
    std::optional<std::pair<platform::QueueRef, APMProductsCompletion>> takeCompletion();

    std::mutex mutex_;
    std::unique_ptr<platform::StoreProductsRequest> productsRequest_;  // guarded by mutex_
    APMProductsCompletion completionHandler_;                          // guarded by mutex_
    platform::QueueRef queue_;                                         // guarded by mutex_
};
