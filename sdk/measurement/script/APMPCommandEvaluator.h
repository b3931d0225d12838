#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/script/APMPPropertyMap.h"
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
    using Handler = APMPValueRef (*)(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error);

    APMPCommandEvaluator(const APMPCommandEvaluator&) = delete;
    APMPCommandEvaluator& operator=(const APMPCommandEvaluator&) = delete;
    virtual ~APMPCommandEvaluator() = default;

    // Runs the command `id` with `arguments` in `scope`; an id without a handler yields
    // undefined. Never null; undefined whenever `error` is set.
    APMPValueRef evaluateCommand(const std::u16string& id, APMPArguments arguments,
                                 const APMPScopeRef& scope, sdk::Error& error) const {
        return runHandler(handlerForCommand(id), id, arguments, scope, error);
    }

    // The handler of the command `id`; null when this evaluator has none.
    Handler handlerForCommand(const std::u16string& id) const;

    // Runs the command `id` whose handler handlerForCommand() gave (the lookup done once, for
    // a statement that runs many times): the same as evaluateCommand().
    virtual APMPValueRef runHandler(Handler handler, const std::u16string& id,
                                    APMPArguments arguments, const APMPScopeRef& scope,
                                    sdk::Error& error) const;

    // The ids this evaluator handles.
    std::vector<std::u16string> allSupportedCommands() const;

  protected:
    enum class Arguments { kRaw, kEvaluated };

    explicit APMPCommandEvaluator(Arguments arguments) : arguments_(arguments) {}
    void addHandler(std::u16string id, Handler handler);

  private:
    const Arguments arguments_;
    APMPNameTable<Handler> handlers_;
};

// A command name resolved once: the evaluator that runs it and the handler it gives the name
// (null for the function evaluator, which looks the name up in the scope at every call).
struct APMPResolvedCommand {
    const APMPCommandEvaluator* evaluator = nullptr;
    APMPCommandEvaluator::Handler handler = nullptr;

    APMPValueRef run(const std::u16string& id, APMPArguments arguments, const APMPScopeRef& scope,
                     sdk::Error& error) const {
        return evaluator->runHandler(handler, id, arguments, scope, error);
    }
};
