#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMValue.h"

// The conditional user properties the connector hands on: the one place the connector reaches
// them through. The shared controller forwards to the measurement's controller
// (REROdazadeveEngineConditionalUserProperties); the base class's own methods do nothing, for
// tests that record calls.

// A conditional user property as the connector fills it from a caller's dictionary: the
// record's fields under their own names.
struct REROdazadeveConditionalUserProperty {
    std::optional<std::string> name;
    std::optional<std::string> origin;
    std::optional<APMValue> value;
    std::optional<std::string> triggerEventName;
    double triggerTimeout = 0;
    double timeToLive = 0;
    std::optional<APMEvent> triggeredEvent;
    std::optional<APMEvent> timedOutEvent;
    std::optional<APMEvent> expiredEvent;
    double creationTimestamp = 0;
    bool active = false;
    double triggeredTimestamp = 0;
};

// The controller the connector calls. Thread-safe: callers use any thread.
class REROdazadeveConditionalUserPropertyController {
  public:
    virtual ~REROdazadeveConditionalUserPropertyController() = default;

    virtual void setConditionalUserProperty(const REROdazadeveConditionalUserProperty& property,
                                            const std::string& name) {
        (void)property;
        (void)name;
    }
    virtual void clearConditionalUserPropertyWithClearEvent(const std::optional<APMEvent>& event,
                                                            const std::string& name) {
        (void)event;
        (void)name;
    }
    virtual std::vector<REROdazadeveConditionalUserProperty>
    conditionalUserPropertiesWithNamePrefix(const std::optional<std::string>& prefix,
                                            const std::optional<std::string>& origin) {
        (void)prefix;
        (void)origin;
        return {};
    }

    // The shared controller; the engine's until another is installed.
    static std::shared_ptr<REROdazadeveConditionalUserPropertyController> sharedInstance();
    // Installs `controller`; null restores the engine's.
    static void setSharedInstance(
        std::shared_ptr<REROdazadeveConditionalUserPropertyController> controller);
};
