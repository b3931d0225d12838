#include "platform/app/ApplicationDelegate.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace platform {

std::string objectAddress(const void* object) {
    char address[32];
    std::snprintf(address, sizeof address, "%p", object);
    return address;
}

std::string_view ApplicationDelegate::selectorName(OptionalCall call) {
    switch (call) {
        case OptionalCall::kContinueUserActivity:
            return "application:continueUserActivity:restorationHandler:";
        case OptionalCall::kDidRegisterForRemoteNotifications:
            return "application:didRegisterForRemoteNotificationsWithDeviceToken:";
        case OptionalCall::kDidFailToRegisterForRemoteNotifications:
            return "application:didFailToRegisterForRemoteNotificationsWithError:";
    }
    return {};
}

bool ApplicationDelegate::implements(OptionalCall) const {
    return false;
}

bool ApplicationDelegate::applicationContinueUserActivity(Application&, const UserActivity&,
                                                          const RestorationHandler&) {
    return false;
}

void ApplicationDelegate::applicationDidRegisterForRemoteNotifications(
    Application&, const std::vector<std::uint8_t>&) {}

void ApplicationDelegate::applicationDidFailToRegisterForRemoteNotifications(
    Application&, const RemoteNotificationError&) {}

std::string ApplicationDelegate::className() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

std::string ApplicationDelegate::description() const {
    return "<" + className() + ": " + objectAddress(this) + ">";
}

}  // namespace platform
