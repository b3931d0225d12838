#pragma once

#include <memory>
#include <string>

#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/script/APMPDynamicProvider.h"
#include "sdk/measurement/script/APMPEditingCallbackHandler.h"
#include "sdk/measurement/script/APMPEvent.h"
#include "sdk/measurement/script/APMPEventContext.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "sdk/utilities/Error.h"

// The event-editing front end the engine holds: one runtime with one loaded program, the
// callbacks it registered and the context of the event being edited.
//
// Design notes:
//  1. Loading runs the program's top-level statements, then each activity's rule maps through
//     the function the activity names; callbacks registered while loading stay for the life of
//     the instance. Loading pays from the runtime's initial budget.
//  2. handleEvent() resets the context and the instruction count first, so every event gets the
//     full budget and a failed event leaves nothing behind for the next one.
//  3. The callback handler is a collection root: every registered callback, with the scopes it
//     closes over, survives each collection. The runtime collects after every event.
//  4. The handler and the context are shared with the modules that work on them; the module of
//     registration holds the handler weakly, so the runtime's module cache keeps no cycle.
//
// States: new (modules installable) -> loadProgram() -> loaded or failed (the caller discards
// a failed instance) -> handleEvent() any number of times.
//
// Thread-safety: one thread at a time (the measurement worker queue).
class APMPEventEditing {
  public:
    // A fresh runtime of its own.
    APMPEventEditing();
    // REQUIRES: `runtime` is not null.
    explicit APMPEventEditing(std::unique_ptr<APMPRuntime> runtime);
    APMPEventEditing(const APMPEventEditing&) = delete;
    APMPEventEditing& operator=(const APMPEventEditing&) = delete;
    ~APMPEventEditing();

    // Installs the creator of the module `name` (UTF-8); the module is made when a program
    // first requires it.
    void setModuleCreator(APMPDynamicProvider::Creator creator, const std::string& name);

    // Runs the program's instructions and registers its activities' rules. Fails with the
    // script error that stopped it, editing error 5 when the instructions end in a control
    // value (a top-level return or break), 6 when an activity statement is no map, 7 when an
    // activity names no function.
    sdk::Error loadProgram(const APMPBProgram& program);
    // One activity (name, rule statements) of a program; see loadProgram().
    sdk::Error loadActivityData(const NANOMessageBase& activity);
    // Calls the function `name` of the program with `rule` (editing error 7 when the name is no
    // function); its result is dropped.
    sdk::Error registerRuleWithName(const std::u16string& name, const APMPValueRef& rule);

    // Runs the callbacks over `event`. Returns whether anything changed (the output event
    // differs from `event`, or events were created); false with `error` set when a script
    // failed. On failure the output event is as it stood before the failing edit callback and
    // the events created before the failure stay.
    bool handleEvent(const APMPEvent& event, sdk::Error& error);

    // Whether the last event's output differs from its input.
    bool hasEdits() const;
    // Whether the last event's callbacks logged events.
    bool hasCreatedEvents() const { return !eventContext_->eventsToLog().empty(); }
    const APMPEventContext& eventContext() const { return *eventContext_; }

  private:
    std::unique_ptr<APMPRuntime> runtime_;
    std::shared_ptr<APMPEventContext> eventContext_;
    std::shared_ptr<APMPEditingCallbackHandler> callbackHandler_;
};
