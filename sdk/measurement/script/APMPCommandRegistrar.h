#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/measurement/script/APMPCommandEvaluator.h"
#include "sdk/measurement/script/APMPFunctionEvaluator.h"

// The table from command id ("0" to "66") to the evaluator that runs it, with the function
// evaluator as the fallback for every other name ("11", "14", "31", "48" and "49" included).
//
// Thread-safety: the one instance is built on first use under the language's once-only
// initialisation of function-local statics and never changes afterwards, so any thread may
// read it.
class APMPCommandRegistrar {
  public:
    static const APMPCommandRegistrar& sharedInstance();

    APMPCommandRegistrar();
    APMPCommandRegistrar(const APMPCommandRegistrar&) = delete;
    APMPCommandRegistrar& operator=(const APMPCommandRegistrar&) = delete;

    // The evaluator of the command `name`; the function evaluator for any other name.
    const APMPCommandEvaluator& evaluatorForName(const std::u16string& name) const;

    // The evaluator and handler of the command `name`; the function evaluator (and no handler)
    // for any other name. The reference stays valid for the life of the process.
    const APMPResolvedCommand& commandForName(const std::u16string& name) const;

    // Every registered command id.
    std::vector<std::u16string> allCommands() const;

  private:
    void registerEvaluator(std::unique_ptr<APMPCommandEvaluator> evaluator);

    std::vector<std::unique_ptr<APMPCommandEvaluator>> evaluators_;
    std::unordered_map<std::u16string, APMPResolvedCommand> commands_;
    const APMPFunctionEvaluator functionEvaluator_;
    const APMPResolvedCommand functionCommand_{&functionEvaluator_, nullptr};
};
