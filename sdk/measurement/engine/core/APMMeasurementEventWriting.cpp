// The write step of the event pipeline: block lists, conversions, lifetime value, daily limits,
// real-time marking, then the event's aggregates, metadata and raw-event row in one transaction.
#include <algorithm>
#include <limits>

#include "sdk/measurement/attribution/APMLifetimeValueRecorder.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/APMDigest.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMEventAggregates.h"
#include "sdk/measurement/engine/APMEventNameLists.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/core/APMDatabaseLifetimeValueStore.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDailyCounts.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

// The length limit of the offending name in the error events of this step.
constexpr std::int32_t kErrorNameLimit = 40;
// Error events logged here.
constexpr std::int64_t kErrorEventNameCardinality = 8;
constexpr std::int64_t kErrorEventBlocklisted = 11;
constexpr std::int64_t kErrorPublicEventsPerDay = 16;
// Limit messages repeat once per this many events over the limit.
constexpr std::int64_t kLimitLogInterval = 1000;

bool isErrorEventName(std::string_view name) {
    return name == "_err";
}

// Events of this set count against the daily real-time limit (none in debug mode).
bool isRealtimeLimited(std::string_view name, bool debugMode) {
    return !debugMode && name != "_iap" && name != "_f" && name != "_dcu" && name != "_fx";
}

bool isDCUEvent(std::string_view name, bool debugMode) {
    return !debugMode && name == "_dcu";
}

// 1 + the elements of every array parameter, saturated to int32.
std::int32_t effectiveEventCount(const APMEvent& event) {
    const std::int64_t count = 1 + APMItemCount(event);
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max()));
}

bool isLimitLogDue(std::int64_t count, std::int64_t limit) {
    return (count - limit) % kLimitLogInterval == 0;
}

// The stored first-open count, a decimal string (read as a number with its sign, saturating;
// anything else counts as 0).
std::int64_t storedCount(const std::optional<sdk::Value>& stored) {
    if (!stored) {
        return 0;
    }
    const std::string* text = stored->string();
    if (text == nullptr) {
        return stored->numberAsInt().value_or(0);
    }
    std::string_view digits(*text);
    digits.remove_prefix(std::min(digits.find_first_not_of(" \t"), digits.size()));
    const bool negative = digits.starts_with('-');
    if (digits.starts_with('+') || negative) {
        digits.remove_prefix(1);
    }
    std::uint64_t magnitude = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            break;
        }
        magnitude = std::min<std::uint64_t>(magnitude * 10 + static_cast<std::uint64_t>(c - '0'),
                                            std::uint64_t{1} << 63);
    }
    if (negative) {
        return magnitude >= (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                                     : -static_cast<std::int64_t>(magnitude);
    }
    return magnitude >= (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::max()
                                                 : static_cast<std::int64_t>(magnitude);
}

std::string parameterDescription(const APMEvent& event, std::string_view name) {
    const auto found = event.parameters().find(name);
    return found == event.parameters().end() ? std::string() : found->second.description();
}

}  // namespace

std::int32_t APMMeasurement::currentDay() {
    return APMDayNumber(APMCurrentTimeInterval(), persistedConfig_->midnightOffset());
}

void APMMeasurement::writeFilteredEventOnWorkerQueue(APMEvent event) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("writeFilteredEventOnWorkerQueue:");
    if (remoteConfig_->isEventBlocklisted(event.name())) {
        monitor().logWithLevel(5, 23052, "Rejected event. Event name",
                               APMDebugEventName(event.name()));
        if (!remoteConfig_->blocklistInternal() && !remoteConfig_->blocklistPublic() &&
            !isErrorEventName(event.name())) {
            logErrorEvent(kErrorEventBlocklisted, event.name(), kErrorNameLimit);
        }
        return;
    }
    identity_->updateIdentifiers();
    if (APMIsDefaultConversionEvent(event.name())) {
        event.setConversion(true, remoteConfig_->parameterLimits());
    }
    database_->performTransaction([&] { return writeEventTransaction(event); });
}

bool APMMeasurement::writeEventTransaction(APMEvent& event) {
    if (!updateLifetimeValueWithEvent(event)) {
        return false;
    }
    const bool isPublic = APMIsPublicName(event.name());
    sdk::Error error;
    std::optional<APMDailyCounts> counts = database_->dailyCounts(&error);
    if (!counts) {
        monitor().logWithLevel(1, 23054, "Data loss. Unable to query daily event counts. Error",
                               error);
        return false;
    }
    const bool process = shouldProcessEvent(event, *counts, isPublic);
    const bool realtime = isRealtimeEvent(event, *counts);
    if (!database_->updateDailyCounts(*counts, &error)) {
        monitor().logWithLevel(1, 23061,
                               "Data loss. Unable to update daily event counts. Name, error",
                               APMDebugEventName(event.name()), error);
        return false;
    }
    return process ? writeEvent(event, isPublic, realtime) : true;
}

bool APMMeasurement::updateLifetimeValueWithEvent(const APMEvent& event) {
    if (!APMLifetimeValueRecorder::isPurchaseEvent(event)) {
        return true;
    }
    APMDatabaseLifetimeValueStore store(*database_);
    if (APMLifetimeValueRecorder::recordLifetimeValueToDatabase(store, event)) {
        return true;
    }
    monitor().logWithLevel(1, 23053,
                           "Cannot record lifetime value of event. Name, currency code, "
                           "transaction value",
                           APMDebugEventName(event.name()), parameterDescription(event, "currency"),
                           parameterDescription(event, "value"));
    return false;
}

bool APMMeasurement::shouldProcessEvent(const APMEvent& event, APMDailyCounts& dailyCounts,
                                        bool isPublicEvent) {
    const std::int32_t day = currentDay();
    if (dailyCounts.day() != day) {
        dailyCounts.resetWithNewDay(day);
    }
    const std::int64_t all = dailyCounts.allEventsCount();
    const std::int64_t allLimit = remoteConfig_->maxEventsPerDay();
    const bool underAll = all < allLimit;
    const bool isError = isErrorEventName(event.name());
    bool drop = false;
    if (!underAll) {
        drop = true;
        if (isLimitLogDue(all, allLimit)) {
            monitor().logWithLevel(1, 23055, "Data loss. Too many events logged. Name, limit",
                                   APMDebugEventName(event.name()), allLimit);
        }
    } else if (const std::int64_t errorLimit = remoteConfig_->maxErrorEventsPerDay();
               isError && dailyCounts.errorEventsCount() >= errorLimit) {
        drop = true;
        if (isLimitLogDue(dailyCounts.errorEventsCount(), errorLimit)) {
            monitor().logWithLevel(1, 23056, "Too many error events logged. Error code, limit",
                                   parameterDescription(event, "_err"), errorLimit);
        }
    } else if (const std::int64_t publicLimit = remoteConfig_->maxPublicEventsPerDay();
               !isError && isPublicEvent && dailyCounts.publicEventsCount() >= publicLimit) {
        drop = true;
        if (isLimitLogDue(dailyCounts.publicEventsCount(), publicLimit)) {
            monitor().logWithLevel(1, 23057,
                                   "Data loss. Too many public events logged. Name, limit",
                                   APMDebugEventName(event.name()), publicLimit);
        }
        logErrorEvent(kErrorPublicEventsPerDay, event.name(), kErrorNameLimit);
    }
    const std::int32_t added = isError ? 1 : effectiveEventCount(event);
    if (isError) {
        dailyCounts.incrementErrorEventsCountForCurrentDay(day);
    } else {
        dailyCounts.incrementCountsForCurrentDay(day, isPublicEvent, false, added);
    }
    if (underAll && drop) {
        // A dropped event takes back all it added to the all-events count (its items too), so
        // drops do not use up the day's allowance.
        dailyCounts.decrementAllEventsCount(added);
    }
    return !drop;
}

bool APMMeasurement::isRealtimeEvent(APMEvent& event, APMDailyCounts& dailyCounts) {
    const bool debugMode = monitor().isDebugModeEnabled();
    const bool limited = isRealtimeLimited(event.name(), debugMode);
    const std::int32_t realtimeLimit = remoteConfig_->maxRealtimeEventCountPerDay();
    bool conversionRealtime = false;
    if (event.isConversion() || remoteConfig_->isEventCustomConversion(event.name())) {
        conversionRealtime = !limited || dailyCounts.realtimeCount() < realtimeLimit;
    }
    if (event.isRealtime() && limited && dailyCounts.realtimeCount() >= realtimeLimit) {
        event.setRealtime(false);
        monitor().logWithLevel(4, 23060,
                               "Too many real-time events. Event is no longer real-time. Event "
                               "name, parameters",
                               APMDebugEventName(event.name()),
                               APMDebugParametersDescription(event.parameters()));
    }
    if (event.isRealtime() && isDCUEvent(event.name(), debugMode) &&
        dailyCounts.dcuRealtimeCount() >= remoteConfig_->maxRealtimeDCUEventCountPerDay()) {
        event.setRealtime(false);
    }
    maybeAddDebugAndRealtimeParameters(event);
    return event.isRealtime() || conversionRealtime;
}

void APMMeasurement::maybeAddDebugAndRealtimeParameters(APMEvent& event) {
    if (!monitor().isDebugModeEnabled()) {
        return;
    }
    event.setRealtime(true);
    event.setDebug(true);
    monitor().logWithLevel(7, 23073,
                           "Debug mode is enabled. Marking event as debug and real-time. Event "
                           "name, parameters",
                           APMDebugEventName(event.name()),
                           APMDebugParametersDescription(event.parameters()));
}

bool APMMeasurement::writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime) {
    const std::string displayName = APMDebugEventName(event.name());
    sdk::Error error;
    const std::optional<APMEventAggregates> aggregates =
        database_->eventAggregatesWithName(event.name(), &error);
    if (!aggregates && !error.ok()) {
        monitor().logWithLevel(1, 23063, "Cannot query event aggregates. Name, error", displayName,
                               error);
        return false;
    }
    if (!aggregates) {
        if (isPublicEvent) {
            const std::optional<std::int64_t> names = database_->publicEventCount(&error);
            if (!names) {
                monitor().logWithLevel(1, 23064, "Cannot query event count. Error", error);
                return false;
            }
            if (*names >= remoteConfig_->maxEventNameCardinality()) {
                monitor().logWithLevel(
                    1, 23065, "Cannot set event. Reached limit on set events. Name", displayName);
                logErrorEvent(kErrorEventNameCardinality, event.name(), kErrorNameLimit);
                return false;
            }
        }
        if (!database_->updateEventAggregates(
                APMEventAggregates::initWithName(event.name(), 0, 0, 0, 0), &error)) {
            monitor().logWithLevel(1, 23066, "Data loss. Cannot record event aggregates. Error",
                                   error);
            return false;
        }
    }
    if (identity_->shouldSetLastAdvertisingIDResetUserProperty()) {
        setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    }
    const std::optional<std::vector<APMUserAttribute>> attributes = storedUserAttributes(&error);
    if (!attributes) {
        monitor().logWithLevel(1, 23067, "Data loss. Cannot query user properties. Error", error);
        return false;
    }
    std::unique_ptr<APMPBMeasurementBundle> metadata =
        createRawEventMetadataWithUserAttributes(*attributes);
    addStoredMetadataFields(*metadata);
    const bool hasAdvertisingID =
        APMPBGetString(metadata.get(), apmpb::MeasurementBundle::kResettableDeviceId).has_value();
    if (hasAdvertisingID && persistedConfig_->unmatchedFirstOpenWithoutIDFA()) {
        logFirstOpenConsentedEvent(event.timestamp());
    } else if (!hasAdvertisingID && event.name() == "_f") {
        persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(true);
    }
    if (!database_->insertIfNotExistsRawEventMetadata(metadata.get(), &error)) {
        monitor().logWithLevel(1, 23068, "Data loss. Cannot record event metadata. Error", error);
        return false;
    }
    const std::optional<std::int64_t> deleted = database_->deleteRawEventsOverAbsoluteLimit(&error);
    if (!deleted) {
        monitor().logWithLevel(1, 23069,
                               "Data loss. Unable to check raw event storage limit. Error", error);
        return false;
    }
    if (*deleted != 0) {
        monitor().logWithLevel(4, 23070, "Data loss. Too many events stored on disk. Deleted count",
                               *deleted);
    }
    const sdk::Bytes encoded = metadata->protoBuffer().value_or(sdk::Bytes{});
    if (!database_->insertRawEvent(&event, apm_64LSBMD5(encoded), isRealtime, &error)) {
        monitor().logWithLevel(1, 23071, "Data loss. Cannot record raw event. Error", error);
        return false;
    }
    if (event.name() == "_f") {
        countFirstOpen();
    }
    monitor().logWithLevel(7, 23072, "Event logged. Event name, event params", displayName,
                           APMDebugParametersDescription(event.parameters()));
    return true;
}

void APMMeasurement::countFirstOpen() {
    std::int64_t previous =
        std::max<std::int64_t>(storedCount(persistedConfig_->previousFirstOpenCount()), 0);
    if (previous < std::numeric_limits<std::int64_t>::max()) {
        ++previous;
    }
    // A number, as the persisted configuration keeps it (previousFirstOpenCount() reads both).
    persistedConfig_->setPreviousFirstOpenCount(sdk::Value(previous));
}

void APMMeasurement::logFirstOpenConsentedEvent(double timestamp) {
    persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(false);
    const std::int64_t previous = storedCount(persistedConfig_->previousFirstOpenCount());
    sdk::Error error;
    std::int64_t withoutAdvertisingID = 0;
    // The first-install user property below 1 marks an install without the identifier.
    if (const std::optional<std::vector<APMUserAttribute>> attributes =
            storedUserAttributes(&error)) {
        for (const APMUserAttribute& attribute : *attributes) {
            if (attribute.name() == "_fi" && attribute.value().int64Value() < 1) {
                withoutAdvertisingID = 1;
            }
        }
    }
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    const std::int64_t previousOpens = std::max<std::int64_t>(previous, 1) - 1;
    scheduler_->scheduleOnWorkerQueue(
        "APMMeasurement:1056", [weak, timestamp, previousOpens, withoutAdvertisingID] {
            std::shared_ptr<APMMeasurement> engine = weak.lock();
            if (!engine) {
                return;
            }
            std::optional<APMEvent> event = APMEvent::initWithOrigin(
                "auto", false, "_fx", timestamp, 0,
                {{"_pfo", APMValue(previousOpens)}, {"_uwa", APMValue(withoutAdvertisingID)}},
                APMRemoteConfig::current()->parameterLimits());
            if (event) {
                event->setRealtime(true);
                engine->writeEventOnWorkerQueue(std::move(*event));
            }
        });
}
