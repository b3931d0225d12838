#include "sdk/measurement/script/APMPEvaluator.h"

#include "sdk/measurement/script/APMPCommandEvaluator.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStatementValue.h"

namespace {

// Leaves the nesting level an evaluation entered.
class LevelExit {
  public:
    explicit LevelExit(APMPRuntimeBudget& budget) : budget_(budget) {}
    LevelExit(const LevelExit&) = delete;
    LevelExit& operator=(const LevelExit&) = delete;
    ~LevelExit() { budget_.leaveLevel(); }

  private:
    APMPRuntimeBudget& budget_;
};

}  // namespace

sdk::Error APMPCountInstruction(const APMPScope& scope) {
    APMPRuntimeBudget* budget = scope.budget().get();
    if (budget == nullptr) {
        return APMPError(APMPErrorCode::kLimitExceeded);
    }
    return budget->countInstruction();
}

APMPValueRef APMPEvaluator::evaluateStatement(const APMPValueRef& value, const APMPScopeRef& scope,
                                              sdk::Error& error) {
    // The scope holds its runtime's budget for the whole evaluation.
    const std::shared_ptr<APMPRuntimeBudget>& owner = scope->budget();
    APMPRuntimeBudget* budget = owner.get();
    if (budget == nullptr || !budget->tryCountInstruction()) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return APMPUndefined();
    }
    if (value->kind() != APMPValueKind::kStatement) {
        return value;
    }
    if (!budget->tryEnterLevel()) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return APMPUndefined();
    }
    const LevelExit level(*budget);
    // Work done deep inside values while the command runs is paid to this runtime.
    const APMPActiveBudgetScope active(owner);
    const auto& statement = static_cast<const APMPStatementValue&>(*value);
    return statement.command().run(statement.functionName(), statement.arguments(), scope, error);
}

APMPValueRef APMPEvaluator::executeStatements(std::span<const APMPValueRef> statements,
                                              const APMPScopeRef& scope, sdk::Error& error) {
    APMPValueRef result = APMPUndefined();
    for (const auto& statement : statements) {
        result = evaluateStatement(statement, scope, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        if (result->kind() == APMPValueKind::kControl) {
            return result;
        }
    }
    return result;
}

std::optional<APMPValueList> APMPEvaluateExactly(APMPArguments arguments, std::size_t count,
                                                 const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, count, error)) {
        return std::nullopt;
    }
    APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (!error.ok()) {
        return std::nullopt;
    }
    return values;
}

APMPValueList APMPEvaluateArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                    sdk::Error& error) {
    APMPValueList values;
    values.reserve(arguments.size());
    for (const auto& argument : arguments) {
        values.push_back(APMPEvaluator::evaluateStatement(argument, scope, error));
        if (!error.ok()) {
            return {};
        }
    }
    return values;
}
