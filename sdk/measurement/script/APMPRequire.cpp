#include "sdk/measurement/script/APMPRequire.h"

#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPScope.h"

APMPRequire::APMPRequire(std::shared_ptr<const APMPDynamicProvider> provider)
    : APMPFunctionValue(u"require", {}, {}, APMPScope::make()), provider_(std::move(provider)) {}

APMPRequire::~APMPRequire() {
    Released released;
    APMPRequire::releaseReferences(released);
    APMPReleaseAll(released);
}

APMPValueRef APMPRequire::invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                              sdk::Error& error) {
    const std::optional<APMPValueList> evaluated = APMPEvaluateExactly(arguments, 1, scope, error);
    if (!evaluated) {
        return APMPUndefined();
    }
    const APMPValueList& values = *evaluated;
    const std::u16string name = values[0]->stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (const auto cached = modules_.find(name); cached != modules_.end()) {
        return cached->second;
    }
    APMPValueRef module = provider_ ? provider_->moduleForName(name, error) : APMPUndefined();
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (module->holdsReferences()) {
        if (APMPObjectManager* manager = scope->objectManager()) {
            manager->addObject(module);
        }
    }
    modules_.emplace(name, module);
    return module;
}

void APMPRequire::markReferences(APMPMarker& marker) const {
    APMPFunctionValue::markReferences(marker);
    for (const auto& entry : modules_) {
        marker.mark(entry.second.get());
    }
}

void APMPRequire::releaseReferences(Released& released) {
    APMPFunctionValue::releaseReferences(released);
    for (auto& entry : modules_) {
        APMPRelease(released, std::move(entry.second));
    }
    modules_.clear();
}
