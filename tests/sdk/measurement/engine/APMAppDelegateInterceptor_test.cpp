#include "sdk/measurement/engine/APMAppDelegateInterceptor.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(APMAppDelegateInterceptor, OneInstanceForEveryCaller) {
    std::vector<const APMAppDelegateInterceptor*> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back(
            [&seen, i] { seen[i] = APMAppDelegateInterceptor::sharedInstance().get(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_NE(seen[0], nullptr);
    for (const APMAppDelegateInterceptor* instance : seen) {
        EXPECT_EQ(instance, seen[0]);
    }
    // A weak holder (as the proxy's registry) keeps seeing it.
    const std::weak_ptr<APMAppDelegateInterceptor> weak =
        APMAppDelegateInterceptor::sharedInstance();
    EXPECT_FALSE(weak.expired());
}

}  // namespace
