#include "sdk/measurement/attribution/APMInAppPurchaseProductCache.h"

#include <condition_variable>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/attribution/APMInAppPurchaseProductCacheTestPeer.h"
#include "tests/sdk/measurement/attribution/FakeStore.h"

namespace {

struct Answer {
    std::optional<APMProductsByIdentifier> products;
    std::optional<APMProductIdentifiers> invalid;
    sdk::Error error;
    bool onCallerQueue = false;
};

// Asks `cache` for `identifiers` with a completion on a queue of the test and waits for it.
Answer request(APMInAppPurchaseProductCache& cache, const APMProductIdentifiers& identifiers) {
    const platform::QueueRef caller = platform::DispatchQueue::createSerial("test.caller");
    std::promise<Answer> answered;
    cache.requestProductsWithProductIdentifiers(
        identifiers, caller,
        [&answered, caller](std::optional<APMProductsByIdentifier> products,
                            std::optional<APMProductIdentifiers> invalid, sdk::Error error) {
            answered.set_value(
                {std::move(products), std::move(invalid), std::move(error), caller->isCurrent()});
        });
    auto future = answered.get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    return future.get();
}

APMProductIdentifiers identifiers(const std::string& prefix, int count) {
    APMProductIdentifiers ids;
    for (int i = 0; i < count; ++i) {
        ids.insert(prefix + std::to_string(i));
    }
    return ids;
}

class ProductCacheTest : public ::testing::Test {
  protected:
    sdktest::ScopedFakeStore store_;
    std::shared_ptr<APMInAppPurchaseProductCache> cache_ =
        std::make_shared<APMInAppPurchaseProductCache>();
};

TEST_F(ProductCacheTest, AnInvalidIdentifierLaterReturnedBecomesAValidProduct) {
    Answer first = request(*cache_, {"gem"});
    ASSERT_TRUE(first.invalid);
    EXPECT_EQ(*first.invalid, APMProductIdentifiers{"gem"});
    EXPECT_TRUE(APMInAppPurchaseProductCacheTestPeer::isInvalidProductIdentifier(*cache_, "gem"));
    EXPECT_FALSE(cache_->cachedProductForProductIdentifier("gem"));

    store_->addProduct(sdktest::testProduct("gem"));
    Answer second = request(*cache_, {"gem"});
    ASSERT_TRUE(second.products);
    EXPECT_EQ(second.products->count("gem"), 1u);
    EXPECT_FALSE(APMInAppPurchaseProductCacheTestPeer::isInvalidProductIdentifier(*cache_, "gem"));
    const auto cached = cache_->cachedProductForProductIdentifier("gem");
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->price, "0.99");
}

TEST_F(ProductCacheTest, AnAnswerThatWouldPassTheBoundReplacesTheCache) {
    for (const std::string& id : identifiers("old", 60)) {
        store_->addProduct(sdktest::testProduct(id));
    }
    for (const std::string& id : identifiers("new", 41)) {
        store_->addProduct(sdktest::testProduct(id));
    }
    request(*cache_, identifiers("old", 60));
    EXPECT_EQ(APMInAppPurchaseProductCacheTestPeer::validProductCount(*cache_), 60u);

    request(*cache_, identifiers("new", 41));
    EXPECT_EQ(APMInAppPurchaseProductCacheTestPeer::validProductCount(*cache_), 41u);
    EXPECT_FALSE(cache_->cachedProductForProductIdentifier("old0"));
    EXPECT_TRUE(cache_->cachedProductForProductIdentifier("new40"));
}

TEST_F(ProductCacheTest, AFailedRequestPassesNoProductsNoInvalidIdentifiersAndTheError) {
    store_->failWith(platform::StoreRequestError{"store", 5, "offline"});
    Answer answer = request(*cache_, {"gem"});
    EXPECT_FALSE(answer.products);
    EXPECT_FALSE(answer.invalid);
    EXPECT_TRUE(answer.error.is("store", 5));
    EXPECT_TRUE(answer.onCallerQueue);
}

TEST(ProductCacheWithoutStoreTest, EveryRequestFailsWithCodeOneOnTheCallersQueue) {
    sdktest::MonitorRecorder monitor;
    auto cache = std::make_shared<APMInAppPurchaseProductCache>();
    Answer answer = request(*cache, {"gem"});
    EXPECT_FALSE(answer.products);
    EXPECT_FALSE(answer.invalid);
    EXPECT_TRUE(answer.error.is("com.vovidu.vud.measurement.ErrorDomain", 1));
    EXPECT_EQ(answer.error.message(), "Invalid product identifiers.");
    EXPECT_TRUE(answer.onCallerQueue);
}

}  // namespace
