// Sessions in the engine: the session reporter's life (made at the component start and after a
// wipe, switched with collection), sessions started by events, the session number back-fill
// and the session ID query.
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/engine/core/APMScreenViewReporter.h"
#include "sdk/measurement/engine/core/APMSessionReporter.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

constexpr std::int64_t kSessionIDErrorCode = 13;

}  // namespace

std::shared_ptr<APMSessionReporter> APMMeasurement::sessionReporter() const {
    std::lock_guard lock(sessionReporterMutex_);
    return sessionReporter_;
}

void APMMeasurement::startSessionReporterOnWorkerQueue() {
    // A wipe after a start that failed before the configuration was made finds none yet.
    APMRemoteConfig& config = remoteConfig_ ? *remoteConfig_ : *remoteConfig();
    std::shared_ptr<APMSessionReporter> reporter = APMSessionReporter::initWithPersistedConfig(
        persistedConfig_, APMSessionReporter::settingsFromRemoteConfig(config));
    APMScreenViewReporter::sharedInstance()->setParameterLimits(config.parameterLimits());
    reporter->setReportingEnabled(isEnabled());
    std::shared_ptr<APMSessionReporter> replaced;
    {
        std::lock_guard lock(sessionReporterMutex_);
        replaced = std::exchange(sessionReporter_, std::move(reporter));
    }
}

void APMMeasurement::refreshActivitySettingsOnWorkerQueue() {
    if (!remoteConfig_) {
        return;
    }
    if (std::shared_ptr<APMSessionReporter> reporter = sessionReporter()) {
        reporter->updateSettings(APMSessionReporter::settingsFromRemoteConfig(*remoteConfig_));
    }
    APMScreenViewReporter::sharedInstance()->setParameterLimits(remoteConfig_->parameterLimits());
}

void APMMeasurement::setSessionReportingEnabled(bool enabled) {
    refreshActivitySettingsOnWorkerQueue();
    if (std::shared_ptr<APMSessionReporter> reporter = sessionReporter()) {
        reporter->setReportingEnabled(enabled);
    }
}

bool APMMeasurement::isSessionExpired() {
    std::shared_ptr<APMSessionReporter> reporter = sessionReporter();
    return reporter && reporter->isSessionExpired();
}

void APMMeasurement::backfillSessionNumber() {
    if (persistedConfig_->sessionNumber() != 0) {
        return;
    }
    sdk::Error error;
    const std::optional<APMEventAggregates> aggregates =
        database_->eventAggregatesWithName("_s", &error);
    if (!error.ok()) {
        monitor().logWithLevel(1, 23063, "Unable to query event aggregates. Name, error", "_s",
                               error);
        return;
    }
    if (aggregates) {
        persistedConfig_->setSessionNumber(aggregates->lifetimeCount());
    }
}

void APMMeasurement::processSessionFromEvent(const APMEvent& event) {
    refreshActivitySettingsOnWorkerQueue();
    std::shared_ptr<APMSessionReporter> reporter = sessionReporter();
    if (!reporter || APMIsAppActive()) {
        return;
    }
    if (const auto found = event.parameters().find("extend_session");
        found != event.parameters().end()) {
        if (found->second.isInt64() && found->second.int64Value() == 1) {
            if (reporter->isSessionExpired()) {
                reportSessionStartOnWorkerQueueWithTimestamp(event.timestamp(), true);
            } else {
                reporter->extendSession();
            }
        } else {
            monitor().logWithLevel(3, 23179,
                                   "extend_session is a reserved parameter. To extend or start a "
                                   "session in the background, set an event parameter "
                                   "{@'extend_session': @1}");
        }
    }
    if (!reporter->isSessionExpired()) {
        return;
    }
    struct Removal {
        const char* name;
        std::int64_t code;
        const char* message;
    };
    static constexpr Removal kRemovals[] = {
        {"_sid", 23177, "Failed to remove session ID user property on session expiration. Error"},
        {"_sno", 23178,
         "Failed to remove session number user property on session expiration. Error"},
        {"_se", 23192,
         "Failed to remove session user engagement user property on session expiration. Error"}};
    database_->performTransaction([this] {
        for (const Removal& removal : kRemovals) {
            if (sdk::Error error; !database_->deleteUserAttributeWithName(removal.name, &error)) {
                monitor().logWithLevel(2, removal.code, removal.message, error);
                return false;
            }
        }
        return true;
    });
}

void APMMeasurement::reportSessionStartOnWorkerQueueWithTimestamp(double timestamp,
                                                                  bool appInBackground) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("reportSessionStartOnWorkerQueue");
    std::shared_ptr<APMSessionReporter> reporter = sessionReporter();
    if (!reporter || !reporter->isSessionExpired()) {
        return;
    }
    reporter->updatePropertiesForNewSessionStart();
    if (std::optional<APMUserAttribute> id =
            APMSessionReporter::sessionIDPropertyWithTimestamp(timestamp)) {
        setUserAttributeOnWorkerQueue(*id);
    }
    if (std::optional<APMUserAttribute> number = reporter->sessionNumberProperty()) {
        setUserAttributeOnWorkerQueue(*number);
    }
    const bool inBackground = appInBackground && remoteConfig_->appInBackgroundParameterEnabled();
    if (std::optional<APMEvent> start =
            APMSessionStartEvent(persistedConfig_->sessionNumber(), inBackground, timestamp)) {
        handleInternalEventOnWorkerQueue(std::move(*start));
    }
}

void APMMeasurement::setSessionTimeoutInterval(double seconds) {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:1565", [weak, seconds] {
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
            if (std::shared_ptr<APMSessionReporter> reporter = engine->sessionReporter()) {
                reporter->setTimeoutSessionInterval(seconds);
            }
        }
    });
}

void APMMeasurement::sessionIDWithCompletion(SessionIDCompletion completion) {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:3360", [weak, completion] {
        const auto fail = [&](std::string_view description) {
            completion(std::nullopt, apm_errorWithCode(kSessionIDErrorCode, description));
        };
        std::shared_ptr<APMMeasurement> engine = weak.lock();
        if (!engine) {
            fail("Analytics deallocated");
            return;
        }
        if (!engine->isEnabled()) {
            fail("Analytics disabled");
            return;
        }
        if (engine->isSessionExpired()) {
            fail("Session expired");
            return;
        }
        sdk::Error error;
        const std::optional<APMUserAttribute> stored =
            engine->storedUserAttributeWithName("_sid", &error);
        if (!stored || !stored->value().isInt64()) {
            fail("Session ID not found");
            return;
        }
        completion(stored->value().int64Value(), sdk::Error());
    });
}
