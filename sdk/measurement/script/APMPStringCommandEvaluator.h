#pragma once

#include <string>
#include <string_view>

#include "sdk/measurement/script/APMPPropertyMap.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

// The string methods by name: charAt, concat, hasOwnProperty, indexOf, lastIndexOf, match,
// replace, search, slice, split, substring, toLowerCase, toLocaleLowerCase, toUpperCase,
// toLocaleUpperCase, toString and trim. Built once and read-only afterwards.
//
// Lengths, indexes and characters are UTF-16 units, so "charAt" or "slice" may split a
// surrogate pair. Literal searches compare units; "match" and "search" compile their pattern
// with ICU on every call (a pattern that does not compile fails with an error of kICUErrorDomain
// and ICU's code; so does a match past a fixed amount of backtracking work, with
// U_REGEX_TIME_OUT). Case mapping is full (one unit may become several): the plain forms use the
// root locale, the "Locale" forms ICU's default locale. Results are accounted against the
// calling runtime's memory budget, checked before the text is built.
class APMPStringCommandEvaluator {
  public:
    static constexpr std::string_view kICUErrorDomain = "org.unicode.icu.ErrorDomain";

    // (receiver, evaluated arguments, scope, error out) to a value; undefined on an error.
    using Handler = APMPValueRef (*)(const std::u16string& receiver, APMPArguments values,
                                     const APMPScopeRef& scope, sdk::Error& error);

    static const APMPStringCommandEvaluator& sharedInstance();

    APMPStringCommandEvaluator(const APMPStringCommandEvaluator&) = delete;
    APMPStringCommandEvaluator& operator=(const APMPStringCommandEvaluator&) = delete;

    // A name outside the table fails with error 17; otherwise the raw `arguments` are
    // evaluated in `scope`, left to right (the first error stops), and the method runs. Never
    // null; undefined whenever `error` is set.
    APMPValueRef evaluateCommand(std::u16string_view name, const std::u16string& receiver,
                                 APMPArguments arguments, const APMPScopeRef& scope,
                                 sdk::Error& error) const;

  private:
    APMPStringCommandEvaluator();

    APMPNameTable<Handler> handlers_;
};
