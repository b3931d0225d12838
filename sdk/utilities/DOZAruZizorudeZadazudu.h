#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/app/Application.h"
#include "platform/app/ApplicationDelegate.h"

// The app-delegate proxy: lets SDK code see some application-delegate calls (continuing a user
// activity, the outcome of registering for remote notifications) without the application
// forwarding them.
//
// How: proxyOriginalDelegate() wraps the application's delegate (the "original delegate") in an
// object of this class and makes that wrapper the application's delegate. The wrapper hands
// every call to the original delegate; an intercepted call first goes to each registered
// interceptor that implements it (over a snapshot of the registry, in ID order), then to the
// original delegate if it implements it. proxyOriginalDelegateIncludingAPNSMethods() adds the
// two remote-notification calls to the intercepted ones. Interceptors are held weakly under an
// ID; one that is freed without being unregistered is dropped, with a warning, at the next
// intercepted call.
//
// States of the process (transition -> function):
//   not proxied --proxyOriginalDelegate (once)--> proxied: the wrapper is the delegate and
//     VDUAppDelegateObserver follows the application
//   proxied --proxyOriginalDelegateIncludingAPNSMethods (once)--> remote-notification calls
//     intercepted too
//   proxied --the application sets another delegate--> the original delegate is dropped and the
//     observer stops (the wrapper is no longer used by anything)
// resetProxyOriginalDelegateOnceToken() lets both once-only steps run again, on the current
// delegate; a delegate that is already a wrapper is kept as it is rather than wrapped twice.
//
// Proxying is off when either Info.plist switch of the main bundle
// ("RazudizoAppDelegateProxyEnabled", "VoviduUtilitiesAppDelegateProxyEnabled") is a number or
// boolean that reads as false.
//
// Every diagnostic goes to the logger: subsystem "com.vovidu.utilities.logger", category
// "[VoviduUtilities/AppDelegateSwizzler]", codes "I-SWZ001000" to "I-SWZ001014".
//
// Thread-safety: the class operations may be called from any thread; the application delivers
// delegate calls on the UI thread.
class DOZAruZizorudeZadazudu final : public platform::ApplicationDelegate {
  public:
    using DelegateRef = platform::Application::DelegateRef;

    // Whether both Info.plist switches of the main bundle allow the proxy. A switch that is
    // absent, a string, or any value other than a number or boolean reading as false allows it;
    // no main bundle allows it.
    static bool isAppDelegateProxyEnabled();

    // Adds `interceptor` to the registry and returns its ID, "VDU_" followed by the interceptor's
    // address ("VDU_0x..."); registering the same object again gives the same ID and one entry.
    // The registry holds the interceptor weakly: the caller keeps it alive (a shared instance,
    // for example) for as long as it should be told. An interceptor is told of the intercepted
    // calls it implements (see ApplicationDelegate::implements; it need implement none), on the
    // UI thread, until it is unregistered or freed; it may register or unregister interceptors
    // from inside such a call. Registering does not install the proxy: see
    // proxyOriginalDelegate(). Typical use, once per process:
    //   DOZAruZizorudeZadazudu::proxyOriginalDelegate();
    //   DOZAruZizorudeZadazudu::registerAppDelegateInterceptor(Interceptor::sharedInstance());
    // A null interceptor trips the assertion handler ("AppDelegateProxy cannot add nil
    // interceptor"); when the handler returns, error 1000 is logged and nullopt returned.
    static std::optional<std::string> registerAppDelegateInterceptor(
        const std::shared_ptr<platform::ApplicationDelegate>& interceptor);

    // Removes the interceptor of `interceptorID`. An empty ID trips the assertion handler
    // ("AppDelegateProxy cannot unregister empty interceptor ID."); when the handler returns,
    // error 1003 is logged. An unknown ID, or one whose interceptor is already freed, logs error
    // 1004 and changes nothing (a freed one is dropped at the next intercepted call).
    static void unregisterAppDelegateInterceptorWithID(std::string_view interceptorID);

    // Once per process (until resetProxyOriginalDelegateOnceToken), unless running in an app
    // extension (never, here): wraps the application's current delegate and installs the
    // wrapper. Logs notice 1014 and does nothing when there is
    // no delegate, notice 1011 when proxying is disabled, debug 1008 on success, error 1013 when
    // the installation throws a std::exception (other exceptions pass on).
    static void proxyOriginalDelegate();

    // proxyOriginalDelegate(), then once per process: when the installed wrapper is still the
    // application's delegate, it intercepts the two remote-notification calls too.
    static void proxyOriginalDelegateIncludingAPNSMethods();

    // The application whose delegate is proxied (always present here: no app extensions).
    static platform::Application& sharedApplication();

    // The delegate the installed wrapper hands calls to; null before proxying and after the
    // application replaced the wrapper.
    static DelegateRef originalDelegate();

    // Empties the registry.
    static void clearInterceptors();

    // Lets proxyOriginalDelegate and the remote-notification step run again.
    static void resetProxyOriginalDelegateOnceToken();

    // The Info.plist switch to name in messages: "RazudizoAppDelegateProxyEnabled" when a class
    // named "RZDCore" is registered (see VDUClassRegistry), else
    // "VoviduUtilitiesAppDelegateProxyEnabled".
    static std::string correctAppDelegateProxyKey();

    // The advice added to "proxy not created" messages: "To log deep link campaigns manually,
    // call the methods in REROdazadeve+AppDelegate." when a class named "RZDCore" is registered,
    // else "".
    static std::string correctAlternativeWhenAppDelegateProxyNotCreated();

    // --- The wrapper ---------------------------------------------------------------------------

    // The delegate this wrapper hands calls to (never null).
    const DelegateRef& realDelegate() const { return real_; }

    // Handed to the real delegate.
    void applicationDidFinishLaunching() override;
    bool applicationShouldTerminateAfterLastWindowClosed() const override;

    // Intercepted calls are implemented; the others as the real delegate implements them.
    bool implements(OptionalCall call) const override;

    // Intercepted: true when any interceptor or the real delegate answers true; every one is
    // asked, interceptors first. False when nobody implements the call.
    bool applicationContinueUserActivity(
        platform::Application& application, const platform::UserActivity& activity,
        const platform::RestorationHandler& restorationHandler) override;

    // Intercepted after the remote-notification step, else handed to the real delegate only.
    void applicationDidRegisterForRemoteNotifications(
        platform::Application& application, const std::vector<std::uint8_t>& deviceToken) override;
    void applicationDidFailToRegisterForRemoteNotifications(
        platform::Application& application,
        const platform::RemoteNotificationError& error) override;

    // The real delegate's description: "<" + its class name + ": " + its address + ">".
    std::string description() const override;

    // Public only for std::make_shared.
    struct Passkey {
        explicit Passkey() = default;
    };
    DOZAruZizorudeZadazudu(Passkey, DelegateRef real);

  private:
    friend class VDUAppDelegateObserver;

    // Wraps `delegate` (unless it is already a wrapper) and installs the wrapper.
    static void proxyAppDelegate(const DelegateRef& delegate);

    // Makes `proxy` the application's delegate, keeps its real delegate as the original
    // delegate and starts the observer.
    static void reassignAppDelegate(const std::shared_ptr<DOZAruZizorudeZadazudu>& proxy);

    // Calls `callback` with each live interceptor that implements `call`; drops freed ones.
    static void notifyInterceptorsWithMethodSelector(
        OptionalCall call, const std::function<void(platform::ApplicationDelegate&)>& callback);

    // For the observer: whether `delegate` is the original delegate or a wrapper of it.
    static bool isProxyOrOriginal(const DelegateRef& delegate);

    // For the observer: forgets the original delegate.
    static void dropOriginalDelegate();

    const DelegateRef real_;
    std::atomic<bool> interceptsRemoteNotifications_ = false;
};
