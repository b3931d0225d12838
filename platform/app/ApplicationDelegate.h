#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Application;

// The address of `object` as "%p" prints it ("0x..."), for descriptions and IDs of objects.
std::string objectAddress(const void* object);

// An activity the user continues in this application (a handed-off document, an opened link).
struct UserActivity {
    std::string activityType;
    std::optional<std::string> webpageURL;
};

// An object that can take up the state of a continued user activity.
class UserActivityRestoring {
  public:
    virtual ~UserActivityRestoring() = default;
    virtual void restoreUserActivityState(const UserActivity& activity) = 0;
};

// Handed to the delegate with a continued activity; the delegate calls it with the objects that
// should take up the activity's state.
using RestorationHandler =
    std::function<void(const std::vector<std::shared_ptr<UserActivityRestoring>>& objects)>;

// Why registering for remote notifications failed.
struct RemoteNotificationError {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;
};

// What the application tells its delegate. Every call has the platform's default for a delegate
// that leaves it out, so a delegate overrides only what it handles; the optional calls are
// made only when the delegate says it implements them (`implements`), as the platform asks a
// delegate whether it answers a selector. Calls arrive on the UI thread.
class ApplicationDelegate {
  public:
    // The optional calls.
    enum class OptionalCall {
        kContinueUserActivity,
        kDidRegisterForRemoteNotifications,
        kDidFailToRegisterForRemoteNotifications,
    };

    // The selector name of `call`, e.g. "application:continueUserActivity:restorationHandler:".
    static std::string_view selectorName(OptionalCall call);

    virtual ~ApplicationDelegate() = default;

    // Launching has finished and the event loop runs. Default: nothing.
    virtual void applicationDidFinishLaunching() {}

    // Whether closing the last window ends the program. Default: false.
    virtual bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }

    // Whether this delegate implements `call`. Default: none.
    virtual bool implements(OptionalCall call) const;

    // The user continues `activity` here; true when the delegate handled it. Made only when
    // implements(kContinueUserActivity). Default: false.
    virtual bool applicationContinueUserActivity(Application& application,
                                                 const UserActivity& activity,
                                                 const RestorationHandler& restorationHandler);

    // Registering for remote notifications gave `deviceToken`. Made only when
    // implements(kDidRegisterForRemoteNotifications). Default: nothing.
    virtual void applicationDidRegisterForRemoteNotifications(
        Application& application, const std::vector<std::uint8_t>& deviceToken);

    // Registering for remote notifications failed with `error`. Made only when
    // implements(kDidFailToRegisterForRemoteNotifications). Default: nothing.
    virtual void applicationDidFailToRegisterForRemoteNotifications(
        Application& application, const RemoteNotificationError& error);

    // The name of the object's class, e.g. "cb::AppDelegate". Default: the dynamic type's name.
    virtual std::string className() const;

    // "<" + className() + ": " + the object's address + ">".
    virtual std::string description() const;

  protected:
    ApplicationDelegate() = default;
    ApplicationDelegate(const ApplicationDelegate&) = default;
    ApplicationDelegate& operator=(const ApplicationDelegate&) = default;
};

}  // namespace platform
