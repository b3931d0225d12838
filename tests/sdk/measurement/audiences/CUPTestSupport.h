#pragma once

#include <optional>
#include <string>

#include "sdk/measurement/audiences/APMConditionalUserPropertyController.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"

namespace sdktest {

// A started engine on a fixed clock and the shared controller, with properties and events as
// the tests of conditional user properties need them.
class ConditionalPropertyTest : public EngineTest {
  protected:
    static constexpr double kT0 = 1800000000;

    void SetUp() override {
        TEST_APMSetCurrentTimeInterval(kT0);
        ASSERT_TRUE(startEngine(kAppID));
        monitor_.clear();
    }
    void TearDown() override { TEST_APMSetCurrentTimeInterval(std::nullopt); }

    static void setClock(double seconds) { TEST_APMSetCurrentTimeInterval(seconds); }

    // A template event named `name` with one parameter.
    static APMEvent templateEvent(const std::string& name) {
        std::optional<APMEvent> event =
            APMEvent::initWithOrigin("tmpl", false, name, 0, 0, {{"tag", APMValue(name + "_tag")}},
                                     APMRemoteConfig::current()->parameterLimits());
        EXPECT_TRUE(event) << name;
        return *event;
    }

    // Built in place: GCC 12 at -O2 takes a moved temporary for uninitialised here.
    static std::optional<APMValue> stringValue(const std::string& text) {
        std::optional<APMValue> value;
        value.emplace(text);
        return value;
    }

    // A property of origin "rcm" valued `value`, waiting for `trigger` (none: active at once),
    // with a template for each of its three events ("<value>_triggered" and so on).
    static APMConditionalUserProperty property(const std::string& value,
                                               std::optional<std::string> trigger = std::nullopt,
                                               double timeout = 60, double timeToLive = 3600) {
        APMConditionalUserProperty p;
        p.setOrigin("rcm");
        p.setValue(stringValue(value));
        p.setTriggerEventName(std::move(trigger));
        p.setTriggerTimeout(timeout);
        p.setTimeToLive(timeToLive);
        p.setTriggeredEvent(templateEvent(value + "_triggered"));
        p.setTimedOutEvent(templateEvent(value + "_timed_out"));
        p.setExpiredEvent(templateEvent(value + "_expired"));
        return p;
    }

    static APMConditionalUserPropertyController& controller() {
        return *APMConditionalUserPropertyController::sharedInstance();
    }

    // Sets through the controller and waits for the worker queue.
    void set(const APMConditionalUserProperty& p, const std::string& name) {
        controller().setConditionalUserProperty(&p, name);
        drain(*engine_);
    }
    void clear(std::optional<APMEvent> clearEvent, const std::string& name) {
        controller().clearConditionalUserPropertyWithClearEvent(std::move(clearEvent), name);
        drain(*engine_);
    }

    // "active|triggered_timestamp|value|trigger_event_name" of the row, empty when none.
    std::string row(const std::string& name) {
        return sqlite(
            "SELECT active, triggered_timestamp, value, ifnull(trigger_event_name, '-') FROM "
            "conditional_properties WHERE name = '" +
            name + "';");
    }
    // "value|set_timestamp|origin" of the user property, empty when none.
    std::string userProperty(const std::string& name) {
        return sqlite("SELECT value, set_timestamp, origin FROM user_attributes WHERE name = '" +
                      name + "';");
    }
    // The written events' names in rowid order, one per line.
    std::string writtenEvents() { return sqlite("SELECT name FROM raw_events ORDER BY rowid;"); }
    // protoc's text of the last written event named `name`.
    std::string decodedEvent(const std::string& name) {
        return protocDecode(fromHex(sqlite("SELECT hex(data) FROM raw_events WHERE name = '" +
                                           name + "' ORDER BY rowid DESC LIMIT 1;")),
                            "apmpb.Event");
    }
};

}  // namespace sdktest
