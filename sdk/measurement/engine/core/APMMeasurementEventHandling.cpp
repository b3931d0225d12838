// The first stage of the event pipeline on the worker queue: collection switch, safelist,
// session, duplicates, event editing, then the write and the upload schedule.
#include <algorithm>

#include "sdk/measurement/audiences/APMConditionalUserPropertyController.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

constexpr std::string_view kFeatureRolloutsParameter = "_ffr";

// The event's parameters as raw input, with `name` set to `value`.
APMRawParameters rawParametersWith(const APMEvent& event, std::string_view name, APMValue value) {
    APMRawParameters raw;
    for (const auto& [key, parameter] : event.parameters()) {
        raw.emplace(key, parameter);
    }
    raw.insert_or_assign(std::string(name), std::move(value));
    return raw;
}

const APMValue* parameter(const APMEvent& event, std::string_view name) {
    const auto found = event.parameters().find(name);
    return found == event.parameters().end() ? nullptr : &found->second;
}

}  // namespace

void APMMeasurement::handleInternalEventOnWorkerQueue(APMEvent event) {
    if (event.name() != "_err") {
        sdk::Value::Dictionary defaults =
            persistedConfig_->defaultEventParameters().value_or(sdk::Value::Dictionary{});
        if (event.name() == "_cmp") {
            std::erase_if(defaults,
                          [](const auto& entry) { return entry.first.starts_with("cad_"); });
        }
        event.applyParameters(APMRawParametersFromDictionary(defaults), true,
                              APMRemoteConfig::current()->parameterLimits());
    }
    const APMEvent handled = event;
    handleEventOnWorkerQueue(std::move(event));
    notifyEventListeners(handled);
}

void APMMeasurement::handleEventOnWorkerQueue(APMEvent event) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("handleEventOnWorkerQueue:");
    if (!isEnabled()) {
        monitor().logWithLevel(7, 23049, "Analytics is disabled. Event not logged");
        return;
    }
    std::optional<APMEvent> safelisted = eventAfterSafelistingEvent(std::move(event));
    if (!safelisted) {
        return;
    }
    processSessionFromEvent(*safelisted);
    if (!dedupeSubscriptionEvent(*safelisted) ||
        shouldDropDuplicatedSessionStartWithRolloutEvent(*safelisted)) {
        return;
    }
    std::optional<APMEvent> current =
        appExceptionEventWithRazudizoFeatureRollouts(std::move(*safelisted));
    if (!current) {
        return;
    }
    writeSessionStartEventOnWorkerQueue(*current);

    EventEditingResult editing = editEventOnWorkerQueue(*current);
    if (editing.error) {
        const std::string displayName = APMDebugEventName(current->name());
        writeEventOnWorkerQueue(std::move(*current));
        monitor().logWithLevel(1, 23223, "Event editing failed. Event name", displayName);
        // As before editing existed: this event does not re-plan uploads.
        return;
    }
    writeEventOnWorkerQueue(editing.editedEvent ? std::move(*editing.editedEvent)
                                                : std::move(*current));
    for (EventEditingResult::CreatedEvent& created : editing.createdEvents) {
        std::string origin = "app";
        if (const auto found = created.parameters.find("_o"); found != created.parameters.end()) {
            const sdk::Value* raw = std::get_if<sdk::Value>(&found->second);
            const APMValue* value = std::get_if<APMValue>(&found->second);
            if (raw && raw->string()) {
                origin = *raw->string();
            } else if (value && value->stringValue()) {
                origin = *value->stringValue();
            }
        }
        if (std::optional<APMEvent> made = APMEvent::initWithOrigin(
                origin, false, created.name, created.timestamp, 0, created.parameters,
                APMRemoteConfig::current()->parameterLimits())) {
            writeEventOnWorkerQueue(std::move(*made));
        }
    }
    updateSchedule();
}

std::optional<APMEvent> APMMeasurement::eventAfterSafelistingEvent(APMEvent event) {
    if (safelistedEvents_.empty()) {
        return event;
    }
    if (std::find(safelistedEvents_.begin(), safelistedEvents_.end(), event.name()) ==
        safelistedEvents_.end()) {
        monitor().logWithLevel(3, 23174,
                               "Event dropped. Reason: not in allowlist. Event name, origin",
                               APMDebugEventName(event.name()), event.origin());
        return std::nullopt;
    }
    return event.copyWithParameters(
        rawParametersWith(event, "ma_safelisted", APMValue(std::int64_t{1})),
        APMRemoteConfig::current()->parameterLimits());
}

bool APMMeasurement::dedupeSubscriptionEvent(const APMEvent& event) {
    if (!APMIsSubscriptionEvent(event)) {
        return true;
    }
    const APMValue* id = parameter(event, "_did");
    if (id == nullptr || !id->isInt64()) {
        return true;
    }
    const APMValue* product = parameter(event, "product_id");
    const std::string productID =
        product && product->stringValue() ? *product->stringValue() : std::string();
    sdk::Error error;
    const std::optional<bool> isNew =
        database_->insertIfNotDuplicateSubscriptionID(std::to_string(id->int64Value()), &error);
    if (!isNew) {
        monitor().logWithLevel(2, 23181, "Failed to save subscription ID. Product ID, error",
                               productID, error);
    } else if (!*isNew) {
        monitor().logWithLevel(4, 23182,
                               "Event dropped. Reason: Subscription purchase is a duplicate. "
                               "Product ID",
                               productID);
        return false;
    }
    sdk::Error trimError;
    const std::optional<std::int64_t> deleted = database_->deleteSubscriptionsOverLimit(&trimError);
    if (!deleted) {
        // The trim only bounds the table of seen IDs; the purchase itself is valid and kept.
        monitor().logWithLevel(5, 23183, "Failed to delete older subscription records. Error",
                               trimError);
    } else if (*deleted != 0) {
        monitor().logWithLevel(5, 23184, "Deleted older subscription records beyond limit",
                               *deleted);
    }
    return true;
}

bool APMMeasurement::shouldDropDuplicatedSessionStartWithRolloutEvent(const APMEvent& event) {
    if (event.name() != "_ssr") {
        return false;
    }
    const APMValue* received = parameter(event, kFeatureRolloutsParameter);
    const std::string* text = received ? received->stringValue() : nullptr;
    const std::optional<std::string> stored = persistedConfig_->razudizoFeatureRollouts();
    const bool duplicate =
        stored ? text && *text == *stored : received == nullptr || (text && text->empty());
    if (duplicate) {
        monitor().logWithLevel(8, 23191, "Feature rollouts value is a duplicate, dropping event");
        return true;
    }
    if (text && !text->empty()) {
        persistedConfig_->setRazudizoFeatureRollouts(*text);
    } else {
        persistedConfig_->setRazudizoFeatureRollouts(std::nullopt);
        if (received && !text) {
            monitor().logWithLevel(2, 23190,
                                   "Unable to process razudizo feature rollouts, value is not a "
                                   "string.");
        }
    }
    return false;
}

std::optional<APMEvent> APMMeasurement::appExceptionEventWithRazudizoFeatureRollouts(
    APMEvent event) {
    if (event.name() != "_ae") {
        return event;
    }
    const std::optional<std::string> stored = persistedConfig_->razudizoFeatureRollouts();
    if (!stored) {
        return event;
    }
    return event.copyWithParameters(
        rawParametersWith(event, kFeatureRolloutsParameter, APMValue(*stored)),
        APMRemoteConfig::current()->parameterLimits());
}

void APMMeasurement::writeSessionStartEventOnWorkerQueue(const APMEvent& event) {
    if (event.name() != "_s") {
        return;
    }
    APMScheduler::checkOnBackgroundThreadWithMethodName("writeSessionStartEventOnWorkerQueue:");
    const APMValue* sessionID = parameter(event, "_sid");
    const APMValue* sessionNumber = parameter(event, "_sno");
    if (sessionID && sessionNumber) {
        backfillSessionID(sessionID->value(), sessionNumber->value());
    }
    if (const std::optional<std::string> stored = persistedConfig_->razudizoFeatureRollouts()) {
        if (std::optional<APMEvent> rollouts = APMEvent::initWithOrigin(
                "auto", false, "_ssr", APMCurrentTimeInterval(), 0,
                {{std::string(kFeatureRolloutsParameter), APMValue(*stored)}},
                APMRemoteConfig::current()->parameterLimits())) {
            writeEventOnWorkerQueue(std::move(*rollouts));
        }
    }
}

void APMMeasurement::writeEventOnWorkerQueue(APMEvent event) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("writeEventOnWorkerQueue:");
    monitor().logWithLevel(7, 23051, "Logging event: origin, name, params", event.origin(),
                           APMDebugEventName(event.name()),
                           APMDebugParametersDescription(event.parameters()));
    std::optional<std::vector<APMEvent>> triggered =
        conditionalUserProperties_->processEventOnWorkerQueue(event);
    if (!triggered) {
        monitor().logWithLevel(4, 23050,
                               "Unable to process conditional user property. Event name, origin",
                               APMDebugEventName(event.name()), event.origin());
    }
    writeFilteredEventOnWorkerQueue(std::move(event));
    for (APMEvent& each : triggered.value_or(std::vector<APMEvent>{})) {
        writeFilteredEventOnWorkerQueue(std::move(each));
    }
}
