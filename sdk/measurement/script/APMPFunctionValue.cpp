#include "sdk/measurement/script/APMPFunctionValue.h"

#include <limits>
#include <utility>

#include "sdk/measurement/script/APMPArgumentList.h"
#include "sdk/measurement/script/APMPControlValue.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStringValue.h"

APMPValueRef APMPInvokeProperty(const APMPPropertyMap& map, std::u16string_view name,
                                APMPArguments arguments, const APMPScopeRef& scope,
                                sdk::Error& error) {
    // A copy: the call may replace the property, and the function must outlive its own call.
    const APMPValueRef property = map.valueForName(name);
    if (property->kind() != APMPValueKind::kFunction) {
        error = APMPError(APMPErrorCode::kUnknownMethod);
        return APMPUndefined();
    }
    return static_cast<APMPFunctionValue&>(*property).invokeWithArguments(arguments, scope, error);
}

APMPFunctionValue::APMPFunctionValue(std::u16string functionName,
                                     std::vector<std::u16string> parameters,
                                     APMPValueList statements, APMPScopeRef definingScope,
                                     std::shared_ptr<APMPRuntimeBudget> budget)
    : APMPRuntimeValue(APMPValueKind::kFunction),
      APMPFunctionParts(std::move(functionName), std::move(parameters), std::move(statements),
                        std::move(definingScope), std::move(budget)) {
    reservation_.account(objectBytes());
}

APMPPropertyMap& APMPFunctionValue::propertyMap() {
    return APMPPropertyMap::madeIn(properties_, reservation_.budget());
}

const APMPPropertyMap& APMPFunctionValue::propertyMap() const {
    return APMPPropertyMap::in(properties_);
}

double APMPFunctionValue::objectBytes() const {
    double bytes = APMPSharedObjectBytes(sizeof(APMPFunctionValue)) +
                   APMPTextBufferBytes(functionName_.capacity());
    if (!parameters_.empty()) {
        bytes += APMPAllocationBytes(static_cast<double>(parameters_.capacity()) *
                                     sizeof(std::u16string));
    }
    for (const auto& parameter : parameters_) {
        bytes += APMPTextBufferBytes(parameter.capacity());
    }
    if (!statements_.empty()) {
        bytes +=
            APMPAllocationBytes(static_cast<double>(statements_.capacity()) * sizeof(APMPValueRef));
    }
    return bytes;
}

APMPValueRef APMPFunctionValue::invokeAsCallback(APMPArguments values, sdk::Error& error) {
    // A native method's call of a script function is a step like the script's own calls.
    error = APMPChargeSteps(APMPRuntimeBudget::kStepsPerCallback);
    return error.ok() ? invokeWithEvaluatedArguments(values, error) : APMPUndefined();
}

APMPFunctionValue::~APMPFunctionValue() {
    Released released;
    APMPFunctionValue::releaseReferences(released);
    APMPReleaseAll(released);
}

APMPValueRef APMPFunctionValue::invokeWithArguments(APMPArguments arguments,
                                                    const APMPScopeRef& scope, sdk::Error& error) {
    APMPArgumentList values(arguments.size());
    APMPEvaluateArgumentsInto(arguments, scope, error, values);
    if (!error.ok()) {
        return APMPUndefined();
    }
    return invokeWithEvaluatedArguments(values.values(), error);
}

APMPValueRef APMPFunctionValue::invokeWithEvaluatedArguments(APMPArguments values,
                                                             sdk::Error& error) {
    if (!definingScope_) {
        // Only a collected function has no scope, and nothing reaches one.
        return APMPUndefined();
    }
    // A recursive call finds the spare taken and makes its own scope.
    APMPScopeRef scope = spareScope_ ? std::move(spareScope_) : APMPScope::make(definingScope_);
    APMPValueRef result = run(scope, values, error);
    // A scope nothing kept (no closure, no nested scope) is emptied and serves the next call.
    if (!spareScope_ && scope.use_count() == 1 && scope->forgetNames()) {
        spareScope_ = std::move(scope);
    }
    return result;
}

APMPValueRef APMPFunctionValue::run(const APMPScopeRef& scope, APMPArguments values,
                                    sdk::Error& error) {
    for (std::size_t i = 0; i < parameters_.size(); ++i) {
        error = scope->addValue(i < values.size() ? values[i] : APMPUndefined(), parameters_[i]);
        if (!error.ok()) {
            return APMPUndefined();
        }
    }
    APMPValueRef result = APMPEvaluator::executeStatements(statements_, scope, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (result->kind() == APMPValueKind::kControl) {
        const auto& control = static_cast<const APMPControlValue&>(*result);
        if (control.type() == APMPControlType::kReturn) {
            return control.data();
        }
    }
    return result;
}

bool APMPFunctionValue::hasProperty(const APMPRuntimeValue& key, sdk::Error& error) const {
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    return error.ok() && propertyMap().hasName(name);
}

sdk::Error APMPFunctionValue::setValueForProperty(APMPValueRef value, const APMPRuntimeValue& key) {
    sdk::Error error;
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    return error.ok() ? propertyMap().setValue(std::move(value), name) : error;
}

APMPValueRef APMPFunctionValue::valueForProperty(const APMPRuntimeValue& key,
                                                 sdk::Error& error) const {
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    return error.ok() ? propertyMap().valueForName(name) : APMPUndefined();
}

sdk::Error APMPFunctionValue::removeValueForProperty(const APMPRuntimeValue& key) {
    sdk::Error error;
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    if (error.ok()) {
        if (properties_) {
            properties_->removeValueForName(name);
        }
    }
    return error;
}

bool APMPFunctionValue::booleanValueOrError(sdk::Error& error) const {
    (void)error;
    return true;
}

APMPValueRef APMPFunctionValue::applyWithName(std::u16string_view name, APMPArguments arguments,
                                              const APMPScopeRef& scope, sdk::Error& error) {
    if (properties_ && properties_->hasName(name)) {
        return APMPInvokeProperty(*properties_, name, arguments, scope, error);
    }
    if (name == u"hasOwnProperty") {
        return APMPHasOwnProperty(std::as_const(*this).propertyMap(), arguments, scope, error);
    }
    return APMPRuntimeValue::applyWithName(name, arguments, scope, error);
}

std::u16string APMPFunctionValue::stringValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return functionName_;
}

double APMPFunctionValue::doubleValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return std::numeric_limits<double>::quiet_NaN();
}

bool APMPFunctionValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                       int depth) const {
    (void)error;
    (void)depth;
    if (this == &other) {
        return true;
    }
    return other.kind() == APMPValueKind::kFunction && !functionName_.empty() &&
           static_cast<const APMPFunctionValue&>(other).functionName_ == functionName_;
}

void APMPFunctionValue::markReferences(APMPMarker& marker) const {
    if (properties_) {
        properties_->markValues(marker);
    }
    for (const auto& statement : statements_) {
        marker.mark(statement.get());
    }
    marker.mark(definingScope_.get());
    marker.mark(spareScope_.get());
}

void APMPFunctionValue::releaseReferences(Released& released) {
    if (properties_) {
        properties_->releaseValues(released);
    }
    for (auto& statement : statements_) {
        APMPRelease(released, std::move(statement));
    }
    statements_.clear();
    if (definingScope_) {
        APMPRelease(released, std::move(definingScope_));
    }
    if (spareScope_) {
        APMPRelease(released, std::move(spareScope_));
    }
}
