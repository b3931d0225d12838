#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/storage/APMConditionalUserProperty.h"

class APMConditionalUserPropertyEngine;

// Conditional user properties: other SDK components set, clear and query them from any thread;
// their state lives in the engine's "conditional_properties" rows and changes only on the
// engine's worker queue, inside database transactions.
//
// Design notes.
// States of one property (its row): inactive (waits for an event named triggerEventName until
// creation + triggerTimeout), active (the user property holds its value since
// triggeredTimestamp, until triggeredTimestamp + timeToLive), gone (no row). Timeouts and
// expiry are only noticed when the engine writes an event (processEventOnWorkerQueue).
// Invariants:
//   1. Events made by a transition are written only after their transaction committed:
//      timed-out and expired events before the event being written, triggered events after it.
//   2. A rolled-back store leaves neither the user property nor a triggered event behind.
//
// Monitor codes: 10000-10011 (per event), 11000-11020 (validity, set, clear, query).
// "Now" is APMCurrentTimeInterval(). The engine it works with is the one in force,
// APMConditionalUserPropertyEngine::current() (the engine's shared instance), looked up anew
// on every call.
//
// Thread-safety: the public set, clear and query may be called from any thread; the methods
// named ...OnWorkerQueue, processEventOnWorkerQueue and the remove/update helpers run on the
// engine's worker queue only. The controller holds no state of its own.
class APMConditionalUserPropertyController
    : public std::enable_shared_from_this<APMConditionalUserPropertyController> {
  public:
    // The one controller, made on first use. Any thread.
    static std::shared_ptr<APMConditionalUserPropertyController> sharedInstance();

    // Stores a copy of `property` under `name`, created now; a property without a value removes
    // the stored one (its expiredEvent then serves as the clear event). Null logs 11002; an
    // invalid property is dropped with the validator's log. Asynchronous. Any thread.
    void setConditionalUserProperty(const APMConditionalUserProperty* property,
                                    std::string_view name);
    // Removes the property `name`; `clearEvent`, when given, is then logged with the stored
    // origin. An invalid name is dropped with the validator's log. Asynchronous. Any thread.
    void clearConditionalUserPropertyWithClearEvent(std::optional<APMEvent> clearEvent,
                                                    std::string_view name);
    // The stored properties whose names begin with `prefix` and whose origin is `origin` (each
    // when given; ASCII case-insensitive, no wildcards). Waits for the worker queue at most the
    // query timeout (30 s). No value when measurement is disabled (11005), the read failed
    // (11006), no answer came in time, or when called on the worker queue itself (at once:
    // that queue could never answer). Any thread.
    std::optional<std::vector<APMConditionalUserProperty>> conditionalUserPropertiesWithNamePrefix(
        std::optional<std::string> prefix, std::optional<std::string> origin);

    // Worker queue ---------------------------------------------------------------------------

    // Stores `property` (11007 disabled, 11008 null, 11009-11014); writes its triggered event
    // after the commit when it became active at once.
    void setConditionalUserPropertyOnWorkerQueue(const APMConditionalUserProperty* property);
    // Removes the property of `request`'s name (11015 disabled, 11016 null, 11017-11020); writes
    // `request`'s expiredEvent, as the clear event, after the commit.
    void removeConditionalUserPropertyOnWorkerQueue(const APMConditionalUserProperty* request);
    // Times out, expires and triggers the stored properties for `event`; writes the timed-out
    // and expired events and returns the triggered ones (the caller writes them after `event`).
    // No value when the transaction did not commit.
    std::optional<std::vector<APMEvent>> processEventOnWorkerQueue(const APMEvent& event);
    // Deletes the timed-out properties and makes their timed-out events. False (10001, 10003)
    // when the caller's transaction must roll back.
    bool removeTimedOutCUPWithTimedOutEvents(std::vector<APMEvent>& timedOutEvents);
    // Deletes the expired properties with their user properties and makes their expired
    // events. False (10004, 10006, 10007) when the caller's transaction must roll back.
    bool removeExpiredCUPWithExpiredEvents(std::vector<APMEvent>& expiredEvents);
    // Activates the properties waiting for `eventName` (or, when none waits for it, for its
    // reserved short name): sets their user properties and returns their triggered events. No
    // value (10008, 10011) when the caller's transaction must roll back.
    std::optional<std::vector<APMEvent>> updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
        std::string_view eventName);

    // Public only for std::make_shared; use sharedInstance().
    APMConditionalUserPropertyController() = default;

  private:
    // Tests shorten the query timeout through it.
    friend class APMConditionalUserPropertyControllerTestPeer;

    // The engine in force with an open database, or null.
    static std::shared_ptr<APMConditionalUserPropertyEngine> engineWithDatabase();
    // How long a query waits for the worker queue; no value restores 30 s. Any thread.
    static void setQueryTimeout(std::optional<std::chrono::milliseconds> timeout);
};
