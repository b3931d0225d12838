#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/storekit/StoreProduct.h"

namespace platform {

// The store's answer to a products request.
struct StoreProductsResponse {
    std::vector<StoreProduct> products;
    std::vector<std::string> invalidProductIdentifiers;
};

// Why a products request failed, as the store reports it.
struct StoreRequestError {
    std::string domain;
    std::int64_t code = 0;
    std::string message;
};

using StoreProductsResult = std::variant<StoreProductsResponse, StoreRequestError>;

// One products request. `start` hands the request to the store; the completion runs exactly
// once, on any thread, with the response or the failure. The request may be destroyed once the
// completion has begun.
class StoreProductsRequest {
  public:
    virtual ~StoreProductsRequest() = default;
    virtual void start(std::function<void(StoreProductsResult)> completion) = 0;
};

// Makes products requests. The process has at most one (`shared`): none on this platform,
// where no store exists, so every lookup fails; tests install a fake with TEST_setShared.
//
// Thread-safety: `shared` and `TEST_setShared` may be called from any thread; an installed
// requester must accept `createRequest` from any thread.
class StoreProductsRequester {
  public:
    virtual ~StoreProductsRequester() = default;

    // A request for `productIdentifiers`, or null when the store refuses to make one.
    virtual std::unique_ptr<StoreProductsRequest> createRequest(
        const std::set<std::string>& productIdentifiers) = 0;

    // The process's requester; null when there is no store.
    static std::shared_ptr<StoreProductsRequester> shared();

    // Test hook: installs `requester` as the process's requester (null removes it).
    static void TEST_setShared(std::shared_ptr<StoreProductsRequester> requester);
};

}  // namespace platform
