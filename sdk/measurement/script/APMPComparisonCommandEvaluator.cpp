#include "sdk/measurement/script/APMPComparisonCommandEvaluator.h"

#include "sdk/measurement/script/APMPEquality.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPUnicode.h"

int APMPCompareValues(const APMPRuntimeValue& x, const APMPRuntimeValue& y, sdk::Error& error) {
    if (APMPIsObjectLike(x) && APMPIsObjectLike(y)) {
        const std::u16string a = x.stringValueOrError(error);
        const std::u16string b = error.ok() ? y.stringValueOrError(error) : std::u16string();
        if (!error.ok()) {
            return 1;
        }
        return APMPCompareUnits(a, b);
    }
    const double a = x.doubleValueOrError(error);
    const double b = error.ok() ? y.doubleValueOrError(error) : 0;
    if (!error.ok()) {
        return 1;
    }
    return a < b ? -1 : (a == b ? 0 : 1);
}

namespace {

APMPValueRef looseEqual(APMPArguments a, const APMPScopeRef&, sdk::Error& error) {
    return APMPBoolean(APMPLooseEquals(*a[0], *a[1], error));
}

APMPValueRef looseUnequal(APMPArguments a, const APMPScopeRef&, sdk::Error& error) {
    return APMPBoolean(!APMPLooseEquals(*a[0], *a[1], error));
}

APMPValueRef strictEqual(APMPArguments a, const APMPScopeRef&, sdk::Error&) {
    return APMPBoolean(APMPStrictEquals(*a[0], *a[1]));
}

APMPValueRef strictUnequal(APMPArguments a, const APMPScopeRef&, sdk::Error&) {
    return APMPBoolean(!APMPStrictEquals(*a[0], *a[1]));
}

APMPValueRef less(APMPArguments a, const APMPScopeRef&, sdk::Error& error) {
    return APMPBoolean(APMPCompareValues(*a[0], *a[1], error) == -1);
}

APMPValueRef lessOrEqual(APMPArguments a, const APMPScopeRef&, sdk::Error& error) {
    return APMPBoolean(APMPCompareValues(*a[0], *a[1], error) <= 0);
}

APMPValueRef greater(APMPArguments a, const APMPScopeRef&, sdk::Error& error) {
    return APMPBoolean(APMPCompareValues(*a[1], *a[0], error) == -1);
}

APMPValueRef greaterOrEqual(APMPArguments a, const APMPScopeRef&, sdk::Error& error) {
    return APMPBoolean(APMPCompareValues(*a[1], *a[0], error) <= 0);
}

}  // namespace

APMPComparisonCommandEvaluator::APMPComparisonCommandEvaluator()
    : APMPCommandEvaluator(Arguments::kEvaluated) {
    addHandler(u"12", looseEqual);
    addHandler(u"29", looseUnequal);
    addHandler(u"20", strictEqual);
    addHandler(u"21", strictUnequal);
    addHandler(u"23", less);
    addHandler(u"24", lessOrEqual);
    addHandler(u"18", greater);
    addHandler(u"19", greaterOrEqual);
}

APMPValueRef APMPComparisonCommandEvaluator::runHandler(Handler handler, const std::u16string& id,
                                                        APMPArguments arguments,
                                                        const APMPScopeRef& scope,
                                                        sdk::Error& error) const {
    if (!APMPCheckArgumentCountEquals(arguments, 2, error)) {
        return APMPUndefined();
    }
    return APMPCommandEvaluator::runHandler(handler, id, arguments, scope, error);
}
