#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMValue.h"

// The cleaning every parameter dictionary goes through before an event is made: names and
// values are checked, raw values converted, "items" arrays cleaned element by element, the
// value/currency rule applied and the parameter counts limited. Nothing bad is kept and nothing
// is lost silently: a dropped parameter leaves an error record on the event, "_err" (the error
// code), "_ev" (the offending name, cut to a limit) and "_el" (the offending value's length).
// The first error recorded wins: later errors never replace "_err", "_ev" or "_el".
//
// Plain functions without state; safe on any thread.

// `text` cut to its first `limit` code points followed by "...", or unchanged when it is not
// longer than `limit`.
std::string APMTrimToLength(std::string_view text, std::int32_t limit);

// Records "_ev" (the name cut to `maxLength` code points) and, when a value is given, "_el"
// (a string's length in code points, an array's element count, else 0); only when neither
// "_ev" nor "_el" is present.
void APMSetErrorDetails(APMParameters& parameters, std::string_view name, std::int32_t maxLength,
                        const sdk::Value* value);
// Sets "_err" = code only when absent.
void APMSetErrorCodeIfAbsent(APMParameters& parameters, std::int64_t code);
// When none of "_err", "_ev", "_el" is present: "_err" = code and the details.
void APMSetEventError(APMParameters& parameters, std::int64_t code, std::string_view name,
                      std::int32_t maxLength, const sdk::Value* value);
// Maps an array failure code of the validator to its error: 10 -> 21 (with the event name),
// 11 -> 20, 12 -> 17, 13 -> 22 (with the parameter name); other codes record nothing.
void APMSetArrayParameterError(APMParameters& parameters, std::uint64_t failureCode,
                               std::string_view parameterName, std::string_view eventName);

// The parameters of an internal "_err" event for error `code`: {"_err": code} plus the
// details, the value counted only for codes 4 and 7 or a string longer than `maxLength`. None
// for code 0. (Logging the event is the facade's internal-event path.)
std::optional<APMParameters> APMErrorEventParameters(std::int64_t code, std::string_view name,
                                                     std::int32_t maxLength,
                                                     const sdk::Value* value);

// The value/currency rule: a "value" must be numeric (else removed with error 18) and come with
// a valid "currency" (else removed with error 19 and 18014 logged). True when there is no
// "value" or both are valid.
bool APMValidateValueAndCurrency(APMParameters& parameters, std::int32_t maxValueLength);

// A public name must pass the public parameter name rule, every name the internal one. On
// failure, unless "_err" is present, records error 14 (reserved) or 3 with the name.
bool APMValidateParameterName(std::string_view name, bool isPublic, APMParameters& errorParameters);

// The names that pass APMValidateParameterName, in English collation order; none for no
// parameters. A kept name whose value is not a number, string or array logs 18005 and records
// error 4.
std::optional<std::vector<std::string>> APMSortedValidParameterNames(
    const APMRawParameters& parameters, bool isPublic, APMParameters& errorParameters);

// Cleans `parameters` of event `eventName` (empty for none): see the file comment. `isItem`
// cleans one element of an "items" array. None for no parameters; a dictionary of error
// parameters only when every parameter was dropped.
std::optional<APMParameters> APMCleanEventParameters(const APMRawParameters& parameters,
                                                     std::string_view eventName, bool isPublic,
                                                     bool isItem, const APMParameterLimits& limits);

// Cleans an array parameter: the array rule of the validator (too many items keeps the first
// 200), then each element as an item; elements that are not dictionaries record error 4. None
// when the array is refused; `failureCode` gets the validator's code.
std::optional<APMValue> APMCleanArrayParameter(const sdk::Value::Array& array,
                                               std::string_view parameterName,
                                               std::string_view eventName,
                                               APMParameters& errorParameters, bool isItem,
                                               bool isPublic, std::uint64_t* failureCode,
                                               const APMParameterLimits& limits);

// Removes custom parameters (not beginning with "_", for an item also not item parameters),
// the last in UTF-16 order first, until at most `limit` are left.
void APMTrimCustomParameters(APMParameters& parameters, std::int32_t limit, bool isItem);
