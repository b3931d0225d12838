#include "sdk/measurement/script/APMPEventEditing.h"

#include <cassert>
#include <variant>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/script/APMPControlValue.h"
#include "sdk/measurement/script/APMPEditingError.h"
#include "sdk/measurement/script/APMPEventLogger.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPRegisterCallbackNativeFunctionValue.h"
#include "sdk/measurement/script/APMPUnicode.h"

namespace {

const NANOMessageBase* messageOf(const APMPBRepeatedArray::value_type& element) {
    const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
    return message != nullptr ? message->get() : nullptr;
}

}  // namespace

APMPEventEditing::APMPEventEditing() : APMPEventEditing(std::make_unique<APMPRuntime>()) {}

APMPEventEditing::APMPEventEditing(std::unique_ptr<APMPRuntime> runtime)
    : runtime_(std::move(runtime)),
      eventContext_(std::make_shared<APMPEventContext>()),
      callbackHandler_(std::make_shared<APMPEditingCallbackHandler>()) {
    assert(runtime_);
    runtime_->addGarbageCollectionRoot(callbackHandler_);
    std::weak_ptr<APMPEditingCallbackHandler> handler = callbackHandler_;
    runtime_->setModuleCreator(
        [handler] { return std::make_shared<APMPRegisterCallbackNativeFunctionValue>(handler); },
        u"internal.registerCallback");
    std::shared_ptr<APMPEventContext> context = eventContext_;
    runtime_->setModuleCreator([context] { return std::make_shared<APMPEventLogger>(context); },
                               u"internal.eventLogger");
}

APMPEventEditing::~APMPEventEditing() {
    // Drop the callbacks (and the scopes they close over) through the work list before the
    // runtime breaks the references of everything else its programs made.
    APMPMarkable::Released released;
    callbackHandler_->releaseReferences(released);
    APMPReleaseAll(released);
}

void APMPEventEditing::setModuleCreator(APMPDynamicProvider::Creator creator,
                                        const std::string& name) {
    runtime_->setModuleCreator(std::move(creator), APMPFromUTF8(name));
}

sdk::Error APMPEventEditing::loadProgram(const APMPBProgram& program) {
    const APMPBRepeatedArray instructions =
        APMPBGetRepeated<APMPBRuntimeEntity>(&program, apmpb::Program::kInstructions)
            .value_or(APMPBRepeatedArray{});
    sdk::Error error;
    const APMPValueRef last = runtime_->executeStatements(instructions, error);
    if (!error.ok()) {
        return error;
    }
    if (last->kind() == APMPValueKind::kControl) {
        return APMPEditingError(APMPEditingErrorCode::kProgramEndsInControlValue);
    }
    if (const auto activities =
            APMPBGetMessage<APMPBOgtActivities>(&program, apmpb::Program::kOgtActivities)) {
        const APMPBRepeatedArray list =
            APMPBGetRepeated<APMPBOgtActivity>(activities.get(), apmpb::OgtActivities::kActivities)
                .value_or(APMPBRepeatedArray{});
        for (const auto& element : list) {
            const NANOMessageBase* activity = messageOf(element);
            if (activity == nullptr) {
                continue;
            }
            error = loadActivityData(*activity);
            if (!error.ok()) {
                return error;
            }
        }
    }
    runtime_->collectGarbage();
    return sdk::Error::OK();
}

sdk::Error APMPEventEditing::loadActivityData(const NANOMessageBase& activity) {
    const std::u16string name =
        APMPFromUTF8(APMPBGetString(&activity, apmpb::OgtActivity::kName).value_or(""));
    const APMPBRepeatedArray statements =
        APMPBGetRepeated<APMPBRuntimeEntity>(&activity, apmpb::OgtActivity::kData)
            .value_or(APMPBRepeatedArray{});
    for (const auto& statement : statements) {
        sdk::Error error;
        const APMPValueRef rule = runtime_->executeStatements({statement}, error);
        if (!error.ok()) {
            return error;
        }
        if (rule->kind() != APMPValueKind::kMap) {
            return APMPEditingError(APMPEditingErrorCode::kActivityRuleNotAMap);
        }
        error = registerRuleWithName(name, rule);
        if (!error.ok()) {
            return error;
        }
    }
    return sdk::Error::OK();
}

sdk::Error APMPEventEditing::registerRuleWithName(const std::u16string& name,
                                                  const APMPValueRef& rule) {
    const APMPScopeRef scope = runtime_->getRunScope();
    const APMPValueRef function = scope->valueForName(name);
    if (function->kind() != APMPValueKind::kFunction) {
        return APMPEditingError(APMPEditingErrorCode::kActivityNotAFunction);
    }
    sdk::Error error;
    static_cast<APMPFunctionValue&>(*function).invokeWithArguments({rule}, scope, error);
    return error;
}

bool APMPEventEditing::handleEvent(const APMPEvent& event, sdk::Error& error) {
    eventContext_->setInputEvent(event);
    runtime_->resetInstructionCount();
    error = callbackHandler_->triggerCallbacks(runtime_->getRunScope(), eventContext_);
    runtime_->collectGarbage();
    if (!error.ok()) {
        return false;
    }
    return hasEdits() || hasCreatedEvents();
}

bool APMPEventEditing::hasEdits() const {
    return !eventContext_->outputEvent().isEqualToEvent(eventContext_->inputEvent());
}
