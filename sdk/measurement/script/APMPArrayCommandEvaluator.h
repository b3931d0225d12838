#pragma once

#include <string>
#include <string_view>

#include "sdk/measurement/script/APMPPropertyMap.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

class APMPArrayValue;

// The array methods by name: concat, every, filter, forEach, hasOwnProperty, indexOf, join,
// lastIndexOf, map, pop, push, reduce, reduceRight, reverse, shift, slice, some, sort, splice,
// toString and unshift. Built once and read-only afterwards, so one table serves every runtime
// on every thread.
//
// Callback methods read the count once and test each index with hasProperty(), so a callback
// that shrinks or grows the array never reads past its end. New arrays and strings are
// accounted against the calling runtime's memory budget.
class APMPArrayCommandEvaluator {
  public:
    // (receiver, evaluated arguments, scope, error out) to a value; undefined on an error.
    using Handler = APMPValueRef (*)(APMPArrayValue& array, APMPArguments values,
                                     const APMPScopeRef& scope, sdk::Error& error);

    static const APMPArrayCommandEvaluator& sharedInstance();

    APMPArrayCommandEvaluator(const APMPArrayCommandEvaluator&) = delete;
    APMPArrayCommandEvaluator& operator=(const APMPArrayCommandEvaluator&) = delete;

    // A name outside the table fails with error 17; otherwise the raw `arguments` are
    // evaluated in `scope`, left to right (the first error stops), and the method runs. Never
    // null; undefined whenever `error` is set.
    APMPValueRef evaluateCommand(std::u16string_view name, APMPArrayValue& array,
                                 APMPArguments arguments, const APMPScopeRef& scope,
                                 sdk::Error& error) const;

  private:
    APMPArrayCommandEvaluator();

    APMPNameTable<Handler> handlers_;
};
