#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/storekit/StoreProductsRequester.h"

namespace sdktest {

// A store for tests, installed as the process's requester while it lives. It knows the
// products it was given; a request answers, on the global queue, with those it asks for and
// calls the others invalid, or fails with `failWith`. `refuseRequests` makes it create none.
class FakeStore : public platform::StoreProductsRequester,
                  public std::enable_shared_from_this<FakeStore> {
  public:
    static std::shared_ptr<FakeStore> install() {
        auto store = std::make_shared<FakeStore>();
        platform::StoreProductsRequester::TEST_setShared(store);
        return store;
    }
    ~FakeStore() override = default;

    void addProduct(const platform::StoreProduct& product) {
        std::lock_guard lock(mutex_);
        products_[product.productIdentifier] = product;
    }
    void failWith(std::optional<platform::StoreRequestError> error) {
        std::lock_guard lock(mutex_);
        failure_ = std::move(error);
    }
    std::vector<std::set<std::string>> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    std::unique_ptr<platform::StoreProductsRequest> createRequest(
        const std::set<std::string>& identifiers) override {
        std::lock_guard lock(mutex_);
        requests_.push_back(identifiers);
        platform::StoreProductsResult result;
        if (failure_) {
            result = *failure_;
        } else {
            platform::StoreProductsResponse response;
            for (const std::string& identifier : identifiers) {
                if (const auto it = products_.find(identifier); it != products_.end()) {
                    response.products.push_back(it->second);
                } else {
                    response.invalidProductIdentifiers.push_back(identifier);
                }
            }
            result = std::move(response);
        }
        return std::make_unique<Request>(std::move(result));
    }

  private:
    // Answers from another thread, as the store does; touches nothing of itself afterwards.
    class Request : public platform::StoreProductsRequest {
      public:
        explicit Request(platform::StoreProductsResult result) : result_(std::move(result)) {}
        void start(std::function<void(platform::StoreProductsResult)> completion) override {
            platform::DispatchQueue::global()->async(
                [result = result_, completion = std::move(completion)] { completion(result); });
        }

      private:
        platform::StoreProductsResult result_;
    };

    mutable std::mutex mutex_;
    std::map<std::string, platform::StoreProduct> products_;  // guarded by mutex_
    std::optional<platform::StoreRequestError> failure_;      // guarded by mutex_
    std::vector<std::set<std::string>> requests_;             // guarded by mutex_
};

// Installs a fake store for the test and removes it afterwards.
class ScopedFakeStore {
  public:
    ScopedFakeStore() : store_(FakeStore::install()) {}
    ~ScopedFakeStore() { platform::StoreProductsRequester::TEST_setShared(nullptr); }
    ScopedFakeStore(const ScopedFakeStore&) = delete;
    ScopedFakeStore& operator=(const ScopedFakeStore&) = delete;
    FakeStore* operator->() const { return store_.get(); }

  private:
    std::shared_ptr<FakeStore> store_;
};

// One product as the tests price it.
inline platform::StoreProduct testProduct(std::string identifier, std::string price = "0.99") {
    platform::StoreProduct product;
    product.productIdentifier = std::move(identifier);
    product.price = std::move(price);
    product.currencyCode = "USD";
    product.localizedTitle = "Test product";
    return product;
}

}  // namespace sdktest
