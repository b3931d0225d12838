#pragma once

#include <string>
#include <vector>

#include "sdk/measurement/script/APMPEvent.h"

// The event being edited: the event as it came in, the event as the edit callbacks leave it,
// and the events the scripts log, in the order they logged them.
//
// Invariant: after setInputEvent() the output event equals the input event and nothing is
// logged. One thread at a time (the measurement worker queue).
class APMPEventContext {
  public:
    // An unnamed input event at timestamp 0 with no parameters.
    APMPEventContext() : APMPEventContext(APMPEvent()) {}
    explicit APMPEventContext(APMPEvent event) { setInputEvent(std::move(event)); }

    // Starts a new event: input and output become `event`, the logged events are dropped.
    void setInputEvent(APMPEvent event);

    const APMPEvent& inputEvent() const { return inputEvent_; }
    const APMPEvent& outputEvent() const { return outputEvent_; }
    APMPEvent& outputEvent() { return outputEvent_; }
    void setOutputEvent(APMPEvent event) { outputEvent_ = std::move(event); }
    const std::vector<APMPEvent>& eventsToLog() const { return loggedEvents_; }

    // Appends a new event; each parameter is coerced against the input event's parameter of
    // the same name (not the output event's).
    void logEventWithName(std::string name, double timestamp,
                          const sdk::Value::Dictionary& parameters);

  private:
    std::vector<APMPEvent> loggedEvents_;
    APMPEvent inputEvent_;
    APMPEvent outputEvent_;
};
