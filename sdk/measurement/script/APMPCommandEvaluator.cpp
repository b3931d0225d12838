#include "sdk/measurement/script/APMPCommandEvaluator.h"

#include "sdk/measurement/script/APMPArgumentList.h"

APMPCommandEvaluator::Handler APMPCommandEvaluator::handlerForCommand(
    const std::u16string& id) const {
    const auto found = handlers_.find(id);
    return found != handlers_.end() ? found->second : nullptr;
}

APMPValueRef APMPCommandEvaluator::runHandler(Handler handler, const std::u16string& id,
                                              APMPArguments arguments, const APMPScopeRef& scope,
                                              sdk::Error& error) const {
    (void)id;
    if (handler == nullptr) {
        return APMPUndefined();
    }
    APMPValueRef result;
    if (arguments_ == Arguments::kEvaluated && !arguments.empty()) {
        APMPArgumentList values(arguments.size());
        APMPEvaluateArgumentsInto(arguments, scope, error, values);
        if (!error.ok()) {
            return APMPUndefined();
        }
        result = handler(values.values(), scope, error);
    } else {
        result = handler(arguments, scope, error);
    }
    if (!error.ok() || !result) {
        return APMPUndefined();
    }
    return result;
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
