#include "sdk/measurement/script/APMPLoopCommandEvaluator.h"

#include <algorithm>

#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPControlCommands.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStringValue.h"

namespace {

// How a for-in or for-of loop binds its variable.
enum class Binding { kAssign, kConstant, kVariable };

// The outcome of one run of a loop body.
enum class Step { kNext, kEnd };

// Runs `body` in `scope`: kEnd with `result` set when the loop ends (error or break:
// undefined; return: the return value), else kNext.
Step runBody(const APMPValueRef& body, const APMPScopeRef& scope, sdk::Error& error,
             APMPValueRef& result) {
    const APMPValueRef value = APMPRunStatementList(body, scope, error);
    if (!error.ok() || APMPIsControl(value, APMPControlType::kBreak)) {
        result = APMPUndefined();
        return Step::kEnd;
    }
    if (APMPIsControl(value, APMPControlType::kReturn)) {
        result = value;
        return Step::kEnd;
    }
    return Step::kNext;
}

// What a key costs beyond its slot in the list: a string value with a short text.
const double kKeyBytes = APMPStringValue::allocationBytes(15);

// The elements of `array` that are not holes.
std::size_t presentElements(const APMPArrayValue& array) {
    std::size_t present = 0;
    for (const auto& element : array.elements()) {
        present += element != APMPArrayValue::emptyValue() ? 1 : 0;
    }
    return present;
}

// The number of keys or values of a non-string subject, and whether they are new strings.
double copyCount(const APMPRuntimeValue& subject, bool overValues) {
    std::size_t items = 0;
    switch (subject.kind()) {
        case APMPValueKind::kArray: {
            const auto& array = static_cast<const APMPArrayValue&>(subject);
            if (overValues) {
                return static_cast<double>(array.count());
            }
            items = presentElements(array) + array.propertyMap().count();
            break;
        }
        case APMPValueKind::kMap:
            items = static_cast<const APMPMapValue&>(subject).propertyMap().count();
            break;
        case APMPValueKind::kFunction:
            items = static_cast<const APMPFunctionValue&>(subject).propertyMap().count();
            break;
        default:
            break;
    }
    return static_cast<double>(items);
}

APMPValueList namesOf(const APMPPropertyMap& map) {
    APMPValueList names;
    for (auto& name : map.allNames()) {
        names.push_back(APMPStringValue::make(std::move(name)));
    }
    return names;
}

// The keys of a subject other than a string.
APMPValueList keysOf(const APMPRuntimeValue& subject) {
    switch (subject.kind()) {
        case APMPValueKind::kArray:
            return static_cast<const APMPArrayValue&>(subject).allPropertyNames();
        case APMPValueKind::kMap:
            return static_cast<const APMPMapValue&>(subject).allPropertyNames();
        case APMPValueKind::kFunction:
            return namesOf(static_cast<const APMPFunctionValue&>(subject).propertyMap());
        default:
            return {};
    }
}

// The keys or values of a loop's subject, taken before the first iteration. A string's are
// made one at a time (its text cannot change); any other subject's are copied, and the copy is
// accounted against the memory budget for as long as the loop runs, so a loop over a huge
// array fails with error 18 instead of exhausting memory.
class LoopItems {
  public:
    // For-of over anything but a string or an array fails with error 16.
    LoopItems(const APMPValueRef& subject, bool overValues, const APMPScope& scope,
              sdk::Error& error)
        : overValues_(overValues), reservation_(scope.budget()) {
        if (subject->kind() == APMPValueKind::kString) {
            text_ = std::static_pointer_cast<const APMPStringValue>(subject);
            return;
        }
        if (overValues && subject->kind() != APMPValueKind::kArray) {
            error = APMPError(APMPErrorCode::kNotIterable);
            return;
        }
        // The list is accounted while the loop runs; the keys, new strings that account
        // themselves, are checked to fit before they are made.
        const double count = copyCount(*subject, overValues);
        const double listBytes = APMPArrayValue::bufferBytes(count);
        error = reservation_.resize(listBytes + (overValues ? 0 : kKeyBytes * count));
        if (error.ok()) {
            (void)reservation_.resize(listBytes);
            items_ = overValues ? static_cast<const APMPArrayValue&>(*subject).allElements()
                                : keysOf(*subject);
        }
    }

    std::size_t count() const { return text_ ? text_->value().size() : items_.size(); }

    APMPValueRef item(std::size_t index) const {
        if (!text_) {
            return items_[index];
        }
        if (overValues_) {
            return APMPStringValue::make(std::u16string(1, text_->value()[index]));
        }
        return APMPStringValue::make(APMPNumberValue::stringFromDouble(static_cast<double>(index)));
    }

  private:
    const bool overValues_;
    std::shared_ptr<const APMPStringValue> text_;
    APMPValueList items_;
    APMPMemoryReservation reservation_;
};

// Binds `value` to `name` as `binding` says: the scope the body runs in, or null on an error.
APMPScopeRef bind(Binding binding, const APMPScopeRef& scope, const std::u16string& name,
                  const APMPValueRef& value, sdk::Error& error) {
    if (binding == Binding::kAssign) {
        error = scope->setValue(value, name);
        return error.ok() ? scope : nullptr;
    }
    APMPScopeRef child = scope->createChildScope();
    error = binding == Binding::kConstant ? child->addImmutableValue(value, name)
                                          : child->addValue(value, name);
    return error.ok() ? child : nullptr;
}

// For-in (`overValues` false) or for-of: name, subject and body list, evaluated in order.
APMPValueRef forEach(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error,
                     bool overValues, Binding binding) {
    if (!APMPCheckArgumentCountEquals(arguments, 3, error)) {
        return APMPUndefined();
    }
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    const std::u16string name = error.ok() ? values[0]->stringValueOrError(error) : u"";
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (values[2]->kind() != APMPValueKind::kArray) {
        error = APMPError(APMPErrorCode::kArgumentKind);
        return APMPUndefined();
    }
    const APMPValueRef& body = values[2];
    const LoopItems items(values[1], overValues, *scope, error);
    APMPValueRef result = APMPUndefined();
    for (std::size_t i = 0; i < items.count() && error.ok(); ++i) {
        // Binding the item is a step of its own: an empty body still costs each iteration.
        error = APMPChargeSteps(1);
        if (!error.ok()) {
            break;
        }
        const APMPScopeRef iteration = bind(binding, scope, name, items.item(i), error);
        if (!iteration || runBody(body, iteration, error, result) == Step::kEnd) {
            break;
        }
    }
    return error.ok() ? result : APMPUndefined();
}

template <bool overValues, Binding binding>
APMPValueRef forEachCommand(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    return forEach(arguments, scope, error, overValues, binding);
}

// A new child of `parent` holding a copy of each of `names` as `source` sees it.
APMPScopeRef copyVariables(const APMPScopeRef& parent, const APMPScope& source,
                           const std::vector<std::u16string>& names, sdk::Error& error) {
    APMPScopeRef copy = parent->createChildScope();
    for (const auto& name : names) {
        error = copy->addValue(source.valueForName(name), name);
        if (!error.ok()) {
            return nullptr;
        }
    }
    return copy;
}

// The scope of a counted loop's next iteration: a copy of `names` from `previous` in a new
// child of `parent`. When only the loop holds `previous` (no closure or nested scope kept it)
// and it holds no names but `names` (the body declared none), the copy could not be told from
// it, so `previous` goes on as the next iteration's scope and nothing is made.
// REQUIRES: `names` has no duplicates and `previous` was made by copyVariables() from them.
APMPScopeRef nextIteration(const APMPScopeRef& parent, APMPScopeRef previous,
                           const std::vector<std::u16string>& names, sdk::Error& error) {
    if (previous.use_count() == 1 && previous->ownNameCount() == names.size()) {
        return previous;
    }
    return copyVariables(parent, *previous, names, error);
}

// Evaluates `argument` in `scope` and takes its boolean.
bool test(const APMPValueRef& argument, const APMPScopeRef& scope, sdk::Error& error) {
    const APMPValueRef value = APMPEvaluator::evaluateStatement(argument, scope, error);
    return error.ok() && value->booleanValueOrError(error);
}

// "63": loop-variable names, condition, update, body list.
APMPValueRef countedLoop(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 4, error)) {
        return APMPUndefined();
    }
    const auto nameList = APMPEvaluateArray(arguments[0], scope, error);
    const APMPValueRef body = nameList ? APMPEvaluateArray(arguments[3], scope, error) : nullptr;
    if (!body) {
        return APMPUndefined();
    }
    // Each name once: copying a name twice gives the scope nothing more.
    std::vector<std::u16string> names;
    for (const auto& name : nameList->allElements()) {
        std::u16string text = name->stringValueOrError(error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        if (std::find(names.begin(), names.end(), text) == names.end()) {
            names.push_back(std::move(text));
        }
    }
    APMPScopeRef iteration = copyVariables(scope, *scope, names, error);
    APMPValueRef result = APMPUndefined();
    bool again = iteration && test(arguments[1], iteration, error);
    while (again && runBody(body, iteration, error, result) == Step::kNext) {
        iteration = nextIteration(scope, std::move(iteration), names, error);
        if (!iteration) {
            break;
        }
        APMPEvaluator::evaluateStatement(arguments[2], iteration, error);
        again = error.ok() && test(arguments[1], iteration, error);
    }
    return error.ok() ? result : APMPUndefined();
}

// "42": condition, step, run-first flag, body list. A run-first body runs once before the
// first test (no step follows it); then test, body, step, again. A continue goes on to the
// step.
APMPValueRef whileLoop(APMPArguments arguments, const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(arguments, 4, error)) {
        return APMPUndefined();
    }
    const bool runFirst = test(arguments[2], scope, error);
    const APMPValueRef body = error.ok() ? APMPEvaluateArray(arguments[3], scope, error) : nullptr;
    if (!body) {
        return APMPUndefined();
    }
    APMPValueRef result = APMPUndefined();
    if (runFirst && runBody(body, scope, error, result) == Step::kEnd) {
        return error.ok() ? result : APMPUndefined();
    }
    while (error.ok() && test(arguments[0], scope, error) &&
           runBody(body, scope, error, result) == Step::kNext) {
        APMPEvaluator::evaluateStatement(arguments[1], scope, error);
    }
    return error.ok() ? result : APMPUndefined();
}

}  // namespace

APMPLoopCommandEvaluator::APMPLoopCommandEvaluator() : APMPCommandEvaluator(Arguments::kRaw) {
    addHandler(u"47", forEachCommand<false, Binding::kAssign>);
    addHandler(u"54", forEachCommand<false, Binding::kConstant>);
    addHandler(u"55", forEachCommand<false, Binding::kVariable>);
    addHandler(u"64", forEachCommand<true, Binding::kAssign>);
    addHandler(u"65", forEachCommand<true, Binding::kConstant>);
    addHandler(u"66", forEachCommand<true, Binding::kVariable>);
    addHandler(u"63", countedLoop);
    addHandler(u"42", whileLoop);
}
