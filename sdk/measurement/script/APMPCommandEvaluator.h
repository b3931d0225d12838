#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/measurement/script/APMPRuntimeValue.h"

// The common contract of the command evaluators: a table from command id to handler. An
// evaluator either evaluates a command's arguments before its handler runs (left to right,
// stopping at the first error) or hands the handler the raw arguments.
//
// Evaluators are built once by the registrar and read-only afterwards, so one evaluator serves
// every runtime on every thread; all program state lives in scopes and values.
class APMPCommandEvaluator {
  public:
    // A handler: (arguments, scope, error out) to a value; never null. On an error it returns
    // undefined.
    using Handler = APMPValueRef (*)(const APMPValueList& arguments, const APMPScopeRef& scope,
                                     sdk::Error& error);

    APMPCommandEvaluator(const APMPCommandEvaluator&) = delete;
    APMPCommandEvaluator& operator=(const APMPCommandEvaluator&) = delete;
    virtual ~APMPCommandEvaluator() = default;

    // Runs the command `id` with `arguments` in `scope`; an id without a handler yields
    // undefined. Never null; undefined whenever `error` is set.
    virtual APMPValueRef evaluateCommand(const std::u16string& id, const APMPValueList& arguments,
                                         const APMPScopeRef& scope, sdk::Error& error) const;

    // The ids this evaluator handles.
    std::vector<std::u16string> allSupportedCommands() const;

  protected:
    enum class Arguments { kRaw, kEvaluated };

    explicit APMPCommandEvaluator(Arguments arguments) : arguments_(arguments) {}
    void addHandler(std::u16string id, Handler handler);

  private:
    const Arguments arguments_;
    std::unordered_map<std::u16string, Handler> handlers_;
};
