#include "sdk/measurement/engine/APMAppDelegateInterceptor.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sdk/utilities/DOZAruZizorudeZadazudu.h"

namespace {

using Call = platform::ApplicationDelegate::OptionalCall;

TEST(APMAppDelegateInterceptor, OneInstanceThatTheProxyRegistersAndNeverCalls) {
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

    const auto& interceptor = APMAppDelegateInterceptor::sharedInstance();
    for (Call call : {Call::kContinueUserActivity, Call::kDidRegisterForRemoteNotifications,
                      Call::kDidFailToRegisterForRemoteNotifications}) {
        EXPECT_FALSE(interceptor->implements(call));
    }
    const std::optional<std::string> id =
        DOZAruZizorudeZadazudu::registerAppDelegateInterceptor(interceptor);
    ASSERT_TRUE(id);
    EXPECT_EQ(DOZAruZizorudeZadazudu::registerAppDelegateInterceptor(interceptor), id)
        << "registered once";
    DOZAruZizorudeZadazudu::unregisterAppDelegateInterceptorWithID(*id);
}

}  // namespace
