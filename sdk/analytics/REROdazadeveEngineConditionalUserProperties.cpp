#include "sdk/analytics/REROdazadeveEngineConditionalUserProperties.h"

#include "sdk/measurement/audiences/APMConditionalUserPropertyController.h"

namespace {

APMConditionalUserProperty engineRecord(const REROdazadeveConditionalUserProperty& property) {
    APMConditionalUserProperty record;
    record.setName(property.name.value_or(""));
    record.setOrigin(property.origin.value_or(""));
    record.setValue(property.value);
    record.setTriggerEventName(property.triggerEventName);
    record.setTriggerTimeout(property.triggerTimeout);
    record.setTimeToLive(property.timeToLive);
    record.setTriggeredEvent(property.triggeredEvent);
    record.setTimedOutEvent(property.timedOutEvent);
    record.setExpiredEvent(property.expiredEvent);
    record.setCreationTimestamp(property.creationTimestamp);
    record.setActive(property.active);
    record.setTriggeredTimestamp(property.triggeredTimestamp);
    return record;
}

REROdazadeveConditionalUserProperty connectorRecord(const APMConditionalUserProperty& record) {
    REROdazadeveConditionalUserProperty property;
    property.name = record.name();
    property.origin = record.origin();
    property.value = record.value();
    property.triggerEventName = record.triggerEventName();
    property.triggerTimeout = record.triggerTimeout();
    property.timeToLive = record.timeToLive();
    property.triggeredEvent = record.triggeredEvent();
    property.timedOutEvent = record.timedOutEvent();
    property.expiredEvent = record.expiredEvent();
    property.creationTimestamp = record.creationTimestamp();
    property.active = record.isActive();
    property.triggeredTimestamp = record.triggeredTimestamp();
    return property;
}

}  // namespace

void REROdazadeveEngineConditionalUserProperties::setConditionalUserProperty(
    const REROdazadeveConditionalUserProperty& property, const std::string& name) {
    const APMConditionalUserProperty record = engineRecord(property);
    APMConditionalUserPropertyController::sharedInstance()->setConditionalUserProperty(&record,
                                                                                       name);
}

void REROdazadeveEngineConditionalUserProperties::clearConditionalUserPropertyWithClearEvent(
    const std::optional<APMEvent>& event, const std::string& name) {
    APMConditionalUserPropertyController::sharedInstance()
        ->clearConditionalUserPropertyWithClearEvent(event, name);
}

std::vector<REROdazadeveConditionalUserProperty>
REROdazadeveEngineConditionalUserProperties::conditionalUserPropertiesWithNamePrefix(
    const std::optional<std::string>& prefix, const std::optional<std::string>& origin) {
    std::vector<REROdazadeveConditionalUserProperty> found;
    if (const std::optional<std::vector<APMConditionalUserProperty>> stored =
            APMConditionalUserPropertyController::sharedInstance()
                ->conditionalUserPropertiesWithNamePrefix(prefix, origin)) {
        for (const APMConditionalUserProperty& record : *stored) {
            found.push_back(connectorRecord(record));
        }
    }
    return found;
}
