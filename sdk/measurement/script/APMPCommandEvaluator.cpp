#include "sdk/measurement/script/APMPCommandEvaluator.h"

#include "sdk/measurement/script/APMPEvaluator.h"

APMPValueRef APMPCommandEvaluator::evaluateCommand(const std::u16string& id,
                                                   const APMPValueList& arguments,
                                                   const APMPScopeRef& scope,
                                                   sdk::Error& error) const {
    const auto found = handlers_.find(id);
    if (found == handlers_.end()) {
        return APMPUndefined();
    }
    APMPValueRef result;
    if (arguments_ == Arguments::kEvaluated) {
        const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        result = found->second(values, scope, error);
    } else {
        result = found->second(arguments, scope, error);
    }
    return error.ok() && result ? result : APMPUndefined();
}

std::vector<std::u16string> APMPCommandEvaluator::allSupportedCommands() const {
    std::vector<std::u16string> ids;
    ids.reserve(handlers_.size());
    for (const auto& entry : handlers_) {
        ids.push_back(entry.first);
    }
    return ids;
}

void APMPCommandEvaluator::addHandler(std::u16string id, Handler handler) {
    handlers_.emplace(std::move(id), handler);
}
