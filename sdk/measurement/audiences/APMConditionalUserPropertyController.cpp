#include "sdk/measurement/audiences/APMConditionalUserPropertyController.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

#include <atomic>
#include <mutex>

#include "platform/dispatch/DispatchSemaphore.h"
#include "sdk/measurement/audiences/APMConditionalUserPropertyEngine.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/storage/APMDatabase.h"

namespace {

constexpr std::chrono::milliseconds kDefaultQueryTimeout{30000};
std::atomic<std::int64_t> queryTimeoutMillis{kDefaultQueryTimeout.count()};

APMMonitor& monitor() {
    return APMMonitor::shared();
}

// The event a property logs: the template's name and parameters, the property's origin.
std::optional<APMEvent> eventFromTemplate(const APMEvent& eventTemplate, const std::string& origin,
                                          double timestamp) {
    APMRawParameters parameters;
    for (const auto& [key, value] : eventTemplate.parameters()) {
        parameters.emplace(key, value);
    }
    return APMEvent::initWithOrigin(origin, false, eventTemplate.name(), timestamp, 0, parameters,
                                    APMRemoteConfig::current()->parameterLimits());
}

// Writes the user property `name` = `value`; false with `error` set when it cannot be made or
// stored.
bool writeUserAttribute(APMDatabase& database, const std::string& origin, const std::string& name,
                        const APMValue& value, double lastSetTimestamp, sdk::Error* error) {
    std::optional<APMUserAttribute> attribute =
        APMUserAttribute::initWithOrigin(origin, name, value, lastSetTimestamp);
    if (!attribute) {
        *error = apm_errorWithCode(3, "Invalid user property for conditional user property");
        return false;
    }
    return database.updateUserAttribute(&*attribute, error);
}

// Store steps (each inside the store's transaction) ----------------------------------------------

// The stored row of `next`'s name, into `saved`; false (11009) when it cannot be read. A saved
// row of another origin is logged (11010) and replaced all the same.
bool readSavedProperty(APMDatabase& database, const APMConditionalUserProperty& next,
                       std::optional<APMConditionalUserProperty>& saved) {
    sdk::Error error;
    saved = database.conditionalUserPropertyWithName(next.name(), &error);
    if (!error.ok()) {
        monitor().logWithLevel(1, 11009,
                               "Cannot query conditional user property. Name, origin, error",
                               next.name(), next.origin(), error);
        return false;
    }
    if (saved && saved->origin() != next.origin()) {
        monitor().logWithLevel(5, 11010,
                               "Updating a conditional user property with different origin. "
                               "Name, origin, saved origin",
                               next.name(), next.origin(), saved->origin());
    }
    return true;
}

// Over an active saved property, `next` keeps its origin, creation and trigger (the trigger is
// not armed again); otherwise a `next` that waits for no event becomes active at its creation.
// Whether `next` was activated just now.
bool carryOverOrActivate(APMConditionalUserProperty& next,
                         const std::optional<APMConditionalUserProperty>& saved) {
    if (saved && saved->isActive()) {
        next.setOrigin(saved->origin());
        next.setCreationTimestamp(saved->creationTimestamp());
        next.setTriggerEventName(saved->triggerEventName());
        next.setTriggeredEvent(saved->triggeredEvent());
        next.setTriggerTimeout(saved->triggerTimeout());
        return false;
    }
    if (!next.triggerEventName() || next.triggerEventName()->empty()) {
        next.setActive(true);
        next.setTriggeredTimestamp(next.creationTimestamp());
        return true;
    }
    return false;
}

// Sets the user property of an active `next` as of its triggered time; the outcome is only
// logged (11011, 11012): the row is stored either way.
void setUserPropertyOfActive(APMDatabase& database, const APMConditionalUserProperty& next) {
    sdk::Error error;
    if (!writeUserAttribute(database, next.origin(), next.name(), *next.value(),
                            next.triggeredTimestamp(), &error)) {
        monitor().logWithLevel(1, 11011,
                               "Cannot update user property from conditional user property. "
                               "Name, origin, error",
                               next.name(), next.origin(), error);
    } else {
        monitor().logWithLevel(7, 11012, "User property updated. Name, origin", next.name(),
                               next.origin());
    }
}

// Writes `next`'s row; false (11014) when it cannot be written.
bool storePropertyRow(APMDatabase& database, const APMConditionalUserProperty& next) {
    sdk::Error error;
    if (!database.updateConditionalUserProperty(&next, &error)) {
        monitor().logWithLevel(1, 11014,
                               "Cannot insert user property from conditional user property. "
                               "Name, origin, error",
                               next.name(), next.origin(), error);
        // Committing now would leave a user property that no row ever expires.
        return false;
    }
    monitor().logWithLevel(7, 11013, "Conditional user property added. Name, origin", next.name(),
                           next.origin());
    return true;
}

// The store's transaction: `property` over the saved row of its name, its user property when it
// is active, and, when it became active just now, its triggered event in `triggeredEvent`.
// False when the transaction must roll back.
bool storeProperty(APMDatabase& database, const APMConditionalUserProperty& property,
                   std::optional<APMEvent>& triggeredEvent) {
    triggeredEvent.reset();
    APMConditionalUserProperty next = property;
    std::optional<APMConditionalUserProperty> saved;
    if (!readSavedProperty(database, next, saved)) {
        return false;
    }
    const bool newlyActivated = carryOverOrActivate(next, saved);
    if (next.isActive()) {
        setUserPropertyOfActive(database, next);
        if (newlyActivated && next.triggeredEvent()) {
            triggeredEvent =
                eventFromTemplate(*next.triggeredEvent(), next.origin(), next.triggeredTimestamp());
        }
    }
    if (saved && saved->isActive()) {
        // The time to live keeps counting from the first activation.
        next.setActive(true);
        next.setTriggeredTimestamp(saved->triggeredTimestamp());
    }
    return storePropertyRow(database, next);
}

// Ending steps (inside the per-event transaction) ------------------------------------------------

// One way a stored property ends by itself: the rows that ended that way, how the ending and
// its failures are logged, whether the property's user property goes with the row (it held
// one while active), and the event the ending leaves behind.
struct PropertyEnding {
    std::optional<std::vector<APMConditionalUserProperty>> (APMDatabase::*endedProperties)(
        sdk::Error*);
    std::int64_t queryFailureCode;
    std::string_view queryFailureMessage;
    void (*logEnded)(const APMConditionalUserProperty&);
    bool removesUserProperty;
    std::int64_t deleteFailureCode;
    std::string_view deleteFailureMessage;
    const std::optional<APMEvent>& (APMConditionalUserProperty::*endEvent)() const;
};

// An inactive property whose trigger did not come within its timeout.
constexpr PropertyEnding kTimedOut{
    &APMDatabase::timedOutConditionalUserPropertiesWithError,
    10001,
    "Cannot fetch timed out conditional user properties. Error",
    [](const APMConditionalUserProperty& property) {
        monitor().logWithLevel(7, 10002, "Conditional user property has timed out. Name",
                               property.name());
    },
    false,
    10003,
    "Cannot delete timed out condition user property. Name, error",
    &APMConditionalUserProperty::timedOutEvent,
};

// An active property whose time to live has passed.
constexpr PropertyEnding kExpired{
    &APMDatabase::expiredConditionalUserPropertiesWithError,
    10004,
    "Cannot fetch expired conditional user properties. Error",
    [](const APMConditionalUserProperty& property) {
        const std::optional<APMEvent>& expiredEvent = property.expiredEvent();
        monitor().logWithLevel(
            7, 10005, "Conditional user property has expired. Name, expired event", property.name(),
            expiredEvent ? APMMonitorContext(APMDebugEventName(expiredEvent->name()))
                         : APMMonitorContext());
    },
    true,
    10007,
    "Cannot delete expired condition user property. Name, error",
    &APMConditionalUserProperty::expiredEvent,
};

// Deletes the properties that ended as `ending` says and puts their events, made now, in
// `events`. False when the caller's transaction must roll back.
bool removeEndedProperties(APMDatabase& database, const PropertyEnding& ending,
                           std::vector<APMEvent>& events) {
    sdk::Error error;
    const std::optional<std::vector<APMConditionalUserProperty>> properties =
        (database.*ending.endedProperties)(&error);
    if (!properties) {
        monitor().logWithLevel(1, ending.queryFailureCode, ending.queryFailureMessage, error);
        return false;
    }
    std::vector<APMEvent> made;
    for (const APMConditionalUserProperty& property : *properties) {
        ending.logEnded(property);
        if (ending.removesUserProperty &&
            !database.deleteUserAttributeWithName(property.name(), &error)) {
            monitor().logWithLevel(1, 10006,
                                   "Cannot remove conditional user property. Failed to delete the "
                                   "user property. Name, origin, error",
                                   property.name(), property.origin(), error);
            return false;
        }
        if (!database.deleteConditionalUserPropertyWithName(property.name(), &error)) {
            monitor().logWithLevel(1, ending.deleteFailureCode, ending.deleteFailureMessage,
                                   property.name(), error);
            return false;
        }
        if (const std::optional<APMEvent>& endEvent = (property.*ending.endEvent)()) {
            if (std::optional<APMEvent> event =
                    eventFromTemplate(*endEvent, property.origin(), APMCurrentTimeInterval())) {
                made.push_back(std::move(*event));
            }
        }
    }
    events = std::move(made);
    return true;
}

// What a query's worker block hands back. Both the block and the caller hold it, so a block
// that runs after the caller stopped waiting still writes into live memory.
struct QueryAnswer {
    std::mutex mutex;
    std::optional<std::vector<APMConditionalUserProperty>> properties;  // guarded by mutex
    sdk::Error error;                                                   // guarded by mutex
};

}  // namespace

std::shared_ptr<APMConditionalUserPropertyController>
APMConditionalUserPropertyController::sharedInstance() {
    static const std::shared_ptr<APMConditionalUserPropertyController> instance =
        std::make_shared<APMConditionalUserPropertyController>();
    return instance;
}

void APMConditionalUserPropertyController::setQueryTimeout(
    std::optional<std::chrono::milliseconds> timeout) {
    queryTimeoutMillis.store(timeout.value_or(kDefaultQueryTimeout).count());
}

std::shared_ptr<APMConditionalUserPropertyEngine>
APMConditionalUserPropertyController::engineWithDatabase() {
    std::shared_ptr<APMConditionalUserPropertyEngine> engine =
        APMConditionalUserPropertyEngine::current();
    return engine && engine->database() ? engine : nullptr;
}

// Public face ------------------------------------------------------------------------------------

void APMConditionalUserPropertyController::setConditionalUserProperty(
    const APMConditionalUserProperty* property, std::string_view name) {
    if (property == nullptr) {
        monitor().logWithLevel(2, 11002, "Cannot set nil conditional user property");
        return;
    }
    APMConditionalUserProperty copy = *property;
    copy.setName(std::string(name));
    if (!APMIsValidConditionalUserProperty(copy)) {
        return;
    }
    copy.setCreationTimestamp(APMCurrentTimeInterval());
    // Nothing can run before the engine exists; its facade gates earlier calls.
    const std::shared_ptr<APMConditionalUserPropertyEngine> engine =
        APMConditionalUserPropertyEngine::current();
    if (!engine) {
        return;
    }
    engine->scheduler()->scheduleOnWorkerQueue(
        "APMConditionalUserPropertyController:88",
        [weakSelf = weak_from_this(), copy = std::move(copy)] {
            const std::shared_ptr<APMConditionalUserPropertyController> self = weakSelf.lock();
            if (!self) {
                return;
            }
            if (copy.value()) {
                self->setConditionalUserPropertyOnWorkerQueue(&copy);
            } else {
                self->removeConditionalUserPropertyOnWorkerQueue(&copy);
            }
        });
}

void APMConditionalUserPropertyController::clearConditionalUserPropertyWithClearEvent(
    std::optional<APMEvent> clearEvent, std::string_view name) {
    std::uint64_t failureCode = 0;
    if (!APMDataTypeValidator::isValidConditionalUserPropertyName(name, &failureCode)) {
        return;
    }
    APMConditionalUserProperty request;
    request.setName(std::string(name));
    request.setExpiredEvent(std::move(clearEvent));
    const std::shared_ptr<APMConditionalUserPropertyEngine> engine =
        APMConditionalUserPropertyEngine::current();
    if (!engine) {
        return;
    }
    engine->scheduler()->scheduleOnWorkerQueue(
        "APMConditionalUserPropertyController:113",
        [weakSelf = weak_from_this(), request = std::move(request)] {
            if (const auto self = weakSelf.lock()) {
                self->removeConditionalUserPropertyOnWorkerQueue(&request);
            }
        });
}

std::optional<std::vector<APMConditionalUserProperty>>
APMConditionalUserPropertyController::conditionalUserPropertiesWithNamePrefix(
    std::optional<std::string> prefix, std::optional<std::string> origin) {
    const std::shared_ptr<APMConditionalUserPropertyEngine> engine =
        APMConditionalUserPropertyEngine::current();
    // On the worker queue the block below could only run after this call gave up: waiting
    // would stall every event for the whole timeout.
    if (!engine || engine->scheduler()->workerQueue()->isCurrent()) {
        return std::nullopt;
    }
    const auto answer = std::make_shared<QueryAnswer>();
    const platform::DispatchSemaphore answered;
    engine->scheduler()->scheduleOnWorkerQueue(
        "APMConditionalUserPropertyController:161", [answer, answered, prefix, origin] {
            const std::shared_ptr<APMConditionalUserPropertyEngine> current =
                APMConditionalUserPropertyEngine::current();
            if (!current || !current->isEnabled()) {
                monitor().logWithLevel(3, 11005,
                                       "Cannot query for conditional user properties. Analytics "
                                       "is disabled");
            } else if (const std::shared_ptr<APMDatabase>& database = current->database()) {
                sdk::Error error;
                std::optional<std::vector<APMConditionalUserProperty>> properties =
                    database->conditionalUserPropertiesWithPrefix(prefix, origin, &error);
                const std::lock_guard<std::mutex> lock(answer->mutex);
                answer->properties = std::move(properties);
                answer->error = std::move(error);
            }
            answered.signal();
        });
    (void)answered.wait(std::chrono::milliseconds(queryTimeoutMillis.load()));

    const std::lock_guard<std::mutex> lock(answer->mutex);
    if (!answer->properties && !answer->error.ok()) {
        monitor().logWithLevel(2, 11006,
                               "Cannot query for conditional user properties. Name prefix, "
                               "origin, error",
                               prefix ? APMMonitorContext(*prefix) : APMMonitorContext(),
                               origin ? APMMonitorContext(*origin) : APMMonitorContext(),
                               answer->error);
        return std::nullopt;
    }
    return std::move(answer->properties);
}

// Store and remove -------------------------------------------------------------------------------

void APMConditionalUserPropertyController::setConditionalUserPropertyOnWorkerQueue(
    const APMConditionalUserProperty* property) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("setConditionalUserPropertyOnWorkerQueue");
    const std::shared_ptr<APMConditionalUserPropertyEngine> engine = engineWithDatabase();
    if (!engine || !engine->isEnabled()) {
        monitor().logWithLevel(3, 11007,
                               "Cannot set conditional user property. Analytics is disabled");
        return;
    }
    if (property == nullptr) {
        monitor().logWithLevel(2, 11008,
                               "Cannot set nil conditional user property on worker queue");
        return;
    }
    APMDatabase& database = *engine->database();
    std::optional<APMEvent> triggeredEvent;
    const bool committed = database.performTransaction(
        [&] { return storeProperty(database, *property, triggeredEvent); });
    if (committed && triggeredEvent) {
        engine->writeEventOnWorkerQueue(std::move(*triggeredEvent));
    }
}

void APMConditionalUserPropertyController::removeConditionalUserPropertyOnWorkerQueue(
    const APMConditionalUserProperty* request) {
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        "removeConditionalUserPropertyOnWorkerQueue:");
    const std::shared_ptr<APMConditionalUserPropertyEngine> engine = engineWithDatabase();
    if (!engine || !engine->isEnabled()) {
        monitor().logWithLevel(3, 11015,
                               "Cannot remove conditional user property. Analytics is disabled");
        return;
    }
    if (request == nullptr) {
        monitor().logWithLevel(0, 11016,
                               "Cannot remove nil conditional user property on worker queue");
        return;
    }
    APMDatabase& database = *engine->database();
    const std::string& name = request->name();
    std::optional<APMEvent> clearEvent;
    const bool committed = database.performTransaction([&] {
        clearEvent.reset();
        sdk::Error error;
        const std::optional<APMConditionalUserProperty> saved =
            database.conditionalUserPropertyWithName(name, &error);
        if (!saved) {
            if (!error.ok()) {
                monitor().logWithLevel(1, 11017,
                                       "Cannot query conditional user property to remove. Name, "
                                       "origin, error",
                                       name, request->origin(), error);
                return false;
            }
            monitor().logWithLevel(4, 11018,
                                   "Cannot remove nonexistent conditional user property. Name, "
                                   "origin",
                                   name, request->origin());
            return true;
        }
        if (!database.deleteConditionalUserPropertyWithName(name, &error)) {
            monitor().logWithLevel(1, 11019,
                                   "Cannot delete conditional user property. Name, origin, error",
                                   name, saved->origin(), error);
            return false;
        }
        if (saved->isActive() && !database.deleteUserAttributeWithName(name, &error)) {
            monitor().logWithLevel(1, 11020,
                                   "Cannot remove conditional user property. Failed to delete the "
                                   "user property. Name, origin, error",
                                   name, saved->origin(), error);
            return false;
        }
        if (request->expiredEvent()) {
            clearEvent = eventFromTemplate(*request->expiredEvent(), saved->origin(),
                                           APMCurrentTimeInterval());
        }
        return true;
    });
    if (committed && clearEvent) {
        engine->writeEventOnWorkerQueue(std::move(*clearEvent));
    }
}

// Per event --------------------------------------------------------------------------------------

std::optional<std::vector<APMEvent>>
APMConditionalUserPropertyController::processEventOnWorkerQueue(const APMEvent& event) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("processEventOnWorkerQueue:");
    const std::shared_ptr<APMConditionalUserPropertyEngine> engine = engineWithDatabase();
    if (!engine) {
        return std::nullopt;
    }
    std::vector<APMEvent> timedOut;
    std::vector<APMEvent> expired;
    std::optional<std::vector<APMEvent>> triggered;
    const bool committed = engine->database()->performTransaction([&] {
        timedOut.clear();
        expired.clear();
        if (!removeTimedOutCUPWithTimedOutEvents(timedOut) ||
            !removeExpiredCUPWithExpiredEvents(expired)) {
            return false;
        }
        triggered = updateConditionalUserPropertiesWithEventNameOnWorkerQueue(event.name());
        return triggered.has_value();
    });
    if (!committed) {
        return std::nullopt;
    }
    for (APMEvent& each : timedOut) {
        engine->writeFilteredEventOnWorkerQueue(std::move(each));
    }
    for (APMEvent& each : expired) {
        engine->writeFilteredEventOnWorkerQueue(std::move(each));
    }
    return triggered;
}

bool APMConditionalUserPropertyController::removeTimedOutCUPWithTimedOutEvents(
    std::vector<APMEvent>& timedOutEvents) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("removeTimedOutCUPWithTimedOutEvents:");
    const std::shared_ptr<APMConditionalUserPropertyEngine> engine = engineWithDatabase();
    return engine && removeEndedProperties(*engine->database(), kTimedOut, timedOutEvents);
}

bool APMConditionalUserPropertyController::removeExpiredCUPWithExpiredEvents(
    std::vector<APMEvent>& expiredEvents) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("removeExpiredCUPWithExpiredEvents:");
    const std::shared_ptr<APMConditionalUserPropertyEngine> engine = engineWithDatabase();
    return engine && removeEndedProperties(*engine->database(), kExpired, expiredEvents);
}

std::optional<std::vector<APMEvent>>
APMConditionalUserPropertyController::updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
    std::string_view eventName) {
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        "updateConditionalUserPropertiesBasedOnEventNameOnWorkerQueue:");
    const std::shared_ptr<APMConditionalUserPropertyEngine> engine = engineWithDatabase();
    if (!engine) {
        return std::nullopt;
    }
    APMDatabase& database = *engine->database();
    sdk::Error error;
    std::optional<std::vector<APMConditionalUserProperty>> properties =
        database.triggeredConditionalUserPropertiesWithEventName(eventName, &error);
    if (properties && properties->empty()) {
        const auto& reserved = APMAllowedReservedEventNames();
        if (const auto mapped = reserved.find(eventName); mapped != reserved.end()) {
            properties =
                database.triggeredConditionalUserPropertiesWithEventName(mapped->second, &error);
        }
    }
    if (!properties) {
        monitor().logWithLevel(1, 10008,
                               "Cannot fetch triggering conditional user properties. Event name, "
                               "error",
                               APMDebugEventName(eventName), error);
        return std::nullopt;
    }
    std::vector<APMEvent> events;
    for (APMConditionalUserProperty& property : *properties) {
        const double now = APMCurrentTimeInterval();
        sdk::Error attributeError;
        if (!property.value() || !writeUserAttribute(database, property.origin(), property.name(),
                                                     *property.value(), now, &attributeError)) {
            monitor().logWithLevel(1, 10009,
                                   "Cannot update user property from conditional user property. "
                                   "Name, origin, error",
                                   property.name(), property.origin(), attributeError);
        } else {
            monitor().logWithLevel(7, 10010, "User property updated. Name, origin, value",
                                   property.name(), property.origin(), property.value()->value());
        }
        if (property.triggeredEvent()) {
            if (std::optional<APMEvent> made =
                    eventFromTemplate(*property.triggeredEvent(), property.origin(), now)) {
                events.push_back(std::move(*made));
            }
        }
        property.setActive(true);
        property.setTriggeredTimestamp(now);
        sdk::Error rowError;
        if (!database.updateConditionalUserProperty(&property, &rowError)) {
            monitor().logWithLevel(1, 10011,
                                   "Cannot update conditional user property. Name, origin, error",
                                   property.name(), property.origin(), rowError);
            return std::nullopt;
        }
    }
    return events;
}
