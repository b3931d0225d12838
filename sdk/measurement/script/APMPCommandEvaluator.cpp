#include "sdk/measurement/script/APMPCommandEvaluator.h"

#include "sdk/measurement/script/APMPArgumentList.h"
#include "sdk/measurement/script/APMPEvaluator.h"

APMPCommandEvaluator::Handler APMPCommandEvaluator::handlerForCommand(
    const std::u16string& id) const {
    const auto found = handlers_.find(id);
    return found != handlers_.end() ? found->second : nullptr;
}

APMPValueRef APMPCommandEvaluator::runHandler(Handler handler, const std::u16string& id,
                                              const APMPValueList& arguments,
                                              const APMPScopeRef& scope, sdk::Error& error) const {
    (void)id;
    if (handler == nullptr) {
        return APMPUndefined();
    }
    APMPValueRef result;
    if (arguments_ == Arguments::kEvaluated && !arguments.empty()) {
        APMPArgumentList values;
        APMPEvaluateArgumentsInto(arguments, scope, error, values.values());
        if (!error.ok()) {
            return APMPUndefined();
        }
        result = handler(values.values(), scope, error);
    } else {
        result = handler(arguments, scope, error);
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
