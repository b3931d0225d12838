#pragma once

#include <optional>
#include <string>
#include <utility>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMValue.h"

// A user property value set later or for a limited time: it waits for its trigger event at
// most `triggerTimeout` seconds from its creation, then lives `timeToLive` seconds from the
// moment it was triggered. The three events are templates logged when it is triggered, times
// out, or expires. Times are seconds since 1970. A plain value; copies are independent; one
// thread at a time.
class APMConditionalUserProperty {
  public:
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    const std::string& origin() const { return origin_; }
    void setOrigin(std::string origin) { origin_ = std::move(origin); }
    // None means the property is to be removed.
    const std::optional<APMValue>& value() const { return value_; }
    void setValue(std::optional<APMValue> value) { value_ = std::move(value); }

    double creationTimestamp() const { return creationTimestamp_; }
    void setCreationTimestamp(double seconds) { creationTimestamp_ = seconds; }
    bool isActive() const { return active_; }
    void setActive(bool active) { active_ = active; }
    double triggerTimeout() const { return triggerTimeout_; }
    void setTriggerTimeout(double seconds) { triggerTimeout_ = seconds; }
    double triggeredTimestamp() const { return triggeredTimestamp_; }
    void setTriggeredTimestamp(double seconds) { triggeredTimestamp_ = seconds; }
    double timeToLive() const { return timeToLive_; }
    void setTimeToLive(double seconds) { timeToLive_ = seconds; }

    // None or empty: active at once.
    const std::optional<std::string>& triggerEventName() const { return triggerEventName_; }
    void setTriggerEventName(std::optional<std::string> name) {
        triggerEventName_ = std::move(name);
    }
    const std::optional<APMEvent>& triggeredEvent() const { return triggeredEvent_; }
    void setTriggeredEvent(std::optional<APMEvent> event) { triggeredEvent_ = std::move(event); }
    const std::optional<APMEvent>& timedOutEvent() const { return timedOutEvent_; }
    void setTimedOutEvent(std::optional<APMEvent> event) { timedOutEvent_ = std::move(event); }
    const std::optional<APMEvent>& expiredEvent() const { return expiredEvent_; }
    void setExpiredEvent(std::optional<APMEvent> event) { expiredEvent_ = std::move(event); }

  private:
    std::string name_;
    std::string origin_;
    std::optional<APMValue> value_;
    double creationTimestamp_ = 0.0;
    bool active_ = false;
    double triggerTimeout_ = 0.0;
    double triggeredTimestamp_ = 0.0;
    double timeToLive_ = 0.0;
    std::optional<std::string> triggerEventName_;
    std::optional<APMEvent> triggeredEvent_;
    std::optional<APMEvent> timedOutEvent_;
    std::optional<APMEvent> expiredEvent_;
};

// Whether `property` may be stored: its origin, name and (when set) value pass the validator's
// conditional user property rules, which log their own failures; its trigger timeout and time
// to live lie in [0.001 s, 180 days] (else 11000 or 11001). Any thread.
bool APMIsValidConditionalUserProperty(const APMConditionalUserProperty& property);
