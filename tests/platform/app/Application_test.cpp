// The shared application's delegate, its change reports, and what a delegate does by default.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/app/Application.h"
#include "platform/app/ApplicationDelegate.h"

namespace platform {
namespace {

class PlainDelegate : public ApplicationDelegate {};

std::string label(const Application::DelegateRef& delegate,
                  const std::vector<Application::DelegateRef>& known) {
    for (size_t i = 0; i < known.size(); ++i) {
        if (known[i] == delegate) {
            return "d" + std::to_string(i);
        }
    }
    return delegate ? "?" : "null";
}

class ApplicationTest : public ::testing::Test {
  protected:
    void TearDown() override { Application::shared().setDelegate(nullptr); }
};

TEST_F(ApplicationTest, EveryAssignmentIsReportedWithOldAndNewToEachObserverInOrder) {
    Application& application = Application::shared();
    std::vector<Application::DelegateRef> known = {std::make_shared<PlainDelegate>(),
                                                   std::make_shared<PlainDelegate>()};
    std::vector<std::string> reports;
    const auto first = application.addDelegateObserver([&](const auto& oldOne, const auto& newOne) {
        reports.push_back("first " + label(oldOne, known) + "->" + label(newOne, known));
        EXPECT_EQ(Application::shared().delegate(), newOne) << "set before it is reported";
    });
    const auto second =
        application.addDelegateObserver([&](const auto& oldOne, const auto& newOne) {
            reports.push_back("second " + label(oldOne, known) + "->" + label(newOne, known));
        });
    application.setDelegate(known[0]);
    application.setDelegate(known[0]);
    application.setDelegate(known[1]);
    application.removeDelegateObserver(first);
    application.setDelegate(nullptr);
    application.removeDelegateObserver(second);
    application.removeDelegateObserver(second);  // unknown now: ignored
    application.setDelegate(known[0]);
    EXPECT_EQ(reports, (std::vector<std::string>{"first null->d0", "second null->d0",
                                                 "first d0->d0", "second d0->d0", "first d0->d1",
                                                 "second d0->d1", "second d1->null"}));
}

TEST_F(ApplicationTest, AnObserverMayRemoveItselfAndTheApplicationKeepsItsDelegateAlive) {
    Application& application = Application::shared();
    int told = 0;
    Application::ObserverToken token = 0;
    token = application.addDelegateObserver([&](const auto&, const auto&) {
        ++told;
        Application::shared().removeDelegateObserver(token);
    });
    std::weak_ptr<ApplicationDelegate> watched;
    {
        auto delegate = std::make_shared<PlainDelegate>();
        watched = delegate;
        application.setDelegate(delegate);
    }
    application.setDelegate(application.delegate());
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(watched.expired());
    application.setDelegate(nullptr);
    EXPECT_TRUE(watched.expired());
}

TEST(ApplicationDelegateTest, ByDefaultNoOptionalCallAndTheDynamicClassInTheDescription) {
    using Call = ApplicationDelegate::OptionalCall;
    PlainDelegate delegate;
    for (Call call : {Call::kContinueUserActivity, Call::kDidRegisterForRemoteNotifications,
                      Call::kDidFailToRegisterForRemoteNotifications}) {
        EXPECT_FALSE(delegate.implements(call));
    }
    EXPECT_EQ(ApplicationDelegate::selectorName(Call::kContinueUserActivity),
              "application:continueUserActivity:restorationHandler:");
    EXPECT_EQ(ApplicationDelegate::selectorName(Call::kDidRegisterForRemoteNotifications),
              "application:didRegisterForRemoteNotificationsWithDeviceToken:");
    EXPECT_EQ(ApplicationDelegate::selectorName(Call::kDidFailToRegisterForRemoteNotifications),
              "application:didFailToRegisterForRemoteNotificationsWithError:");
    EXPECT_FALSE(delegate.applicationShouldTerminateAfterLastWindowClosed());
    EXPECT_EQ(delegate.className(), "platform::(anonymous namespace)::PlainDelegate");
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(&delegate));
    EXPECT_EQ(delegate.description(),
              "<platform::(anonymous namespace)::PlainDelegate: " + std::string(address) + ">");
    EXPECT_EQ(std::string(address).rfind("0x", 0), 0u);
}

}  // namespace
}  // namespace platform
