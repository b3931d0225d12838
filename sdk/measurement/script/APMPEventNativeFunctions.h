#pragma once

#include <memory>
#include <string>

#include "sdk/measurement/script/APMPEventContext.h"
#include "sdk/measurement/script/APMPMapValue.h"

// The object every editing callback receives: a map whose six native methods read and change
// the context's output event.
//
//   method           arguments      result
//   getEventName     none           the name
//   getParamValue    name           the parameter as a runtime value; null when absent
//   getParams        none           a new map of every parameter
//   getTimestamp     none           the timestamp
//   setEventName     name           the new name; null or undefined: error 10
//   setParamValue    name, value    the value; null removes the parameter, undefined stores ""
//
// Arguments are evaluated in order in the caller's scope. A wrong argument count is error 9;
// every failure gives undefined with the error set. Other method names go to the map.
class APMPEventNativeFunctions : public APMPMapValue {
  public:
    APMPEventNativeFunctions(std::shared_ptr<APMPEventContext> eventContext,
                             std::shared_ptr<APMPRuntimeBudget> budget = nullptr);

    APMPValueRef applyWithName(std::u16string_view name, APMPArguments arguments,
                               const APMPScopeRef& scope, sdk::Error& error) override;

  private:
    using Native = APMPValueRef (APMPEventNativeFunctions::*)(APMPArguments values,
                                                              const APMPScopeRef& scope,
                                                              sdk::Error& error);
    static Native nativeForName(std::u16string_view name);

    APMPValueRef getEventName(APMPArguments values, const APMPScopeRef& scope, sdk::Error& error);
    APMPValueRef getParamValue(APMPArguments values, const APMPScopeRef& scope, sdk::Error& error);
    APMPValueRef getParams(APMPArguments values, const APMPScopeRef& scope, sdk::Error& error);
    APMPValueRef getTimestamp(APMPArguments values, const APMPScopeRef& scope, sdk::Error& error);
    APMPValueRef setEventName(APMPArguments values, const APMPScopeRef& scope, sdk::Error& error);
    APMPValueRef setParamValue(APMPArguments values, const APMPScopeRef& scope, sdk::Error& error);

    APMPEvent& event() { return eventContext_->outputEvent(); }

    std::shared_ptr<APMPEventContext> eventContext_;
};
