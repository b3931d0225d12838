#include "sdk/measurement/script/APMPMathCommandEvaluator.h"

#include <cmath>

#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPOperands.h"
#include "sdk/measurement/script/APMPStringValue.h"

namespace {

double subtract(double a, double b) {
    return a - b;
}
double multiply(double a, double b) {
    return a * b;
}
double divide(double a, double b) {
    return a / b;
}
double fmodRemainder(double a, double b) {
    return std::fmod(a, b);
}
double negate(double a, double) {
    return -a;
}
double sum(double a, double b) {
    return a + b;
}

APMPValueRef add(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 2, error)) {
        return APMPUndefined();
    }
    if (!APMPIsObjectLike(*arguments[0]) && !APMPIsObjectLike(*arguments[1])) {
        return APMPNumberCommand<sum, 2>(arguments, scope, error);
    }
    const std::u16string first = arguments[0]->stringValueOrError(error);
    const std::u16string second = error.ok() ? arguments[1]->stringValueOrError(error) : u"";
    if (!error.ok()) {
        return APMPUndefined();
    }
    APMPValueRef text = APMPStringValue::concatenate(first, second, scope.get(), error);
    return error.ok() ? text : APMPUndefined();
}

template <std::size_t count>
APMPValueRef passThrough(APMPArguments arguments, const APMPScopeRef&, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, count, error)) {
        return APMPUndefined();
    }
    return arguments[0];
}

}  // namespace

APMPMathCommandEvaluator::APMPMathCommandEvaluator() : APMPCommandEvaluator(Arguments::kEvaluated) {
    addHandler(u"0", add);
    addHandler(u"37", APMPNumberCommand<subtract, 2>);
    addHandler(u"26", APMPNumberCommand<multiply, 2>);
    addHandler(u"10", APMPNumberCommand<divide, 2>);
    addHandler(u"25", APMPNumberCommand<fmodRemainder, 2>);
    addHandler(u"27", APMPNumberCommand<negate, 1>);
    addHandler(u"32", passThrough<2>);
    addHandler(u"33", passThrough<2>);
    addHandler(u"34", passThrough<1>);
    addHandler(u"35", passThrough<1>);
}
