#include "sdk/measurement/script/APMPCommandRegistrar.h"

#include "sdk/measurement/script/APMPBitwiseCommandEvaluator.h"
#include "sdk/measurement/script/APMPComparisonCommandEvaluator.h"
#include "sdk/measurement/script/APMPControlCommandEvaluator.h"
#include "sdk/measurement/script/APMPLogicalCommandEvaluator.h"
#include "sdk/measurement/script/APMPLoopCommandEvaluator.h"
#include "sdk/measurement/script/APMPMathCommandEvaluator.h"
#include "sdk/measurement/script/APMPVariableCommandEvaluator.h"

const APMPCommandRegistrar& APMPCommandRegistrar::sharedInstance() {
    static const APMPCommandRegistrar& instance =
        *new APMPCommandRegistrar();  // lives for the process
    return instance;
}

APMPCommandRegistrar::APMPCommandRegistrar() {
    registerEvaluator(std::make_unique<APMPBitwiseCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPComparisonCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPControlCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPLogicalCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPLoopCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPMathCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPVariableCommandEvaluator>());
}

void APMPCommandRegistrar::registerEvaluator(std::unique_ptr<APMPCommandEvaluator> evaluator) {
    for (auto& id : evaluator->allSupportedCommands()) {
        const APMPCommandEvaluator::Handler handler = evaluator->handlerForCommand(id);
        commands_[std::move(id)] = APMPResolvedCommand{evaluator.get(), handler};
    }
    evaluators_.push_back(std::move(evaluator));
}

const APMPCommandEvaluator& APMPCommandRegistrar::evaluatorForName(
    const std::u16string& name) const {
    return *commandForName(name).evaluator;
}

const APMPResolvedCommand& APMPCommandRegistrar::commandForName(const std::u16string& name) const {
    const auto found = commands_.find(name);
    return found != commands_.end() ? found->second : functionCommand_;
}

std::vector<std::u16string> APMPCommandRegistrar::allCommands() const {
    std::vector<std::u16string> ids;
    ids.reserve(commands_.size());
    for (const auto& entry : commands_) {
        ids.push_back(entry.first);
    }
    return ids;
}
