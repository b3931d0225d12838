#include "sdk/measurement/script/APMPControlCommandEvaluator.h"

#include "sdk/measurement/script/APMPArgumentList.h"
#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPControlCommands.h"
#include "sdk/measurement/script/APMPControlValue.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStringValue.h"

namespace {

APMPValueRef methodCall(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 3, error)) {
        return APMPUndefined();
    }
    APMPArgumentList evaluated(arguments.size());
    APMPEvaluateArgumentsInto(arguments, scope, error, evaluated);
    if (!error.ok()) {
        return APMPUndefined();
    }
    const APMPArguments values = evaluated.values();
    if (values[1]->kind() != APMPValueKind::kString || values[2]->kind() != APMPValueKind::kArray) {
        error = APMPError(APMPErrorCode::kArgumentKind);
        return APMPUndefined();
    }
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(*values[1], storage, error);
    const auto& list = static_cast<const APMPArrayValue&>(*values[2]);
    APMPArgumentList callArguments(list.count());
    list.appendAllElements(callArguments);
    return values[0]->applyWithName(name, callArguments.values(), scope, error);
}

APMPValueRef block(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    return APMPEvaluator::executeStatements(arguments, scope->createChildScope(), error);
}

APMPValueRef breakCommand(APMPArguments arguments, const APMPScopeRef&, sdk::Error& error) {
    return APMPCheckArgumentCountEquals(arguments, 0, error) ? APMPControlValue::breakValue()
                                                             : APMPUndefined();
}

APMPValueRef continueCommand(APMPArguments arguments, const APMPScopeRef&, sdk::Error& error) {
    return APMPCheckArgumentCountEquals(arguments, 0, error) ? APMPControlValue::continueValue()
                                                             : APMPUndefined();
}

APMPValueRef runStatementList(APMPArguments arguments, const APMPScopeRef& scope,
                              sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 1, error)) {
        return APMPUndefined();
    }
    const auto list = APMPEvaluateArray(arguments[0], scope, error);
    return list ? APMPRunStatementList(list, scope, error) : APMPUndefined();
}

APMPValueRef sequence(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountAtLeast(arguments, 1, error)) {
        return APMPUndefined();
    }
    APMPValueRef result;
    for (const auto& argument : arguments) {
        result = APMPEvaluator::evaluateStatement(argument, scope, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        if (result->kind() == APMPValueKind::kControl) {
            error = APMPError(APMPErrorCode::kArgumentKind);
            return APMPUndefined();
        }
    }
    return result;
}

// A branch of "22": a statement list runs in the current scope; any other value is the result.
APMPValueRef branch(const APMPValueRef& argument, const APMPScopeRef& scope, sdk::Error& error) {
    const APMPValueRef value = APMPEvaluator::evaluateStatement(argument, scope, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (value->kind() == APMPValueKind::kArray) {
        return APMPRunStatementList(value, scope, error);
    }
    return value;
}

// Evaluates `argument` and takes its boolean.
bool condition(const APMPValueRef& argument, const APMPScopeRef& scope, sdk::Error& error) {
    const APMPValueRef value = APMPEvaluator::evaluateStatement(argument, scope, error);
    return error.ok() && value->booleanValueOrError(error);
}

APMPValueRef ifCommand(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountAtLeast(arguments, 1, error) ||
        !APMPCheckArgumentCountAtMost(arguments, 3, error)) {
        return APMPUndefined();
    }
    const bool truth = condition(arguments[0], scope, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (truth && arguments.size() >= 2) {
        return branch(arguments[1], scope, error);
    }
    if (!truth && arguments.size() == 3) {
        return branch(arguments[2], scope, error);
    }
    return APMPUndefined();
}

APMPValueRef conditional(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 3, error)) {
        return APMPUndefined();
    }
    const bool truth = condition(arguments[0], scope, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    return APMPEvaluator::evaluateStatement(arguments[truth ? 1 : 2], scope, error);
}

APMPValueRef returnCommand(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(arguments, 1, error)) {
        return APMPUndefined();
    }
    if (arguments.empty()) {
        return APMPControlValue::returnValueWithData(APMPUndefined());
    }
    APMPValueRef data = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    return error.ok() ? APMPControlValue::returnValueWithData(std::move(data)) : APMPUndefined();
}

APMPValueRef statementList(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    return APMPObjectManager::arrayValueWithArray(APMPValueList(arguments.begin(), arguments.end()),
                                                  *scope, error);
}

}  // namespace

APMPControlCommandEvaluator::APMPControlCommandEvaluator() : APMPCommandEvaluator(Arguments::kRaw) {
    addHandler(u"2", methodCall);
    addHandler(u"53", block);
    addHandler(u"4", breakCommand);
    addHandler(u"6", continueCommand);
    addHandler(u"5", runStatementList);
    addHandler(u"9", runStatementList);
    addHandler(u"13", sequence);
    addHandler(u"22", ifCommand);
    addHandler(u"39", conditional);
    addHandler(u"38", APMPSwitchCommand);
    addHandler(u"36", returnCommand);
    addHandler(u"46", statementList);
    addHandler(u"51", APMPFunctionLiteralCommand);
    addHandler(u"50", APMPFunctionDeclarationCommand);
}
