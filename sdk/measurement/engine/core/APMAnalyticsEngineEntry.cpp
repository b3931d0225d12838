// Where the facade's events enter the engine, and the engine's calls back into the facade.
#include "sdk/measurement/engine/core/APMAnalyticsEngineEntry.h"

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"

void APMAnalyticsLogEventInEngine(APMMeasurement& engine, APMAnalyticsEngineEvent event) {
    engine.logEventWithOrigin(std::move(event));
}

// The engine's error events go through the facade's internal-event path.
void APMMeasurement::logErrorEvent(std::int64_t errorCode, std::string_view name,
                                   std::int32_t maxLength) {
    APMAnalytics::logErrorEventWithDetails(errorCode, name, maxLength, nullptr);
}

void APMMeasurement::notifyEventListeners(const APMEvent& event) {
    APMAnalytics::notifyEventListeners(event);
}

void APMAnalyticsSetUserAttributeInEngine(APMMeasurement& engine,
                                          const APMUserAttribute& attribute) {
    engine.setUserAttribute(attribute);
}

void APMAnalyticsRemoveUserAttributeInEngine(APMMeasurement& engine,
                                             const APMUserAttribute& attribute) {
    engine.removeUserAttribute(attribute);
}

void APMAnalyticsSetDefaultEventParametersInEngine(
    APMMeasurement& engine, const std::optional<sdk::Value::Dictionary>& parameters) {
    engine.setDefaultEventParameters(parameters);
}

void APMAnalyticsSetUserDataInEngine(APMMeasurement& engine, const sdk::Value::Dictionary& data) {
    engine.setUserData(data);
}

void APMAnalyticsUserPropertiesInEngine(APMMeasurement& engine, bool includeInternal,
                                        std::function<void(sdk::Value::Dictionary)> callback) {
    engine.userPropertiesIncludingInternal(includeInternal, std::move(callback));
}

void APMAnalyticsMaxUserPropertiesInEngine(APMMeasurement& engine, const std::string& origin,
                                           std::function<void(std::int32_t)> callback) {
    engine.maxUserPropertiesForOrigin(origin, std::move(callback));
}

void APMAnalyticsUpdatePersonalizedAdsInEngine(APMMeasurement& engine) {
    // The decision reads the engine's worker-queue state, so it is made there.
    std::weak_ptr<APMMeasurement> weak = engine.weak_from_this();
    engine.scheduler()->scheduleOnWorkerQueue("APMAnalytics:personalizedAds", [weak] {
        std::shared_ptr<APMMeasurement> strong = weak.lock();
        if (!strong) {
            return;
        }
        const std::optional<bool> disable = strong->shouldDisableAdPersonalization();
        const std::optional<APMUserAttribute> npa = APMUserAttribute::initWithOrigin(
            "auto", "_npa", APMValue(static_cast<std::int64_t>(disable.value_or(false) ? 1 : 0)),
            APMCurrentTimeInterval());
        if (!npa) {
            return;
        }
        if (disable) {
            strong->setUserAttributeOnWorkerQueue(*npa);
        } else {
            strong->removeUserAttributeOnWorkerQueue(*npa);
        }
    });
}

// The upload on resigning active waits behind the facade's queued calls, so events logged just
// before it are in the upload. It runs only when the back-off and the upload interval allow an
// upload now: an app switched in and out of focus must not send a request each time.
void APMMeasurement::handleAppWillResignActiveEvent(const VDUNotification& notification) {
    (void)notification;
    persistedConfig_->synchronizeToDisk();
    monitor().logWithLevel(8, 23144, "App will resign active state. Scheduling data upload");
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    APMAnalytics::queueOperationWithBlock([weak] {
        std::shared_ptr<APMMeasurement> engine = weak.lock();
        if (!engine) {
            return;
        }
        engine->scheduler_->scheduleOnWorkerQueue("APMMeasurement:4025", [weak] {
            if (std::shared_ptr<APMMeasurement> strong = weak.lock()) {
                strong->uploadOnFocusLossOrRegisterAlarm();
            }
        });
    });
}
