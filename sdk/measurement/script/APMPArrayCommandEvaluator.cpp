#include "sdk/measurement/script/APMPArrayCommandEvaluator.h"

#include <cmath>
#include <cstdint>

#include "sdk/measurement/script/APMPArgumentList.h"
#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStringValue.h"

namespace {

APMPValueRef number(double value) {
    return APMPNumberValue::make(value);
}

APMPValueRef orUndefined(const APMPValueRef& value, const sdk::Error& error) {
    return error.ok() && value ? value : APMPUndefined();
}

// The first argument as a callback: error 10 unless it is a function.
std::shared_ptr<APMPFunctionValue> callbackOf(APMPArguments values, sdk::Error& error) {
    if (values.empty() || values[0]->kind() != APMPValueKind::kFunction) {
        error = APMPError(APMPErrorCode::kArgumentKind);
        return nullptr;
    }
    return std::static_pointer_cast<APMPFunctionValue>(values[0]);
}

// The integer of argument `index` (APMPToInteger), or `fallback` when it is absent.
double integerArgument(APMPArguments values, std::size_t index, double fallback,
                       sdk::Error& error) {
    if (index >= values.size()) {
        return fallback;
    }
    const double value = values[index]->doubleValueOrError(error);
    return APMPToInteger(value);
}

// `position` counted from the end when negative, clamped to low .. count.
std::size_t clampedPosition(double position, double low, std::size_t count) {
    const double total = static_cast<double>(count);
    if (position < 0) {
        position += total;
    }
    position = std::max(low, std::min(position, total));
    return static_cast<std::size_t>(position);
}

enum class Iteration { kEvery, kSome, kFilter, kForEach, kMap };

// every, some, filter, forEach and map: the callback is called with (element, index, array)
// for each index below the count read at the start that is still present.
template <Iteration mode>
APMPValueRef iterate(APMPArrayValue& array, APMPArguments values, const APMPScopeRef& scope,
                     sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 1, error)) {
        return APMPUndefined();
    }
    const auto callback = callbackOf(values, error);
    if (!callback) {
        return APMPUndefined();
    }
    const std::size_t count = array.count();
    std::shared_ptr<APMPArrayValue> result;
    if constexpr (mode == Iteration::kFilter || mode == Iteration::kMap) {
        result = APMPObjectManager::arrayValueWithScope(*scope);
        if constexpr (mode == Iteration::kMap) {
            error = result->setLength(static_cast<double>(count));
            if (!error.ok()) {
                return APMPUndefined();
            }
        }
    }
    const APMPValueRef self = array.shared_from_this();
    for (std::size_t i = 0; i < count; ++i) {
        const APMPValueRef index = number(static_cast<double>(i));
        if (!array.hasProperty(*index, error) || !error.ok()) {
            if (!error.ok()) {
                return APMPUndefined();
            }
            continue;
        }
        const APMPValueRef element = array.valueForProperty(*index, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        const APMPValueRef answer = callback->invokeAsCallback({element, index, self}, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        if constexpr (mode == Iteration::kMap) {
            error = result->setValueForProperty(answer, *index);
        } else if constexpr (mode != Iteration::kForEach) {
            const bool truth = answer->booleanValueOrError(error);
            if (!error.ok()) {
                return APMPUndefined();
            }
            if constexpr (mode == Iteration::kEvery) {
                if (!truth) {
                    return APMPBoolean(false);
                }
            } else if constexpr (mode == Iteration::kSome) {
                if (truth) {
                    return APMPBoolean(true);
                }
            } else if (truth) {
                error = result->appendElements({element});
            }
        }
        if (!error.ok()) {
            return APMPUndefined();
        }
    }
    if constexpr (mode == Iteration::kEvery) {
        return APMPBoolean(true);
    } else if constexpr (mode == Iteration::kSome) {
        return APMPBoolean(false);
    } else if constexpr (mode == Iteration::kForEach) {
        return APMPUndefined();
    } else {
        return result;
    }
}

// reduce (forward) and reduceRight: the callback folds (accumulator, element, index, array).
template <bool forward>
APMPValueRef fold(APMPArrayValue& array, APMPArguments values, const APMPScopeRef&,
                  sdk::Error& error) {
    if (!APMPCheckArgumentCountAtLeast(values, 1, error) ||
        !APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    const auto callback = callbackOf(values, error);
    if (!callback) {
        return APMPUndefined();
    }
    if (values.size() == 2 && values[1]->kind() == APMPValueKind::kControl) {
        error = APMPError(APMPErrorCode::kArgumentKind);
        return APMPUndefined();
    }
    const APMPValueRef self = array.shared_from_this();
    const std::int64_t count = static_cast<std::int64_t>(array.count());
    const std::int64_t step = forward ? 1 : -1;
    std::int64_t i = forward ? 0 : count - 1;
    const auto inRange = [&] { return forward ? i < count : i >= 0; };
    // The element at i when present, else null.
    const auto present = [&](APMPValueRef& index) -> APMPValueRef {
        index = number(static_cast<double>(i));
        if (!array.hasProperty(*index, error) || !error.ok()) {
            return nullptr;
        }
        return array.valueForProperty(*index, error);
    };
    APMPValueRef accumulator;
    APMPValueRef index;
    if (values.size() == 2) {
        accumulator = values[1];
    } else {
        for (; inRange() && !accumulator && error.ok(); i += step) {
            accumulator = present(index);
        }
        if (!error.ok()) {
            return APMPUndefined();
        }
        if (!accumulator) {
            error = APMPError(APMPErrorCode::kReduceOfEmptyArray);
            return APMPUndefined();
        }
    }
    for (; inRange(); i += step) {
        const APMPValueRef element = present(index);
        if (!error.ok()) {
            return APMPUndefined();
        }
        if (element) {
            accumulator = callback->invokeAsCallback({accumulator, element, index, self}, error);
            if (!error.ok()) {
                return APMPUndefined();
            }
        }
    }
    return accumulator;
}

APMPValueRef concat(APMPArrayValue& array, APMPArguments values, const APMPScopeRef& scope,
                    sdk::Error& error) {
    return orUndefined(array.concat(values, *scope, error), error);
}

APMPValueRef hasOwnProperty(APMPArrayValue& array, APMPArguments values, const APMPScopeRef&,
                            sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 1, error)) {
        return APMPUndefined();
    }
    const APMPRuntimeValue& key = *values[0];
    if (key.kind() == APMPValueKind::kString &&
        static_cast<const APMPStringValue&>(key).value() == u"length") {
        return APMPBoolean(true);
    }
    const bool found = array.hasProperty(key, error);
    return error.ok() ? APMPBoolean(found) : APMPUndefined();
}

APMPValueRef indexOf(APMPArrayValue& array, APMPArguments values, const APMPScopeRef&,
                     sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    const double start = integerArgument(values, 1, 0, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    const double count = static_cast<double>(array.count());
    if (start >= count) {
        return number(-1);
    }
    const APMPValueRef search = values.empty() ? APMPUndefined() : values[0];
    const std::size_t from =
        static_cast<std::size_t>(start < 0 ? std::max(0.0, start + count) : start);
    return number(static_cast<double>(array.indexOfValue(*search, from)));
}

APMPValueRef lastIndexOf(APMPArrayValue& array, APMPArguments values, const APMPScopeRef&,
                         sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    const double count = static_cast<double>(array.count());
    double start = count - 1;
    if (values.size() == 2) {
        const double raw = values[1]->doubleValueOrError(error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        if (!std::isnan(raw)) {
            start = APMPToInteger(raw);
            start = start < 0 ? start + count : start;
        }
    }
    if (start < 0) {
        return number(-1);
    }
    const APMPValueRef search = values.empty() ? APMPUndefined() : values[0];
    return number(static_cast<double>(
        array.lastIndexOfValue(*search, APMPToInt64Saturating(std::min(start, count - 1)))));
}

APMPValueRef joined(const APMPArrayValue& array, std::u16string_view separator,
                    const APMPScopeRef& scope, sdk::Error& error) {
    std::u16string text = array.stringValueWithSeparator(separator, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    return orUndefined(APMPStringValue::makeInScope(std::move(text), scope.get(), error), error);
}

APMPValueRef join(APMPArrayValue& array, APMPArguments values, const APMPScopeRef& scope,
                  sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 1, error)) {
        return APMPUndefined();
    }
    std::u16string separator = u",";
    if (!values.empty()) {
        const APMPValueKind kind = values[0]->kind();
        separator = kind == APMPValueKind::kUndefined || kind == APMPValueKind::kNull
                        ? u""
                        : values[0]->stringValueOrError(error);
        if (!error.ok()) {
            return APMPUndefined();
        }
    }
    return joined(array, separator, scope, error);
}

APMPValueRef toString(APMPArrayValue& array, APMPArguments values, const APMPScopeRef& scope,
                      sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 0, error)) {
        return APMPUndefined();
    }
    return joined(array, u",", scope, error);
}

template <bool last>
APMPValueRef removeEnd(APMPArrayValue& array, APMPArguments values, const APMPScopeRef&,
                       sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 0, error)) {
        return APMPUndefined();
    }
    return last ? array.removeLastElement() : array.removeFirstElement();
}

template <bool atEnd>
APMPValueRef insertAtEnd(APMPArrayValue& array, APMPArguments values, const APMPScopeRef&,
                         sdk::Error& error) {
    error = atEnd ? array.appendElements(values) : array.prependElements(values);
    return error.ok() ? number(static_cast<double>(array.count())) : APMPUndefined();
}

APMPValueRef reverse(APMPArrayValue& array, APMPArguments values, const APMPScopeRef&,
                     sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 0, error)) {
        return APMPUndefined();
    }
    array.reverse();
    return array.shared_from_this();
}

APMPValueRef slice(APMPArrayValue& array, APMPArguments values, const APMPScopeRef& scope,
                   sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    const std::size_t count = array.count();
    const double startArgument = integerArgument(values, 0, 0, error);
    const double endArgument =
        error.ok() ? integerArgument(values, 1, static_cast<double>(count), error) : 0;
    if (!error.ok()) {
        return APMPUndefined();
    }
    const std::size_t start = clampedPosition(startArgument, 0, count);
    const std::size_t end = clampedPosition(endArgument, static_cast<double>(start), count);
    return orUndefined(
        APMPObjectManager::subarrayWithArray(array, start, end - start, *scope, error), error);
}

APMPValueRef splice(APMPArrayValue& array, APMPArguments values, const APMPScopeRef& scope,
                    sdk::Error& error) {
    const std::size_t count = array.count();
    std::size_t start = count;
    std::size_t deleteCount = 0;
    if (!values.empty()) {
        const double startArgument = integerArgument(values, 0, 0, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        start = clampedPosition(startArgument, 0, count);
        const double rest = static_cast<double>(count - start);
        const double wanted = integerArgument(values, 1, rest, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        deleteCount = static_cast<std::size_t>(std::max(0.0, std::min(wanted, rest)));
    }
    const APMPArguments inserted = values.subspan(std::min<std::size_t>(2, values.size()));
    return orUndefined(array.spliceFrom(start, deleteCount, inserted, *scope, error), error);
}

APMPValueRef sort(APMPArrayValue& array, APMPArguments values, const APMPScopeRef&,
                  sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 1, error)) {
        return APMPUndefined();
    }
    if (array.count() < 2) {
        return array.shared_from_this();
    }
    std::shared_ptr<APMPFunctionValue> comparator;
    if (!values.empty()) {
        comparator = callbackOf(values, error);
        if (!comparator) {
            return APMPUndefined();
        }
    }
    // Keeps the receiver alive even when the comparator drops every reference to it.
    const APMPValueRef self = array.shared_from_this();
    error = array.sortUsingFunctionValue(comparator);
    return error.ok() ? self : APMPUndefined();
}

}  // namespace

const APMPArrayCommandEvaluator& APMPArrayCommandEvaluator::sharedInstance() {
    static const APMPArrayCommandEvaluator& instance =
        *new APMPArrayCommandEvaluator();  // lives for the process
    return instance;
}

APMPArrayCommandEvaluator::APMPArrayCommandEvaluator() {
    handlers_ = {
        {u"concat", concat},
        {u"every", iterate<Iteration::kEvery>},
        {u"filter", iterate<Iteration::kFilter>},
        {u"forEach", iterate<Iteration::kForEach>},
        {u"hasOwnProperty", hasOwnProperty},
        {u"indexOf", indexOf},
        {u"join", join},
        {u"lastIndexOf", lastIndexOf},
        {u"map", iterate<Iteration::kMap>},
        {u"pop", removeEnd<true>},
        {u"push", insertAtEnd<true>},
        {u"reduce", fold<true>},
        {u"reduceRight", fold<false>},
        {u"reverse", reverse},
        {u"shift", removeEnd<false>},
        {u"slice", slice},
        {u"some", iterate<Iteration::kSome>},
        {u"sort", sort},
        {u"splice", splice},
        {u"toString", toString},
        {u"unshift", insertAtEnd<false>},
    };
}

APMPValueRef APMPArrayCommandEvaluator::evaluateCommand(std::u16string_view name,
                                                        APMPArrayValue& array,
                                                        APMPArguments arguments,
                                                        const APMPScopeRef& scope,
                                                        sdk::Error& error) const {
    const auto found = handlers_.find(name);
    if (found == handlers_.end()) {
        error = APMPError(APMPErrorCode::kUnknownMethod);
        return APMPUndefined();
    }
    APMPArgumentList values(arguments.size());
    APMPEvaluateArgumentsInto(arguments, scope, error, values);
    if (!error.ok()) {
        return APMPUndefined();
    }
    // Keeps the receiver alive for the call, whatever the arguments' callbacks do to it.
    const APMPValueRef self = array.shared_from_this();
    const APMPValueRef result = found->second(array, values.values(), scope, error);
    return orUndefined(result, error);
}
