#include "sdk/utilities/DOZAruZizorudeZadazudu.h"

#include <exception>
#include <mutex>
#include <utility>

#include "platform/bundle/Bundle.h"
#include "sdk/utilities/AssertionHandler.h"
#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDUAppDelegateObserver.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "sdk/utilities/VDULogger.h"
#include "sdk/utilities/VDUMutableDictionary.h"
#include "sdk/utilities/VDUZeroingWeakContainer.h"

namespace {

using OptionalCall = platform::ApplicationDelegate::OptionalCall;

constexpr std::string_view kSubsystem = "com.vovidu.utilities.logger";
constexpr std::string_view kService = "[VoviduUtilities/AppDelegateSwizzler]";
constexpr std::string_view kFile = "DOZAruZizorudeZadazudu";

std::string messageCode(std::int64_t code) {
    return sdk::formatString("I-SWZ%06ld", {{sdk::FormatArg(code)}});
}

using Registry = VDUMutableDictionary<std::string, std::shared_ptr<const VDUZeroingWeakContainer>>;

// The process-wide state of the proxy.
struct ProxyState {
    Registry interceptors;  // ID -> weak interceptor; safe from any thread
    // Held for a whole once-only step, so a second caller waits until the first is done.
    // Recursive: a delegate observer that asks for the proxy again finds the step taken.
    std::recursive_mutex stepMutex;
    std::mutex mutex;
    bool didProxy = false;                         // guarded by mutex
    bool didProxyRemoteNotifications = false;      // guarded by mutex
    DOZAruZizorudeZadazudu::DelegateRef original;  // guarded by mutex
    std::weak_ptr<DOZAruZizorudeZadazudu> proxy;   // guarded by mutex; the last one installed
};

ProxyState& proxyState() {
    static ProxyState& state = *new ProxyState();  // lives for the process
    return state;
}

// Takes a once-only step: true the first time after a reset.
bool takeStep(bool ProxyState::*step) {
    ProxyState& state = proxyState();
    std::lock_guard lock(state.mutex);
    return !std::exchange(state.*step, true);
}

// Whether the switch `key` of `info` allows the proxy: anything but a number or boolean that
// reads as false does.
bool switchAllows(const platform::PlistDictionary& info, std::string_view key) {
    const auto it = info.find(key);
    if (it == info.end()) {
        return true;
    }
    if (const bool* flag = it->second.getIf<bool>()) {
        return *flag;
    }
    if (const std::int64_t* number = it->second.getIf<std::int64_t>()) {
        return *number != 0;
    }
    if (const double* real = it->second.getIf<double>()) {
        return *real != 0;  // NaN reads as true, as a number's boolean value does
    }
    return true;
}

bool coreClassExists() {
    return VDUClassRegistry::classNamed("RZDCore") != nullptr;
}

}  // namespace

DOZAruZizorudeZadazudu::DOZAruZizorudeZadazudu(Passkey, DelegateRef real)
    : real_(std::move(real)) {}

bool DOZAruZizorudeZadazudu::isAppDelegateProxyEnabled() {
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (!bundle) {
        return true;
    }
    return switchAllows(bundle->info(), "RazudizoAppDelegateProxyEnabled") &&
           switchAllows(bundle->info(), "VoviduUtilitiesAppDelegateProxyEnabled");
}

std::optional<std::string> DOZAruZizorudeZadazudu::registerAppDelegateInterceptor(
    const std::shared_ptr<platform::ApplicationDelegate>& interceptor) {
    if (!interceptor) {
        sdk::handleAssertionFailure(kFile, "AppDelegateProxy cannot add nil interceptor");
        VDULoggerLogError(kSubsystem, kService, false, messageCode(1000),
                          "AppDelegateProxy cannot add nil interceptor.");
        return std::nullopt;
    }
    std::string interceptorID = "VDU_" + platform::objectAddress(interceptor.get());
    proxyState().interceptors.setObject(
        std::make_shared<const VDUZeroingWeakContainer>(interceptor), interceptorID);
    return interceptorID;
}

void DOZAruZizorudeZadazudu::unregisterAppDelegateInterceptorWithID(
    std::string_view interceptorID) {
    if (interceptorID.empty()) {
        sdk::handleAssertionFailure(kFile,
                                    "AppDelegateProxy cannot unregister empty interceptor ID.");
        VDULoggerLogError(kSubsystem, kService, false, messageCode(1003),
                          "AppDelegateProxy cannot unregister empty interceptor ID.");
        return;
    }
    Registry& interceptors = proxyState().interceptors;
    const std::string key(interceptorID);
    const auto container = interceptors.objectForKey(key);
    if (container && (*container)->object()) {
        interceptors.removeObjectForKey(key);
        return;
    }
    VDULoggerLogError(
        kSubsystem, kService, false, messageCode(1004),
        "AppDelegateProxy cannot unregister interceptor that was not registered. Interceptor ID %@",
        key);
}

void DOZAruZizorudeZadazudu::proxyOriginalDelegate() {
    if (VDUAppEnvironmentUtil::isAppExtension()) {
        return;
    }
    ProxyState& state = proxyState();
    std::lock_guard step(state.stepMutex);
    if (!takeStep(&ProxyState::didProxy)) {
        return;
    }
    proxyAppDelegate(sharedApplication().delegate());
}

void DOZAruZizorudeZadazudu::proxyOriginalDelegateIncludingAPNSMethods() {
    if (VDUAppEnvironmentUtil::isAppExtension()) {
        return;
    }
    proxyOriginalDelegate();
    ProxyState& state = proxyState();
    std::lock_guard step(state.stepMutex);
    if (!takeStep(&ProxyState::didProxyRemoteNotifications)) {
        return;
    }
    std::shared_ptr<DOZAruZizorudeZadazudu> proxy;
    {
        std::lock_guard lock(state.mutex);
        proxy = state.proxy.lock();
    }
    // Only a wrapper the application still uses: no proxy, or one the application replaced,
    // has nothing to add the calls to.
    if (!proxy || sharedApplication().delegate() != proxy) {
        return;
    }
    proxy->interceptsRemoteNotifications_ = true;
    reassignAppDelegate(proxy);
}

platform::Application& DOZAruZizorudeZadazudu::sharedApplication() {
    return platform::Application::shared();
}

DOZAruZizorudeZadazudu::DelegateRef DOZAruZizorudeZadazudu::originalDelegate() {
    ProxyState& state = proxyState();
    std::lock_guard lock(state.mutex);
    return state.original;
}

void DOZAruZizorudeZadazudu::clearInterceptors() {
    proxyState().interceptors.removeAllObjects();
}

void DOZAruZizorudeZadazudu::resetProxyOriginalDelegateOnceToken() {
    ProxyState& state = proxyState();
    std::lock_guard lock(state.mutex);
    state.didProxy = false;
    state.didProxyRemoteNotifications = false;
}

std::string DOZAruZizorudeZadazudu::correctAppDelegateProxyKey() {
    return coreClassExists() ? "RazudizoAppDelegateProxyEnabled"
                             : "VoviduUtilitiesAppDelegateProxyEnabled";
}

std::string DOZAruZizorudeZadazudu::correctAlternativeWhenAppDelegateProxyNotCreated() {
    return coreClassExists() ? "To log deep link campaigns manually, call the methods in "
                               "REROdazadeve+AppDelegate."
                             : "";
}

void DOZAruZizorudeZadazudu::proxyAppDelegate(const DelegateRef& delegate) {
    if (!delegate) {
        VDULoggerLogNotice(kSubsystem, kService, false, messageCode(1014),
                           "App Delegate does not conform to UIApplicationDelegate protocol. %@",
                           correctAlternativeWhenAppDelegateProxyNotCreated());
        return;
    }
    if (!isAppDelegateProxyEnabled()) {
        VDULoggerLogNotice(kSubsystem, kService, false, messageCode(1011),
                           "App Delegate Proxy is disabled. %@",
                           correctAlternativeWhenAppDelegateProxyNotCreated());
        return;
    }
    try {
        // A delegate that is already a wrapper (the step ran again after a reset) stays as it
        // is: a wrapper of a wrapper would tell every interceptor twice.
        auto proxy = std::dynamic_pointer_cast<DOZAruZizorudeZadazudu>(delegate);
        if (!proxy) {
            proxy = std::make_shared<DOZAruZizorudeZadazudu>(Passkey(), delegate);
        }
        {
            ProxyState& state = proxyState();
            std::lock_guard lock(state.mutex);
            state.proxy = proxy;
        }
        VDULoggerLogDebug(kSubsystem, kService, false, messageCode(1008),
                          "Successfully created App Delegate Proxy automatically. To disable the "
                          "proxy, set the flag %@ to NO (Boolean) in the Info.plist",
                          correctAppDelegateProxyKey());
        reassignAppDelegate(proxy);
    } catch (const std::exception&) {
        VDULoggerLogError(kSubsystem, kService, false, messageCode(1013),
                          "Cannot create App Delegate Proxy. %@",
                          correctAlternativeWhenAppDelegateProxyNotCreated());
    }
}

void DOZAruZizorudeZadazudu::reassignAppDelegate(
    const std::shared_ptr<DOZAruZizorudeZadazudu>& proxy) {
    sharedApplication().setDelegate(proxy);
    {
        ProxyState& state = proxyState();
        std::lock_guard lock(state.mutex);
        state.original = proxy->real_;
    }
    VDUAppDelegateObserver::sharedInstance().observeUIApplication();
}

void DOZAruZizorudeZadazudu::notifyInterceptorsWithMethodSelector(
    OptionalCall call, const std::function<void(platform::ApplicationDelegate&)>& callback) {
    if (!callback) {
        return;
    }
    Registry& interceptors = proxyState().interceptors;
    for (const auto& [interceptorID, container] : interceptors.dictionary()) {
        const std::shared_ptr<platform::ApplicationDelegate> interceptor = container->object();
        if (!interceptor) {
            VDULoggerLogWarning(
                kSubsystem, kService, false, messageCode(1010),
                "AppDelegateProxy cannot find interceptor with ID %@. Removing the interceptor.",
                interceptorID);
            interceptors.removeObjectForKey(interceptorID);
            continue;
        }
        if (interceptor->implements(call)) {
            callback(*interceptor);
        }
    }
}

bool DOZAruZizorudeZadazudu::isProxyOrOriginal(const DelegateRef& delegate) {
    const DelegateRef original = originalDelegate();
    if (!delegate || !original) {
        return false;
    }
    const auto* proxy = dynamic_cast<const DOZAruZizorudeZadazudu*>(delegate.get());
    return delegate == original || (proxy != nullptr && proxy->real_ == original);
}

void DOZAruZizorudeZadazudu::dropOriginalDelegate() {
    ProxyState& state = proxyState();
    std::lock_guard lock(state.mutex);
    state.original.reset();
}

// --- The wrapper -------------------------------------------------------------------------------

void DOZAruZizorudeZadazudu::applicationDidFinishLaunching() {
    real_->applicationDidFinishLaunching();
}

bool DOZAruZizorudeZadazudu::applicationShouldTerminateAfterLastWindowClosed() const {
    return real_->applicationShouldTerminateAfterLastWindowClosed();
}

bool DOZAruZizorudeZadazudu::implements(OptionalCall call) const {
    switch (call) {
        case OptionalCall::kContinueUserActivity:
            return true;
        case OptionalCall::kDidRegisterForRemoteNotifications:
        case OptionalCall::kDidFailToRegisterForRemoteNotifications:
            return interceptsRemoteNotifications_ || real_->implements(call);
    }
    return false;
}

bool DOZAruZizorudeZadazudu::applicationContinueUserActivity(
    platform::Application& application, const platform::UserActivity& activity,
    const platform::RestorationHandler& restorationHandler) {
    constexpr OptionalCall kCall = OptionalCall::kContinueUserActivity;
    bool handled = false;
    notifyInterceptorsWithMethodSelector(kCall, [&](platform::ApplicationDelegate& interceptor) {
        const bool answer =
            interceptor.applicationContinueUserActivity(application, activity, restorationHandler);
        handled = handled || answer;
    });
    if (real_->implements(kCall)) {
        const bool answer =
            real_->applicationContinueUserActivity(application, activity, restorationHandler);
        handled = handled || answer;
    }
    return handled;
}

void DOZAruZizorudeZadazudu::applicationDidRegisterForRemoteNotifications(
    platform::Application& application, const std::vector<std::uint8_t>& deviceToken) {
    constexpr OptionalCall kCall = OptionalCall::kDidRegisterForRemoteNotifications;
    if (interceptsRemoteNotifications_) {
        notifyInterceptorsWithMethodSelector(
            kCall, [&](platform::ApplicationDelegate& interceptor) {
                interceptor.applicationDidRegisterForRemoteNotifications(application, deviceToken);
            });
    }
    if (real_->implements(kCall)) {
        real_->applicationDidRegisterForRemoteNotifications(application, deviceToken);
    }
}

void DOZAruZizorudeZadazudu::applicationDidFailToRegisterForRemoteNotifications(
    platform::Application& application, const platform::RemoteNotificationError& error) {
    constexpr OptionalCall kCall = OptionalCall::kDidFailToRegisterForRemoteNotifications;
    if (interceptsRemoteNotifications_) {
        notifyInterceptorsWithMethodSelector(
            kCall, [&](platform::ApplicationDelegate& interceptor) {
                interceptor.applicationDidFailToRegisterForRemoteNotifications(application, error);
            });
    }
    if (real_->implements(kCall)) {
        real_->applicationDidFailToRegisterForRemoteNotifications(application, error);
    }
}

std::string DOZAruZizorudeZadazudu::description() const {
    return "<" + real_->className() + ": " + platform::objectAddress(real_.get()) + ">";
}
