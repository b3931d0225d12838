#include "sdk/measurement/attribution/APMProductsRequest.h"

#include <utility>
#include <variant>

#include "sdk/measurement/engine/APMError.h"

void APMProductsRequest::requestProductsWithProductIdentifiers(
    const APMProductIdentifiers& productIdentifiers, const platform::QueueRef& queue,
    APMProductsCompletion completion) {
    if (!queue || !completion) {
        return;
    }
    std::shared_ptr<APMProductsRequest> request = initWithProductIdentifiers(productIdentifiers);
    if (!request) {
        queue->async([completion = std::move(completion)] {
            completion(std::nullopt, std::nullopt,
                       apm_errorWithCode(1, "Invalid product identifiers."));
        });
        return;
    }
    request->requestWithQueue(queue, std::move(completion));
}

std::shared_ptr<APMProductsRequest> APMProductsRequest::initWithProductIdentifiers(
    const APMProductIdentifiers& productIdentifiers) {
    const std::shared_ptr<platform::StoreProductsRequester> store =
        platform::StoreProductsRequester::shared();
    if (!store) {
        return nullptr;
    }
    std::unique_ptr<platform::StoreProductsRequest> request =
        store->createRequest(productIdentifiers);
    if (!request) {
        return nullptr;
    }
    return std::make_shared<APMProductsRequest>(Passkey(), std::move(request));
}

APMProductsRequest::APMProductsRequest(
    Passkey, std::unique_ptr<platform::StoreProductsRequest> productsRequest)
    : productsRequest_(std::move(productsRequest)) {}

void APMProductsRequest::requestWithQueue(const platform::QueueRef& queue,
                                          APMProductsCompletion completion) {
    if (!queue || !completion) {
        return;
    }
    platform::StoreProductsRequest* store = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (!productsRequest_ || completionHandler_) {
            return;
        }
        completionHandler_ = std::move(completion);
        queue_ = queue;
        store = productsRequest_.get();
    }
    // The store's completion holds this request until the answer has been passed on.
    store->start([self = shared_from_this()](platform::StoreProductsResult result) {
        if (auto* response = std::get_if<platform::StoreProductsResponse>(&result)) {
            self->productsRequestDidReceiveResponse(*response);
        } else {
            self->requestDidFailWithError(std::get<platform::StoreRequestError>(result));
        }
    });
}

void APMProductsRequest::productsRequestDidReceiveResponse(
    const platform::StoreProductsResponse& response) {
    if (auto taken = takeCompletion()) {
        APMProductsByIdentifier products;
        for (const platform::StoreProduct& product : response.products) {
            products.emplace(product.productIdentifier, product);
        }
        APMProductIdentifiers invalid(response.invalidProductIdentifiers.begin(),
                                      response.invalidProductIdentifiers.end());
        taken->first->async(
            [completion = std::move(taken->second), products = std::move(products),
             invalid = std::move(invalid)] { completion(products, invalid, sdk::Error()); });
    }
    clearInstance();
}

void APMProductsRequest::requestDidFailWithError(const platform::StoreRequestError& error) {
    if (auto taken = takeCompletion()) {
        sdk::Error failure(error.domain, error.code, error.message);
        taken->first->async([completion = std::move(taken->second), failure] {
            completion(std::nullopt, std::nullopt, failure);
        });
    }
    clearInstance();
}

void APMProductsRequest::clearInstance() {
    // The store's request is released after the lock, when `request` goes out of scope.
    std::unique_ptr<platform::StoreProductsRequest> request;
    std::lock_guard lock(mutex_);
    request = std::move(productsRequest_);
    completionHandler_ = nullptr;
    queue_ = nullptr;
}

std::optional<std::pair<platform::QueueRef, APMProductsCompletion>>
APMProductsRequest::takeCompletion() {
    std::lock_guard lock(mutex_);
    if (!queue_ || !completionHandler_) {
        return std::nullopt;
    }
    return std::make_pair(std::exchange(queue_, nullptr),
                          std::exchange(completionHandler_, nullptr));
}
