#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include <unicode/regex.h>

#include "sdk/measurement/messages/APMPBMessages.h"

// The string tests of audience filters. Match types: 1 regular expression (found anywhere in
// the text), 2 begins with, 3 ends with, 4 contains, 5 exact, 6 in list (exact against each
// entry); other types above 6 never match. Text is compared as UTF-16; unless the filter is
// case-sensitive both sides are case-folded (ICU default folding), and "exact" also needs equal
// UTF-16 lengths. Pure functions; any thread.

// Whether `filter` can be evaluated. Logs (level 1) 9000 without a match type, 9001 for type 0,
// 9003 for "in list" without entries, 9002 for another type without an expression, and 9004
// (contexts: the filter, ICU's error name) for an expression that does not compile. A valid
// regular expression filter hands its compiled expression to `regex` when given.
bool APMIsValidStringFilterWithRegex(const APMPBStringFilter& filter,
                                     std::unique_ptr<icu::RegexPattern>* regex);
bool APMIsValidStringFilter(const APMPBStringFilter& filter);

// `text` against `filter`: true or false, or no value with 9005 for no text, or with the
// validity code and then 9006 for an invalid filter, or with 9009 (contexts: the filter, ICU's
// error name) for a regular expression whose match runs past ICU's work limit (1000 units,
// about a second) or its backtracking stack.
std::optional<bool> APMEvaluateStringFilter(const APMPBStringFilter& filter,
                                            std::optional<std::string_view> text);
