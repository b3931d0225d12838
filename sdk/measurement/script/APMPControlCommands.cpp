#include "sdk/measurement/script/APMPControlCommands.h"

#include "sdk/measurement/script/APMPArgumentList.h"
#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPEquality.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPScope.h"

bool APMPIsControl(const APMPValueRef& value, APMPControlType type) {
    return value->kind() == APMPValueKind::kControl &&
           static_cast<const APMPControlValue&>(*value).type() == type;
}

std::shared_ptr<APMPArrayValue> APMPEvaluateArray(const APMPValueRef& argument,
                                                  const APMPScopeRef& scope, sdk::Error& error,
                                                  APMPErrorCode kindError) {
    const APMPValueRef value = APMPEvaluator::evaluateStatement(argument, scope, error);
    if (!error.ok()) {
        return nullptr;
    }
    if (value->kind() != APMPValueKind::kArray) {
        error = APMPError(kindError);
        return nullptr;
    }
    return std::static_pointer_cast<APMPArrayValue>(value);
}

APMPValueRef APMPRunStatementList(const APMPValueRef& list, const APMPScopeRef& scope,
                                  sdk::Error& error) {
    const auto& array = static_cast<const APMPArrayValue&>(*list);
    if (list.use_count() != 1) {
        APMPArgumentList statements(array.count());
        array.appendAllElements(statements);
        return APMPEvaluator::executeStatements(statements.values(), scope, error);
    }
    (void)APMPChargeWork(static_cast<double>(array.count()),
                         APMPRuntimeBudget::kCopiedElementsPerStep);
    APMPValueRef result = APMPUndefined();
    for (const APMPValueRef& element : array.elements()) {
        const bool hole = element == APMPArrayValue::emptyValue();
        result = APMPEvaluator::evaluateStatement(hole ? APMPUndefined() : element, scope, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        if (result->kind() == APMPValueKind::kControl) {
            return result;
        }
    }
    return result;
}

namespace {

// Runs switch bodies from `first` on; true when one of them ended the switch (`result` then
// holds its outcome: undefined for a break, else the control value).
bool runBodies(APMPArguments bodies, std::size_t first, std::size_t end, const APMPScopeRef& scope,
               sdk::Error& error, APMPValueRef& result) {
    for (std::size_t i = first; i < end; ++i) {
        const APMPValueRef value = APMPEvaluator::evaluateStatement(bodies[i], scope, error);
        if (!error.ok()) {
            result = APMPUndefined();
            return true;
        }
        if (value->kind() == APMPValueKind::kControl) {
            result = APMPIsControl(value, APMPControlType::kBreak) ? APMPUndefined() : value;
            return true;
        }
    }
    return false;
}

}  // namespace

APMPValueRef APMPSwitchCommand(APMPArguments arguments, const APMPScopeRef& scope,
                               sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 3, error)) {
        return APMPUndefined();
    }
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (values[1]->kind() != APMPValueKind::kArray || values[2]->kind() != APMPValueKind::kArray) {
        error = APMPError(APMPErrorCode::kArgumentCount);
        return APMPUndefined();
    }
    const APMPValueList cases = static_cast<const APMPArrayValue&>(*values[1]).allElements();
    const APMPValueList bodies = static_cast<const APMPArrayValue&>(*values[2]).allElements();
    const std::size_t caseBodies = std::min(cases.size(), bodies.size());
    APMPValueRef result = APMPUndefined();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const APMPValueRef label = APMPEvaluator::evaluateStatement(cases[i], scope, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        if (APMPStrictEquals(*label, *values[0])) {
            if (runBodies(bodies, i, caseBodies, scope, error, result)) {
                return result;
            }
            break;
        }
    }
    if (bodies.size() == cases.size() + 1 &&
        runBodies(bodies, cases.size(), bodies.size(), scope, error, result)) {
        return result;
    }
    return APMPUndefined();
}

APMPValueRef APMPFunctionLiteralCommand(APMPArguments arguments, const APMPScopeRef& scope,
                                        sdk::Error& error) {
    if (!APMPCheckArgumentCountAtLeast(arguments, 2, error)) {
        return APMPUndefined();
    }
    std::u16string name = arguments[0]->stringValueOrError(error);
    const auto parameterList = error.ok() ? APMPEvaluateArray(arguments[1], scope, error) : nullptr;
    if (!parameterList) {
        return APMPUndefined();
    }
    std::vector<std::u16string> parameters;
    for (const auto& parameter : parameterList->allElements()) {
        parameters.push_back(parameter->stringValueOrError(error));
        if (!error.ok()) {
            return APMPUndefined();
        }
    }
    APMPValueList body(arguments.begin() + 2, arguments.end());
    return APMPObjectManager::functionValue(std::move(name), std::move(parameters), std::move(body),
                                            scope);
}

APMPValueRef APMPFunctionDeclarationCommand(APMPArguments arguments, const APMPScopeRef& scope,
                                            sdk::Error& error) {
    APMPValueRef function = APMPFunctionLiteralCommand(arguments, scope, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    const std::u16string name = static_cast<const APMPFunctionValue&>(*function).functionName();
    error = scope->setValue(function, name);
    return error.ok() ? function : APMPUndefined();
}
