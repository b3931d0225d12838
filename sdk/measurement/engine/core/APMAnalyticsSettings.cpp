// The facade's settings: user properties, user ID, enable, session, identity, reset.
#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMAnalyticsEngineEntry.h"
#include "sdk/measurement/engine/core/APMAnalyticsState.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"

namespace {

constexpr const char* kAllowPersonalizedAds = "allow_personalized_ads";
constexpr std::int64_t kErrorInvalidUserPropertyName = 6;
constexpr std::int64_t kErrorUserPropertyValueTooLong = 7;
constexpr std::int64_t kErrorUserPropertyNameIsReserved = 15;
constexpr std::uint64_t kFailureReservedName = 4;
constexpr std::uint64_t kFailureTooLong = 2;
constexpr std::int32_t kUserPropertyErrorLimit = 24;
constexpr std::size_t kMaxOriginLength = 32;

void logInvalidPublicName(const std::string& name, std::uint64_t failure) {
    const sdk::Value value(name);
    APMAnalytics::logErrorEventWithDetails(failure == kFailureReservedName
                                               ? kErrorUserPropertyNameIsReserved
                                               : kErrorInvalidUserPropertyName,
                                           name, kUserPropertyErrorLimit, &value);
}

void withEngine(const std::function<void(APMMeasurement&)>& work) {
    if (std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
        work(*engine);
    }
}

// A string's boolean as text is read: "YES", "true" or a non-zero digit first is true.
bool booleanOf(const sdk::Value& value) {
    if (const std::string* text = value.string()) {
        const std::size_t first = text->find_first_not_of(" \t\n+-0");
        return first != std::string::npos &&
               std::string_view("YyTt123456789").find((*text)[first]) != std::string_view::npos;
    }
    return value.numberAsBool().value_or(false);
}

// The queued personalised-ads switch.
void setAllowPersonalizedAds(const std::optional<sdk::Value>& value) {
    APMAnalyticsState& state = APMAnalyticsState::shared();
    if (!state.enabled) {
        APMMeasurement::monitor().logWithLevel(
            7, 25033, "Personalized Ads property changed while Analytics is disabled");
    }
    std::optional<sdk::Value> allow;
    if (value) {
        allow = sdk::Value(booleanOf(*value));
    } else {
        APMConsentSettingsUtil::unsetAdPersonalization();
    }
    if (std::shared_ptr<APMPersistedConfig> config = APMPersistedConfig::sharedInstance()) {
        config->setAllowPersonalizedAds(allow);
    }
    if (state.enabled) {
        withEngine(
            [](APMMeasurement& engine) { APMAnalyticsUpdatePersonalizedAdsInEngine(engine); });
    }
}

}  // namespace

void APMAnalytics::setUserPropertyString(const std::optional<sdk::Value>& value,
                                         const std::string& name) {
    if (name == kAllowPersonalizedAds) {
        queueOperationWithBlock([value] { setAllowPersonalizedAds(value); });
        return;
    }
    std::uint64_t failure = 0;
    if (!value) {
        if (APMDataTypeValidator::isValidPublicUserAttributeName(name, &failure)) {
            removeInternalUserAttributeForName(name);
        }
        return;
    }
    if (!APMDataTypeValidator::isValidPublicUserAttributeName(name, &failure)) {
        logInvalidPublicName(name, failure);
        return;
    }
    if (!value->string()) {
        APMMeasurement::monitor().logWithLevel(0, 25003, "User property must be NSString. Value",
                                               *value);
        return;
    }
    const APMValue attributeValue(*value->string());
    if (!APMDataTypeValidator::isValidPublicUserAttributeValue(&attributeValue, &failure)) {
        if (failure == kFailureTooLong) {
            logErrorEventWithDetails(kErrorUserPropertyValueTooLong, name, kUserPropertyErrorLimit,
                                     &*value);
        }
        return;
    }
    setInternalUserProperty(value, name, "app");
}

void APMAnalytics::setUserAttributeNumber(const sdk::Value& value, const std::string& name) {
    std::uint64_t failure = 0;
    if (!APMDataTypeValidator::isValidPublicUserAttributeName(name, &failure)) {
        logInvalidPublicName(name, failure);
        return;
    }
    if (!value.isNumber()) {
        return;
    }
    setInternalUserProperty(value.isDouble() ? value : sdk::Value(value.numberAsInt().value_or(0)),
                            name, "auto");
}

void APMAnalytics::setInternalUserProperty(const std::optional<sdk::Value>& value,
                                           const std::string& name, const std::string& origin) {
    std::uint64_t failure = 0;
    if (!APMDataTypeValidator::isValidInternalUserAttributeName(name, &failure)) {
        const sdk::Value nameValue(name);
        logErrorEventWithDetails(kErrorInvalidUserPropertyName, name, kUserPropertyErrorLimit,
                                 &nameValue);
        return;
    }
    if (origin.empty() || origin.size() > kMaxOriginLength) {
        APMMeasurement::monitor().logWithLevel(
            2, 25005, "Unable to set user property. Origin is invalid. Origin, name", origin, name);
        return;
    }
    if (!value) {
        removeInternalUserAttributeForName(name);
        return;
    }
    std::optional<APMValue> converted = APMValue::valueFromObject(&*value);
    if (!converted) {
        return;
    }
    if (!APMDataTypeValidator::isValidInternalUserAttributeValue(&*converted, name, &failure)) {
        if (failure == kFailureTooLong) {
            const sdk::Value text(converted->stringValue() ? *converted->stringValue()
                                                           : converted->description());
            logErrorEventWithDetails(kErrorUserPropertyValueTooLong, name, kUserPropertyErrorLimit,
                                     &text);
        }
        return;
    }
    std::optional<APMUserAttribute> attribute =
        APMUserAttribute::initWithOrigin(origin, name, *converted, APMCurrentTimeInterval());
    if (!attribute) {
        return;
    }
    queueOperationWithBlock([attribute = *attribute] {
        withEngine([&](APMMeasurement& engine) {
            APMAnalyticsSetUserAttributeInEngine(engine, attribute);
        });
    });
}

void APMAnalytics::removeInternalUserAttributeForName(const std::string& name) {
    std::optional<APMUserAttribute> attribute =
        APMUserAttribute::initWithOrigin("", name, APMValue(0.0), APMCurrentTimeInterval());
    if (!attribute) {
        return;
    }
    queueOperationWithBlock([attribute = *attribute] {
        withEngine([&](APMMeasurement& engine) {
            APMAnalyticsRemoveUserAttributeInEngine(engine, attribute);
        });
    });
}

void APMAnalytics::setUserID(const std::optional<sdk::Value>& userID) {
    if (!userID) {
        removeInternalUserAttributeForName("_id");
        removeInternalUserAttributeForName("_lair");
    } else if (userID->string()) {
        setInternalUserProperty(userID, "_id", "app");
    } else {
        APMMeasurement::monitor().logWithLevel(0, 25004, "User ID must be NSString. User ID",
                                               *userID);
    }
}

void APMAnalytics::setAnalyticsEnabled(bool enabled, bool persistSetting) {
    dispatchAsyncOnSerialQueue([enabled, persistSetting] {
        if (persistSetting) {
            if (std::shared_ptr<APMPersistedConfig> config = APMPersistedConfig::sharedInstance()) {
                config->setMeasurementEnabledState(enabled ? 1 : 2);
            }
        }
        APMAnalyticsState& state = APMAnalyticsState::shared();
        if (state.deactivated && enabled) {
            return;  // collection deactivated by the start options stays off
        }
        state.enabled = enabled;
        withEngine([enabled](APMMeasurement& engine) { engine.setEnabled(enabled); });
    });
}

bool APMAnalytics::isEnabled() {
    return APMAnalyticsState::shared().enabled;
}

void APMAnalytics::setSessionTimeoutInterval(double seconds) {
    dispatchAsyncOnSerialQueue([seconds] {
        if (seconds < 0) {
            APMMeasurement::monitor().logWithLevel(
                4, 25060, "Session timeout interval cannot be set to a negative value");
            return;
        }
        std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
        if (engine && engine->didInitializeComponents()) {
            engine->setSessionTimeoutInterval(seconds);
        } else if (std::shared_ptr<APMPersistedConfig> config =
                       APMPersistedConfig::sharedInstance()) {
            // The next session reporter takes it.
            config->setSessionTimeoutValue(sdk::Value(seconds));
        }
        APMMeasurement::monitor().logWithLevel(7, 25059, "Session timeout interval set. (s)",
                                               seconds);
    });
}

void APMAnalytics::sessionIDWithCompletion(SessionIDCompletion completion) {
    if (!completion) {
        APMMeasurement::monitor().logWithLevel(1, 25050,
                                               "Analytics sessionID completion cannot be nil");
        return;
    }
    dispatchAsyncOnSerialQueue([completion = std::move(completion)] {
        const auto answer = [completion](std::int64_t sessionID, sdk::Error error) {
            platform::DispatchQueue::global()->async(
                [completion, sessionID, error] { completion(sessionID, error); });
        };
        std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
        if (!engine || !engine->didInitializeComponents()) {
            answer(0, apm_errorWithCode(13, "Analytics uninitialized"));
            return;
        }
        engine->sessionIDWithCompletion(
            [answer](std::optional<std::int64_t> sessionID, sdk::Error error) {
                answer(sessionID.value_or(0), std::move(error));
            });
    });
}

std::optional<std::string> APMAnalytics::appInstanceID() {
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
        return std::nullopt;
    }
    if (std::optional<std::string> afterReset = appInstanceIDAfterReset();
        afterReset && !afterReset->empty()) {
        return afterReset;
    }
    std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance();
    return identity ? identity->appInstanceID() : std::nullopt;
}

void APMAnalytics::resetAnalyticsData() {
    setLoadTimestamp(APMCurrentTimeInterval());
    setResetRetryCount(resetRetryCount() + 1);
    setNeedFirstOpenAfterReset(true);
    std::string appInstanceID = APMIdentity::randomAppInstanceID();
    if (appInstanceID.empty()) {
        APMMeasurement::monitor().logWithLevel(1, 25039, "Cannot generate a new app instance ID");
        return;
    }
    if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
        setAppInstanceIDAfterReset(appInstanceID);
    }
    queueOperationWithBlock([appInstanceID] {
        withEngine([&](APMMeasurement& engine) {
            if (!engine.resetAnalyticsDataWithAppInstanceID(appInstanceID)) {
                APMMeasurement::monitor().logWithLevel(1, 25037, "Failed to reset Analytics data");
                return;  // the retry count stays, so the engine tries again at its next start
            }
            setResetRetryCount(0);
            if (appInstanceIDAfterReset() == appInstanceID) {
                setAppInstanceIDAfterReset(std::nullopt);
            }
        });
    });
}

void APMAnalytics::setUserData(sdk::Value::Dictionary userData) {
    queueOperationWithBlockThenWait([userData = std::move(userData)] {
        std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
        if (!APMAnalyticsState::shared().enabled || !engine) {
            APMMeasurement::monitor().logWithLevel(4, 25044,
                                                   "Analytics is disabled. User data not set.");
            return;
        }
        APMAnalyticsSetUserDataInEngine(*engine, userData);
    });
}

void APMAnalytics::setDefaultEventParameters(std::optional<sdk::Value::Dictionary> parameters) {
    queueOperationWithBlock([parameters = std::move(parameters)] {
        withEngine([&](APMMeasurement& engine) {
            APMAnalyticsSetDefaultEventParametersInEngine(engine, parameters);
        });
    });
}

void APMAnalytics::userPropertiesIncludingInternal(
    bool includeInternal, platform::QueueRef queue,
    std::function<void(sdk::Value::Dictionary)> callback) {
    queueOperationWithBlock(
        [includeInternal, queue = std::move(queue), callback = std::move(callback)] {
            APMMonitor& monitor = APMMeasurement::monitor();
            if (!callback) {
                monitor.logWithLevel(2, 25006, "Analytics userProperties callback cannot be nil");
                return;
            }
            if (!queue) {
                monitor.logWithLevel(
                    2, 25007, "Cannot query for Analytics user properties. Queue cannot be nil");
                platform::DispatchQueue::main()->async([callback] { callback({}); });
                return;
            }
            std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
            if (!APMAnalyticsState::shared().enabled || !engine) {
                monitor.logWithLevel(5, 25008,
                                     "Cannot query for public user properties when Analytics is "
                                     "disabled");
                queue->async([callback] { callback({}); });
                return;
            }
            APMAnalyticsUserPropertiesInEngine(
                *engine, includeInternal, [queue, callback](sdk::Value::Dictionary properties) {
                    queue->async(
                        [callback, properties = std::move(properties)] { callback(properties); });
                });
        });
}

void APMAnalytics::maxUserPropertiesForOrigin(const std::string& origin, platform::QueueRef queue,
                                              std::function<void(std::int32_t)> callback) {
    APMMonitor& monitor = APMMeasurement::monitor();
    if (origin.empty()) {
        monitor.logWithLevel(2, 25009,
                             "Cannot query Analytics for max user properties. Origin must be a "
                             "non-empty string");
        return;
    }
    if (!queue) {
        monitor.logWithLevel(
            2, 25010, "Cannot query Analytics for max user properties. Queue cannot be nil. Origin",
            origin);
        return;
    }
    if (!callback) {
        monitor.logWithLevel(2, 25011,
                             "Cannot query Analytics for max user properties. MaxUserProperties "
                             "callback cannot be nil. Origin",
                             origin);
        return;
    }
    queueOperationWithBlock([origin, queue = std::move(queue), callback = std::move(callback)] {
        withEngine([&](APMMeasurement& engine) {
            APMAnalyticsMaxUserPropertiesInEngine(
                engine, origin, [queue, callback](std::int32_t count) {
                    queue->async([callback, count] { callback(count); });
                });
        });
    });
}
