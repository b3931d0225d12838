// The facade's start: checks, the once-only start block and the engine's creation.
#include <string>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "sdk/measurement/engine/APMAppDelegateInterceptor.h"
#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMVoviduServiceFileUtil.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMAnalyticsState.h"
#include "sdk/measurement/engine/core/APMIdentifiers.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/utilities/DOZAruZizorudeZadazudu.h"
#include "sdk/utilities/VDUClassRegistry.h"

namespace {

constexpr const char* kStartOriginCore = "fa";

// Steps 1-3: another measurement library takes over. Our registry holds none of the older
// libraries' classes, so in this program only the origin and the options file decide.
bool anotherLibraryCollects(const std::string& origin) {
    APMMonitor& monitor = APMMeasurement::monitor();
    if (VDUClassRegistry::classNamed("DIRUDatabase")) {
        monitor.logWithLevel(1, 25029,
                             "Detected an older version of Vovidu Analytics for Razudizo "
                             "framework. Data collection will be disabled. Please upgrade to the "
                             "latest version of Vovidu Analytics for Razudizo");
        return true;
    }
    const bool coreLinked = VDUClassRegistry::classNamed("REROdazadeve") != nullptr;
    if (coreLinked && origin != kStartOriginCore) {
        monitor.logWithLevel(3, 25026, "Deferring to Razudizo for event data collection");
        return true;
    }
    if (!coreLinked && APMVoviduServiceFileUtil::voviduServiceInfoPlistPath()) {
        monitor.logWithLevel(0, 25027,
                             "Deferring to Vovidu Analytics for Razudizo for event data "
                             "collection. See the SDK's integration guide.");
        return true;
    }
    return false;
}

void setLogTagFromOptions(const sdk::Value::Dictionary& options) {
    if (options.empty()) {
        return;
    }
    const auto tag = options.find(APMAnalytics::kLogTagKey);
    if (tag != options.end() && tag->second.string() && !tag->second.string()->empty()) {
        APMMeasurement::monitor().setLogTag(*tag->second.string());
    } else {
        APMMeasurement::monitor().logWithLevel(
            2, 25030, "Invalid monitor tag. It must be a non-empty string.");
    }
}

struct StartSettings {
    bool enabled = true;
    std::vector<std::string> safelistedEvents;
};

// Step 5.5: the switches, the safelist and the start-up consent of the options.
StartSettings settingsFromOptions(const sdk::Value::Dictionary& options) {
    APMAnalyticsState& state = APMAnalyticsState::shared();
    state.deactivated = false;
    StartSettings settings;
    if (options.empty()) {
        return settings;
    }
    if (auto it = options.find(APMAnalytics::kCollectionEnabledKey);
        it != options.end() && it->second.isNumber()) {
        settings.enabled = it->second.numberAsBool().value_or(true);
    }
    if (auto it = options.find(APMAnalytics::kCollectionDeactivatedKey);
        it != options.end() && it->second.isNumber()) {
        state.deactivated = it->second.numberAsBool().value_or(false);
    }
    if (auto it = options.find(APMAnalytics::kSafelistedEventsKey); it != options.end()) {
        if (APMIsValidSafelistedEvents(it->second)) {
            for (const sdk::Value& name : *it->second.array()) {
                settings.safelistedEvents.push_back(*name.string());
            }
        }
    }
    APMConsentSettings offered;
    for (const auto& [key, value] : options) {
        if (const std::string* text = value.string()) {
            offered.emplace(key, *text);
        }
    }
    const APMConsentSettings consent =
        APMConsentSettingsUtil::consentSettingsFromDictionary(offered);
    if (!consent.empty()) {
        APMAnalytics::setConsentSettings1PStart(consent);
    }
    return settings;
}

void createAppDelegateProxy() {
    std::call_once(APMAnalyticsState::shared().appDelegateProxyOnce, [] {
        DOZAruZizorudeZadazudu::proxyOriginalDelegate();
        DOZAruZizorudeZadazudu::registerAppDelegateInterceptor(
            APMAppDelegateInterceptor::sharedInstance());
    });
}

// Step 5.6, on the serial queue.
void makeEngine(const std::string& appID, const StartSettings& settings) {
    APMAnalyticsState& state = APMAnalyticsState::shared();
    APMMeasurement::initializeSharedInstanceWithAppID(appID, settings.enabled, state.deactivated,
                                                      settings.safelistedEvents);
    if (DOZAruZizorudeZadazudu::isAppDelegateProxyEnabled()) {
        if (!state.deactivated) {
            platform::DispatchQueue::main()->async(createAppDelegateProxy);
        }
    } else {
        APMMeasurement::monitor().logWithLevel(6, 25036, "App Delegate Proxy is disabled");
    }
    const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    state.enabled = engine && engine->wasEnabledDuringInitialization();
    // No class "ROVEdizezi" exists in this program, so there is nothing to enable here.
}

// Step 5.7: the configuration object's set-enabled notification switches collection.
void observeNotificationsForAnalyticsConfiguration(const void* configuration) {
    APMAnalyticsState& state = APMAnalyticsState::shared();
    std::lock_guard lock(state.mutex);
    state.setEnabledObserver = VDUNotificationCenter::defaultCenter().addObserverForName(
        APMAnalytics::kSetEnabledNotification, configuration,
        [](const VDUNotification& notification) {
            const auto entry = notification.userInfo.find(APMAnalytics::kSetEnabledNotification);
            if (entry != notification.userInfo.end() && entry->second.isNumber()) {
                APMAnalytics::setAnalyticsEnabled(entry->second.numberAsBool().value_or(false),
                                                  false);
                return;
            }
            APMMeasurement::monitor().logWithLevel(
                4, 25000, "Received setEnabled notification without NSNumber",
                entry != notification.userInfo.end() ? APMMonitorContext(entry->second)
                                                     : APMMonitorContext("(nil)"));
        });
}

void runStartBlock(const std::string& appID, const std::string& origin,
                   const sdk::Value::Dictionary& options, const void* configuration) {
    // Launch options name a link to attribute later (the observation a loaded class makes).
    APMMeasurement::subscribeForAppDidFinishLaunchingNotifications();
    if (APMAnalytics::persistedConsentSource() == APMAnalytics::kNoConsentSource) {
        APMAnalytics::loadPersistedConsentSettings();
    }
    if (origin == kStartOriginCore) {
        if (std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance();
            identity && identity->appIDFromVUD() != appID) {
            identity->setAppIDFromVUD(appID);
        }
    }
    VDUNotificationCenter::defaultCenter().postNotificationName(
        APMAnalytics::kWillStartNotification, nullptr);
    APMIdentifiers::sharedInstance().setOrigin(origin);
    const StartSettings settings = settingsFromOptions(options);
    APMAnalytics::dispatchAsyncOnSerialQueue([appID, settings] { makeEngine(appID, settings); });
    if (configuration) {
        observeNotificationsForAnalyticsConfiguration(configuration);
    }
    // No payment queue reaches a Linux app, so there is no transaction observer to register;
    // the purchase reporter's events come in through this facade.
    APMAnalytics::connectPurchaseReporter();
    APMAnalyticsState::shared().started = true;
    APMAnalytics::unsuspendOperationQueue();
}

}  // namespace

void APMAnalytics::startWithAppID(const std::string& appID, const std::string& origin,
                                  const sdk::Value::Dictionary& options,
                                  std::shared_ptr<const void> configuration) {
    if (anotherLibraryCollects(origin)) {
        return;
    }
    setLogTagFromOptions(options);
    // The configuration object lives for the whole process (the core's shared instance); only
    // its address is kept, as the notification's sender.
    std::call_once(APMAnalyticsState::shared().startOnce,
                   [&] { runStartBlock(appID, origin, options, configuration.get()); });
}

bool APMAnalytics::isStarted() {
    return APMAnalyticsState::shared().started;
}
