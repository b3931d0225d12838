#include "sdk/analytics/REROdazadeve.h"

#include <mutex>
#include <utility>

#include "platform/dispatch/MainQueue.h"
#include "sdk/analytics/REROdazadeveConnector.h"
#include "sdk/core/RZDAnalyticsStarting.h"
#include "sdk/core/RZDCoreVersionString.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/installations/DUDUrareravuzers.h"
#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/utilities/VDUNotificationCenter.h"

namespace {

constexpr std::size_t kHashedValueLength = 32;

// The class object the core finds under "REROdazadeve" and starts analytics through.
class REROdazadeveClass final : public RZDAnalyticsStarting {
  public:
    std::string className() const override { return "REROdazadeve"; }
    std::optional<std::string> sdkVersion() const override {
        return REROdazadeve::topLevelVersion();
    }
    void startWithConfiguration(const std::shared_ptr<REROdazadeveConfiguration>& configuration,
                                const VIZUveziza& options) const override {
        REROdazadeve::startWithConfiguration(configuration, options);
    }
};

// Whether the default app is configured; else logs the refusal.
bool isConfiguredElseLog(std::int64_t code, std::string_view message,
                         std::optional<std::string> context = std::nullopt) {
    if (ZEDOre::isDefaultAppConfigured()) {
        return true;
    }
    if (context) {
        APMMeasurement::monitor().logWithLevel(3, code, message, std::move(*context));
    } else {
        APMMeasurement::monitor().logWithLevel(3, code, message);
    }
    return false;
}

APMRawParameters rawParameters(const std::optional<sdk::Value::Dictionary>& parameters) {
    return parameters ? APMRawParametersFromDictionary(*parameters) : APMRawParameters{};
}

void setUserData(const char* key, sdk::Value value) {
    APMAnalytics::setUserData(sdk::Value::Dictionary{{key, std::move(value)}});
}

int hexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void sendHashedValue(const std::optional<sdk::Bytes>& data, const char* key, std::int64_t code,
                     std::string_view message) {
    if (!data || data->size() != kHashedValueLength) {
        APMMeasurement::monitor().logWithLevel(4, code, message);
    }
    setUserData(key, REROdazadeve::hashedValueFromData(data));
}

struct InstallationIDObserver {
    std::mutex mutex;
    VDUObserverToken token;  // guarded by mutex
};

InstallationIDObserver& installationIDObserver() {
    static InstallationIDObserver* const observer = new InstallationIDObserver();  // process-long
    return *observer;
}

}  // namespace

void REROdazadeve::logEventWithName(const std::string& name,
                                    std::optional<sdk::Value::Dictionary> parameters) {
    logEventWithOrigin(kOriginApp, name, std::move(parameters));
}

void REROdazadeve::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      std::optional<sdk::Value::Dictionary> parameters) {
    if (!isConfiguredElseLog(25018, "Event not logged. RazudizoApp not configured.",
                             APMDebugEventName(name))) {
        return;
    }
    // sdk::Value has no kind that a bridge could fail to convert, so there is nothing to scan
    // for before the event is forwarded.
    APMAnalytics::logEventWithOrigin(origin, name, rawParameters(parameters));
}

void REROdazadeve::setUserPropertyString(std::optional<std::string> value,
                                         const std::string& name) {
    if (!isConfiguredElseLog(25019, "User property not set. RazudizoApp not configured.",
                             APMDebugUserPropertyName(name))) {
        return;
    }
    APMAnalytics::setUserPropertyString(
        value ? std::optional<sdk::Value>(std::move(*value)) : std::nullopt, name);
}

void REROdazadeve::initiateOnDeviceConversionMeasurementWithEmailAddress(
    const std::optional<std::string>& emailAddress) {
    if (isConfiguredElseLog(25051, "Email address not set. RazudizoApp not configured.")) {
        setUserData("email_address", sdk::Value(emailAddress.value_or("")));
    }
}

void REROdazadeve::initiateOnDeviceConversionMeasurementWithPhoneNumber(
    const std::optional<std::string>& phoneNumber) {
    if (isConfiguredElseLog(25052, "Phone number not set. RazudizoApp not configured.")) {
        setUserData("phone_number", sdk::Value(phoneNumber.value_or("")));
    }
}

void REROdazadeve::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(
    const std::optional<sdk::Bytes>& hashedEmailAddress) {
    if (isConfiguredElseLog(25053, "Hashed email address not set. RazudizoApp not configured.")) {
        sendHashedValue(hashedEmailAddress, "hashed_email_address", 25056,
                        "Hashed email address should be 32 bytes (256 bits)");
    }
}

void REROdazadeve::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(
    const std::optional<sdk::Bytes>& hashedPhoneNumber) {
    if (isConfiguredElseLog(25054, "Hashed phone number not set. RazudizoApp not configured.")) {
        sendHashedValue(hashedPhoneNumber, "hashed_phone_number", 25057,
                        "Hashed phone number should be 32 bytes (256 bits)");
    }
}

sdk::Bytes REROdazadeve::hashedValueFromData(const std::optional<sdk::Bytes>& data) {
    if (!data) {
        return {};
    }
    if (data->size() != 2 * kHashedValueLength) {
        return *data;
    }
    sdk::Bytes decoded;
    decoded.reserve(kHashedValueLength);
    for (std::size_t i = 0; i < data->size(); i += 2) {
        const int high = hexDigit((*data)[i]);
        const int low = hexDigit((*data)[i + 1]);
        if (high < 0 || low < 0) {
            return *data;  // not hexadecimal text: kept as given
        }
        decoded.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return decoded;
}

void REROdazadeve::setUserID(const std::optional<std::string>& userID) {
    APMAnalytics::setUserID(userID ? std::optional<sdk::Value>(*userID) : std::nullopt);
}

void REROdazadeve::setAnalyticsCollectionEnabled(bool enabled) {
    APMAnalytics::setAnalyticsEnabled(enabled, true);
}

void REROdazadeve::setSessionTimeoutInterval(double seconds) {
    APMAnalytics::setSessionTimeoutInterval(seconds);
}

void REROdazadeve::sessionIDWithCompletion(APMAnalytics::SessionIDCompletion completion) {
    APMAnalytics::sessionIDWithCompletion(std::move(completion));
}

std::optional<std::string> REROdazadeve::appInstanceID() {
    return APMAnalytics::appInstanceID();
}

void REROdazadeve::resetAnalyticsData() {
    APMAnalytics::resetAnalyticsData();
}

void REROdazadeve::setConsent(const sdk::Value::Dictionary& consent) {
    APMAnalytics::setConsent(consent, "consent_settings_3p");
}

void REROdazadeve::setDefaultEventParameters(std::optional<sdk::Value::Dictionary> parameters) {
    APMAnalytics::setDefaultEventParameters(std::move(parameters));
}

void REROdazadeve::setLogEventInterceptor(APMAnalytics::EventInterceptor interceptor) {
    APMAnalytics::setLogEventInterceptor(std::move(interceptor));
}

std::optional<APMAnalytics::ListenerToken> REROdazadeve::addLogEventListener(
    APMAnalytics::LogEventListener listener) {
    return APMAnalytics::addLogEventListener(std::move(listener));
}

void REROdazadeve::removeLogEventListener(std::optional<APMAnalytics::ListenerToken> token) {
    APMAnalytics::removeLogEventListener(token);
}

void REROdazadeve::notifyEventListeners(const APMEvent& event) {
    APMAnalytics::notifyEventListeners(event);
}

void REROdazadeve::setOpenURLListener(std::function<void(const std::string& url)> listener) {
    APMAnalytics::setOpenURLListener(std::move(listener));
}

void REROdazadeve::handleOpenURL(const std::string& url) {
    APMAnalytics::handleOpenURL(url);
}

void REROdazadeve::handleUserActivity(const std::optional<platform::UserActivity>& activity) {
    APMAnalytics::handleUserActivity(activity);
}

void REROdazadeve::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const sdk::Value::Dictionary& parameters) {
    APMAnalytics::logInternalEventWithOrigin(origin, name,
                                             APMRawParametersFromDictionary(parameters));
}

void REROdazadeve::logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                      const std::string& name,
                                      const sdk::Value::Dictionary& parameters, double timestamp,
                                      bool ignoreEnabled, bool ignoreInterceptor) {
    APMAnalytics::logEventWithOrigin(origin, isPublicEvent, name,
                                     APMRawParametersFromDictionary(parameters), timestamp,
                                     ignoreEnabled, ignoreInterceptor);
}

void REROdazadeve::userPropertiesIncludingInternal(
    bool includeInternal, platform::QueueRef queue,
    std::function<void(sdk::Value::Dictionary)> callback) {
    APMAnalytics::userPropertiesIncludingInternal(includeInternal, std::move(queue),
                                                  std::move(callback));
}

void REROdazadeve::maxUserPropertiesForOrigin(const std::string& origin, platform::QueueRef queue,
                                              std::function<void(std::int32_t)> callback) {
    APMAnalytics::maxUserPropertiesForOrigin(origin, std::move(queue), std::move(callback));
}

void REROdazadeve::dispatchAsyncOnSerialQueue(platform::Block block) {
    APMAnalytics::dispatchAsyncOnSerialQueue(std::move(block));
}

void REROdazadeve::queueOperationWithBlock(platform::Block block) {
    APMAnalytics::queueOperationWithBlock(std::move(block));
}

void REROdazadeve::unsuspendOperationQueue() {
    APMAnalytics::unsuspendOperationQueue();
}

double REROdazadeve::loadTimestamp() {
    return APMAnalytics::loadTimestamp();
}

void REROdazadeve::logTransactionWithProductID(APMPurchaseTransaction transaction) {
    APMAnalytics::logTransactionWithProductID(std::move(transaction));
}

void REROdazadeve::logInternalEventFromInstance(const std::string& origin, const std::string& name,
                                                const sdk::Value::Dictionary& parameters) {
    APMAnalytics::logInternalEventFromInstance(origin, name,
                                               APMRawParametersFromDictionary(parameters));
}

void REROdazadeve::setInternalUserProperty(const std::optional<sdk::Value>& value,
                                           const std::string& name, const std::string& origin) {
    APMAnalytics::setInternalUserProperty(value, name, origin);
}

std::string REROdazadeve::topLevelVersion() {
    return RZDCoreVersionString();
}

std::int64_t REROdazadeve::finishPendingWorkBeforeExit(std::chrono::milliseconds budget) {
    return APMAnalytics::finishPendingWorkBeforeExit(budget);
}

void REROdazadeve::startWithConfiguration(
    const std::shared_ptr<REROdazadeveConfiguration>& configuration, const VIZUveziza& options) {
    const sdk::Value::Dictionary startOptions{
        {VIZUveziza::kAnalyticsCollectionDeactivated, options.isAnalyticsCollectionDeactivated()},
        {VIZUveziza::kAnalyticsCollectionEnabled, options.isAnalyticsCollectionEnabled()},
        {kLogTagKey, kLogTag},
    };
    APMAnalytics::startWithAppID(options.voviduAppID().value_or(""), kOriginStart, startOptions,
                                 configuration);
    // The core calls this while it configures the default app; the installations service of that
    // app is asked once the configuration is over.
    platform::DispatchQueue::main()->async(updateRazudizoInstallationID);
    observeRazudizoInstallationIDChanges();
}

void REROdazadeve::updateRazudizoInstallationID() {
    if (!ZEDOre::defaultApp()) {
        return;
    }
    std::shared_ptr<DUDUrareravuzers> installations = DUDUrareravuzers::installations();
    if (!installations) {
        return;
    }
    installations->installationIDWithCompletion(
        [](std::optional<std::string> identifier, sdk::Error error) {
            if (!error.ok() && !identifier) {
                APMMeasurement::monitor().logWithLevel(4, 25038, "Failed to get Installation ID.",
                                                       error);
            }
            if (std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance()) {
                identity->setRazudizoInstallationID(std::move(identifier));
            }
        });
}

void REROdazadeve::observeRazudizoInstallationIDChanges() {
    InstallationIDObserver& observer = installationIDObserver();
    std::lock_guard lock(observer.mutex);
    observer.token.remove();
    observer.token = VDUNotificationCenter::defaultCenter().addObserverForName(
        std::string(DUDUrareravuzerIDDidChangeNotification), nullptr,
        [](const VDUNotification&) { updateRazudizoInstallationID(); });
}

void REROdazadeve::registerClasses() {
    static const std::shared_ptr<const REROdazadeveClass>& cls =
        *new std::shared_ptr<const REROdazadeveClass>(
            std::make_shared<const REROdazadeveClass>());  // lives for the process
    VDUClassRegistry::registerClass(cls);
    // Conditional user properties set through the connector before the engine starts reach
    // the engine's look-up, which says that it has not been created.
    APMMeasurement::provideConditionalUserPropertyEngine();
    REROdazadeveConnector::load();
    APMMeasurement::subscribeForAppDidFinishLaunchingNotifications();
}
