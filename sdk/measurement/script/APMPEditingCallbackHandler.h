#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "sdk/measurement/script/APMPEventContext.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPMarkable.h"

// The callbacks a program registered, by kind ("edit" or "create") and priority, and the run
// of them over one event.
//
// Invariants:
//  1. Each kind holds one callback per priority; the sorted list of a kind holds exactly its
//     map's priorities, ascending.
//  2. Both kinds together hold at most kMaxCallbacks callbacks.
//  3. Priorities are 64-bit: the "largest plus 1" of a duplicate cannot overflow, since a
//     script priority is a 32-bit integer and at most kMaxCallbacks are held.
//
// The handler is a collection root of its runtime: marking it marks every held callback.
// Thread-safety: one thread at a time (the measurement worker queue).
class APMPEditingCallbackHandler : public APMPMarkable {
  public:
    static constexpr std::size_t kMaxCallbacks = 1000;

    // Stores `callback` under `priority` in the kind `ruleType`. Error 4 (editing domain) when
    // kMaxCallbacks are held; error 3 for a type other than "create" and "edit". A priority
    // already taken in that kind becomes the kind's largest priority plus 1, so the callback
    // runs after every callback of its kind registered so far. A refused registration changes
    // nothing.
    sdk::Error registerWithPriority(std::int64_t priority,
                                    std::shared_ptr<APMPFunctionValue> callback,
                                    std::string_view ruleType);

    // Runs the callbacks over `eventContext`'s output event, each with one argument: a new
    // APMPEventNativeFunctions over the context, tracked by `scope`'s runtime.
    //  - Edit callbacks in ascending priority. A callback that fails has its changes undone
    //    and ends the run with its error; one whose result code is 2 or -1 has its changes
    //    undone; any other keeps them.
    //  - Then create callbacks in ascending priority; their results are ignored and the first
    //    error ends the run (events logged before it stay).
    // Callbacks registered during the run take part from the next run on.
    sdk::Error triggerCallbacks(const APMPScopeRef& scope,
                                const std::shared_ptr<APMPEventContext>& eventContext);

    // The result code of calling `callback` with `eventHandler` in `scope`: 2 when it failed
    // (`error` set), a number result converted to a 32-bit integer, else -1.
    static std::int32_t invokeCallback(const APMPScopeRef& scope,
                                       const std::shared_ptr<APMPFunctionValue>& callback,
                                       const APMPValueRef& eventHandler, sdk::Error& error);

    std::size_t callbackCount() const { return editCallbacks_.size() + createCallbacks_.size(); }

    bool holdsReferences() const override { return true; }
    void markReferences(APMPMarker& marker) const override;
    void releaseReferences(Released& released) override;

  private:
    using CallbackMap = std::map<std::int64_t, std::shared_ptr<APMPFunctionValue>>;

    static void addCallback(std::shared_ptr<APMPFunctionValue> callback, CallbackMap& callbacks,
                            std::vector<std::int64_t>& sortedPriorities, std::int64_t priority);

    CallbackMap editCallbacks_;
    std::vector<std::int64_t> sortedEditPriorities_;
    CallbackMap createCallbacks_;
    std::vector<std::int64_t> sortedCreatePriorities_;
};
