#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sdk/measurement/script/APMPPropertyMap.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

// What a function holds, in a plain base (as APMPValueKindTag is): every call reads it.
class APMPFunctionParts {
  public:
    const std::u16string& functionName() const { return functionName_; }
    const std::vector<std::u16string>& parameters() const { return parameters_; }
    const APMPValueList& statements() const { return statements_; }
    const APMPScopeRef& definingScope() const { return definingScope_; }

  protected:
    APMPFunctionParts(std::u16string functionName, std::vector<std::u16string> parameters,
                      APMPValueList statements, APMPScopeRef definingScope,
                      std::shared_ptr<APMPRuntimeBudget> budget)
        : functionName_(std::move(functionName)),
          parameters_(std::move(parameters)),
          statements_(std::move(statements)),
          definingScope_(std::move(definingScope)),
          reservation_(std::move(budget)) {}

    const std::u16string functionName_;
    const std::vector<std::u16string> parameters_;
    APMPValueList statements_;
    APMPScopeRef definingScope_;
    // An empty child of the defining scope left by an earlier call, for the next one; null
    // when none (or a call is using it).
    APMPScopeRef spareScope_;
    std::unique_ptr<APMPPropertyMap> properties_;
    // The function's own allocations (objectBytes()).
    APMPMemoryReservation reservation_;
};

// A function: a name, parameter names, body statements and the scope it was defined in, plus
// named properties. Module functions derive from it and replace invokeWithEvaluatedArguments()
// or invokeWithArguments().
//
// The defining scope is a strong reference, so a closure keeps its scope (and, through the
// scope's parents, every enclosing scope) alive and marked.
class APMPFunctionValue : public APMPRuntimeValue, public APMPFunctionParts {
  public:
    APMPFunctionValue(std::u16string functionName, std::vector<std::u16string> parameters,
                      APMPValueList statements, APMPScopeRef definingScope,
                      std::shared_ptr<APMPRuntimeBudget> budget = nullptr);
    ~APMPFunctionValue() override;

    // The named properties; the table is made (and accounted) on first use, as few functions
    // have any.
    APMPPropertyMap& propertyMap();
    // The named properties; an empty table when none was ever set.
    const APMPPropertyMap& propertyMap() const;

    // Evaluates `arguments` in the caller's `scope` in order (the first error gives undefined)
    // and calls invokeWithEvaluatedArguments().
    virtual APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                             sdk::Error& error);
    // Runs the body in a new child scope of the defining scope, each parameter declared with
    // the value at its position (undefined when missing). A return value gives its data; any
    // other result is returned as it is. (The scope of a call that nothing kept is emptied and
    // kept for the next call, which cannot tell it from a new one.)
    virtual APMPValueRef invokeWithEvaluatedArguments(APMPArguments values, sdk::Error& error);
    // A call from a native method (a callback of an array method, a sort comparator, a
    // replacer): pays one step to the running program's budget, then as
    // invokeWithEvaluatedArguments().
    APMPValueRef invokeAsCallback(APMPArguments values, sdk::Error& error);

    // The property operations, keyed by the key's string.
    bool hasProperty(const APMPRuntimeValue& key, sdk::Error& error) const;
    sdk::Error setValueForProperty(APMPValueRef value, const APMPRuntimeValue& key);
    APMPValueRef valueForProperty(const APMPRuntimeValue& key, sdk::Error& error) const;
    sdk::Error removeValueForProperty(const APMPRuntimeValue& key);

    bool booleanValueOrError(sdk::Error& error) const override;
    // A function property is invoked with the raw arguments; another property fails with
    // error 17; "hasOwnProperty" as for maps; else the base class ("toString" gives the name).
    APMPValueRef applyWithName(std::u16string_view name, APMPArguments arguments,
                               const APMPScopeRef& scope, sdk::Error& error) override;
    // The name.
    std::u16string stringValueAtDepth(sdk::Error& error, int depth) const override;
    double doubleValueAtDepth(sdk::Error& error, int depth) const override;
    // The same object, or another function with the same non-empty name.
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
    bool holdsReferences() const override { return true; }
    void markReferences(APMPMarker& marker) const override;
    void releaseReferences(Released& released) override;

  private:
    // The function's own allocations (object, name, parameter names, body list).
    double objectBytes() const;
    // Declares the parameters in `scope` and runs the body there, as
    // invokeWithEvaluatedArguments() says.
    APMPValueRef run(const APMPScopeRef& scope, APMPArguments values, sdk::Error& error);
};

// A method call answered by a named property: the function it holds is invoked with the raw
// arguments; any other value fails with error 17. REQUIRES: `map` holds `name`.
APMPValueRef APMPInvokeProperty(const APMPPropertyMap& map, std::u16string_view name,
                                APMPArguments arguments, const APMPScopeRef& scope,
                                sdk::Error& error);
