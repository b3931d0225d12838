#include "sdk/measurement/script/APMPMapValue.h"

#include <limits>

#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPStringValue.h"

APMPValueRef APMPHasOwnProperty(const APMPPropertyMap& map, APMPArguments arguments,
                                const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 1, error)) {
        return APMPUndefined();
    }
    const APMPValueRef key = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(*key, storage, error);
    return error.ok() ? APMPBoolean(map.hasName(name)) : APMPUndefined();
}

APMPMapValue::~APMPMapValue() {
    Released released;
    APMPMapValue::releaseReferences(released);
    APMPReleaseAll(released);
}

bool APMPMapValue::hasProperty(const APMPRuntimeValue& key, sdk::Error& error) const {
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    return error.ok() && propertyMap_.hasName(name);
}

sdk::Error APMPMapValue::setValueForProperty(APMPValueRef value, const APMPRuntimeValue& key) {
    sdk::Error error;
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    return error.ok() ? propertyMap_.setValue(std::move(value), name) : error;
}

APMPValueRef APMPMapValue::valueForProperty(const APMPRuntimeValue& key, sdk::Error& error) const {
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    return error.ok() ? propertyMap_.valueForName(name) : APMPUndefined();
}

sdk::Error APMPMapValue::removeValueForProperty(const APMPRuntimeValue& key) {
    sdk::Error error;
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    if (error.ok()) {
        propertyMap_.removeValueForName(name);
    }
    return error;
}

APMPValueList APMPMapValue::allPropertyNames() const {
    // Each key is a new string.
    (void)APMPChargeWork(static_cast<double>(propertyMap_.count()),
                         APMPRuntimeBudget::kObjectsPerStep);
    APMPValueList names;
    for (const auto& name : propertyMap_.allNames()) {
        names.push_back(APMPStringValue::make(name));
    }
    return names;
}

bool APMPMapValue::booleanValueOrError(sdk::Error& error) const {
    (void)error;
    return true;
}

APMPValueRef APMPMapValue::applyWithName(std::u16string_view name, APMPArguments arguments,
                                         const APMPScopeRef& scope, sdk::Error& error) {
    if (propertyMap_.hasName(name)) {
        return APMPInvokeProperty(propertyMap_, name, arguments, scope, error);
    }
    if (name == u"hasOwnProperty") {
        return APMPHasOwnProperty(propertyMap_, arguments, scope, error);
    }
    return APMPRuntimeValue::applyWithName(name, arguments, scope, error);
}

std::u16string APMPMapValue::stringValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return std::u16string(kText);
}

double APMPMapValue::doubleValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return std::numeric_limits<double>::quiet_NaN();
}

bool APMPMapValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                  int depth) const {
    if (this == &other) {
        return true;
    }
    if (other.kind() != APMPValueKind::kMap) {
        return false;
    }
    if (!APMPDepthAllowed(depth)) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return false;
    }
    const APMPPropertyMap& theirs = static_cast<const APMPMapValue&>(other).propertyMap_;
    if (theirs.count() != propertyMap_.count()) {
        return false;
    }
    error = APMPChargeWork(static_cast<double>(propertyMap_.count()) + 1,
                           APMPRuntimeBudget::kScannedElementsPerStep);
    if (!error.ok()) {
        return false;
    }
    for (const auto& name : propertyMap_.allNames()) {
        if (!theirs.hasName(name) ||
            !propertyMap_.valueForName(name)->isEqualAtDepth(*theirs.valueForName(name), error,
                                                             depth + 1) ||
            !error.ok()) {
            return false;
        }
    }
    return true;
}

void APMPMapValue::markReferences(APMPMarker& marker) const {
    propertyMap_.markValues(marker);
}

void APMPMapValue::releaseReferences(Released& released) {
    propertyMap_.releaseValues(released);
}
