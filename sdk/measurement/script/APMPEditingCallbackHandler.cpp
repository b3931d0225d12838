#include "sdk/measurement/script/APMPEditingCallbackHandler.h"

#include <algorithm>
#include <cassert>

#include "sdk/measurement/script/APMPEditingError.h"
#include "sdk/measurement/script/APMPEventNativeFunctions.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPScope.h"

namespace {

// The result codes that undo an edit callback's changes: a failure, and any result that is
// not a number (a callback that returns nothing).
constexpr std::int32_t kResultFailed = 2;
constexpr std::int32_t kResultNotANumber = -1;

}  // namespace

sdk::Error APMPEditingCallbackHandler::registerWithPriority(
    std::int64_t priority, std::shared_ptr<APMPFunctionValue> callback, std::string_view ruleType) {
    if (callbackCount() >= kMaxCallbacks) {
        return APMPEditingError(APMPEditingErrorCode::kTooManyCallbacks);
    }
    if (ruleType == "create") {
        addCallback(std::move(callback), createCallbacks_, sortedCreatePriorities_, priority);
    } else if (ruleType == "edit") {
        addCallback(std::move(callback), editCallbacks_, sortedEditPriorities_, priority);
    } else {
        return APMPEditingError(APMPEditingErrorCode::kUnknownCallbackType);
    }
    return sdk::Error::OK();
}

void APMPEditingCallbackHandler::addCallback(std::shared_ptr<APMPFunctionValue> callback,
                                             CallbackMap& callbacks,
                                             std::vector<std::int64_t>& sortedPriorities,
                                             std::int64_t priority) {
    if (callbacks.count(priority) != 0) {
        assert(!sortedPriorities.empty());
        priority = sortedPriorities.back() + 1;
    }
    callbacks.emplace(priority, std::move(callback));
    sortedPriorities.push_back(priority);
    std::sort(sortedPriorities.begin(), sortedPriorities.end());
    assert(sortedPriorities.size() == callbacks.size());
}

sdk::Error APMPEditingCallbackHandler::triggerCallbacks(
    const APMPScopeRef& scope, const std::shared_ptr<APMPEventContext>& eventContext) {
    APMPObjectManager* manager = scope->objectManager();
    auto eventHandler = std::make_shared<APMPEventNativeFunctions>(
        eventContext, manager ? manager->budget() : nullptr);
    if (manager) {
        // Tracked, so that whatever a script hangs on the handler is collected with it.
        manager->addObject(eventHandler);
    }
    // A callback may register further callbacks; they join from the next event on, so the
    // lists are walked as they stood when the event began.
    const std::vector<std::int64_t> editPriorities = sortedEditPriorities_;
    const std::vector<std::int64_t> createPriorities = sortedCreatePriorities_;
    sdk::Error error;
    for (const std::int64_t priority : editPriorities) {
        APMPEvent saved = eventContext->outputEvent();
        const std::int32_t result =
            invokeCallback(scope, editCallbacks_.at(priority), eventHandler, error);
        if (!error.ok()) {
            eventContext->setOutputEvent(std::move(saved));
            return error;
        }
        if (result == kResultFailed || result == kResultNotANumber) {
            eventContext->setOutputEvent(std::move(saved));
        }
    }
    for (const std::int64_t priority : createPriorities) {
        invokeCallback(scope, createCallbacks_.at(priority), eventHandler, error);
        if (!error.ok()) {
            return error;
        }
    }
    return error;
}

std::int32_t APMPEditingCallbackHandler::invokeCallback(
    const APMPScopeRef& scope, const std::shared_ptr<APMPFunctionValue>& callback,
    const APMPValueRef& eventHandler, sdk::Error& error) {
    const APMPValueRef result = callback->invokeWithArguments({eventHandler}, scope, error);
    if (!error.ok()) {
        return kResultFailed;
    }
    if (result->kind() == APMPValueKind::kNumber) {
        return APMPToInt32(static_cast<const APMPNumberValue&>(*result).value());
    }
    return kResultNotANumber;
}

void APMPEditingCallbackHandler::markReferences(APMPMarker& marker) const {
    for (const CallbackMap* callbacks : {&editCallbacks_, &createCallbacks_}) {
        for (const auto& entry : *callbacks) {
            marker.mark(entry.second.get());
        }
    }
}

void APMPEditingCallbackHandler::releaseReferences(Released& released) {
    for (CallbackMap* callbacks : {&editCallbacks_, &createCallbacks_}) {
        for (auto& entry : *callbacks) {
            APMPRelease(released, std::move(entry.second));
        }
        callbacks->clear();
    }
    sortedEditPriorities_.clear();
    sortedCreatePriorities_.clear();
}
