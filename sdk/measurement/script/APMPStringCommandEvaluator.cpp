#include "sdk/measurement/script/APMPStringCommandEvaluator.h"

#include <unicode/uloc.h>
#include <unicode/uregex.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

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
#include "sdk/measurement/script/APMPUnicode.h"

namespace {

using Values = APMPValueList;
using Text = std::u16string;

constexpr double kNoMatch = -1;
constexpr double kObjectsPerStep = APMPRuntimeBudget::kObjectsPerStep;
// The work a match may do, in ICU's units of match steps (deterministic; a fraction of a
// second): a pattern that backtracks without end fails with U_REGEX_TIME_OUT instead of
// blocking the thread that runs the program. Each of these units is also paid to the
// program's instruction budget as it is spent, which usually ends a match much sooner.
constexpr std::int32_t kRegexWorkLimit = 1000;

// A literal search for one text in others, in time linear in what it scans (a needle of two or
// more units uses its prefix table, so no text makes the search quadratic), paying the units
// it scans to the running program's budget. Forwards, or backwards over the reversed needle.
class TextSearch {
  public:
    // Error 18 when the prefix table does not fit the memory budget or its work the budget.
    TextSearch(std::u16string_view needle, bool backwards, sdk::Error& error)
        : needle_(needle), backwards_(backwards) {
        const std::size_t m = needle_.size();
        if (m < 2) {
            return;
        }
        table_.attach(APMPActiveBudgetReference());
        error = table_.resize(APMPAllocationBytes(static_cast<double>(m) * sizeof(std::uint32_t)));
        if (error.ok()) {
            error =
                APMPChargeWork(static_cast<double>(m), APMPRuntimeBudget::kSearchedUnitsPerStep);
        }
        if (!error.ok()) {
            return;
        }
        prefix_.assign(m, 0);
        for (std::size_t i = 1, k = 0; i < m; ++i) {
            while (k > 0 && unit(i) != unit(k)) {
                k = prefix_[k - 1];
            }
            if (unit(i) == unit(k)) {
                ++k;
            }
            prefix_[i] = static_cast<std::uint32_t>(k);
        }
    }

    // Forwards: the first occurrence in `text` at or after `from`. Backwards: the last one
    // that ends at or before `end`. npos when none; error 18 (npos) when the budget cannot pay
    // for the scan.
    std::size_t find(std::u16string_view text, std::size_t bound, sdk::Error& error) const {
        const std::size_t m = needle_.size();
        const std::size_t n = backwards_ ? std::min(bound, text.size()) : text.size();
        const std::size_t from = backwards_ ? 0 : bound;
        if (from > n) {
            return Text::npos;
        }
        const auto scanned = static_cast<double>(n - from);
        if (m < 2) {
            error = APMPChargeWork(scanned, APMPRuntimeBudget::kCopiedUnitsPerStep);
            if (!error.ok()) {
                return Text::npos;
            }
            if (m == 0) {
                return backwards_ ? n : from;
            }
            return backwards_ ? APMPFindLastUnit(text, needle_[0], n)
                              : APMPFindUnit(text, needle_[0], from);
        }
        const std::size_t last = backwards_ ? walk<true>(text, 0, n) : walk<false>(text, from, n);
        if (last == Text::npos) {
            error = APMPChargeWork(scanned, APMPRuntimeBudget::kSearchedUnitsPerStep);
            return Text::npos;
        }
        // Only what was scanned is paid.
        error = APMPChargeWork(static_cast<double>(last + 1 - from),
                               APMPRuntimeBudget::kSearchedUnitsPerStep);
        if (!error.ok()) {
            return Text::npos;
        }
        return backwards_ ? n - 1 - last : last + 1 - m;
    }

  private:
    // The walk over text[0, n) from position `from`: position i reads text[i] forwards and
    // text[n - 1 - i] backwards. Returns the position at which the whole needle (of two or more
    // units) has been read, npos when it never is. Where no match is under way the walk jumps
    // to the next unit that can start one.
    template <bool backwards>
    std::size_t walk(std::u16string_view text, std::size_t from, std::size_t n) const {
        const std::size_t m = needle_.size();
        const auto unitOfNeedle = [&](std::size_t j) {
            return backwards ? needle_[m - 1 - j] : needle_[j];
        };
        const auto unitOfText = [&](std::size_t i) {
            return backwards ? text[n - 1 - i] : text[i];
        };
        const char16_t first = unitOfNeedle(0);
        std::size_t k = 0;
        for (std::size_t i = from; i < n; ++i) {
            if (k == 0) {
                const std::size_t start = backwards ? APMPFindLastUnit(text, first, n - i)
                                                    : APMPFindUnit(text.substr(0, n), first, i);
                if (start == Text::npos) {
                    return Text::npos;
                }
                i = backwards ? n - 1 - start : start;
                k = 1;
                continue;
            }
            const char16_t c = unitOfText(i);
            while (k > 0 && c != unitOfNeedle(k)) {
                k = prefix_[k - 1];
            }
            if (c == unitOfNeedle(k) && ++k == m) {
                return i;
            }
        }
        return Text::npos;
    }

    char16_t unit(std::size_t j) const {
        return backwards_ ? needle_[needle_.size() - 1 - j] : needle_[j];
    }

    std::u16string_view needle_;
    const bool backwards_;
    std::vector<std::uint32_t> prefix_;
    APMPMemoryReservation table_;
};

// The first occurrence of `needle` in `text` at or after `from` (npos when none).
std::size_t findText(std::u16string_view text, std::u16string_view needle, std::size_t from,
                     sdk::Error& error) {
    const TextSearch search(needle, false, error);
    return error.ok() ? search.find(text, from, error) : Text::npos;
}

// Pays the work of a regular-expression match as ICU reports it (ticks of match work); stops
// the match when the budget cannot pay.
UBool payMatchWork(const void* context, std::int32_t ticks) {
    auto* paid = static_cast<std::int32_t*>(const_cast<void*>(context));
    const sdk::Error error =
        APMPChargeSteps(APMPRuntimeBudget::kStepsPerRegexTick * (ticks - *paid));
    *paid = ticks;
    return error.ok();
}

sdk::Error icuError(UErrorCode status) {
    return sdk::Error(std::string(APMPStringCommandEvaluator::kICUErrorDomain),
                      static_cast<std::int64_t>(status), u_errorName(status));
}

APMPValueRef number(double value) {
    return APMPNumberValue::make(value);
}

// Error 18 unless `units` more UTF-16 units fit the budget of `scope`; checked before a
// result is built, so no text past the cap is ever allocated.
bool textFits(double units, const APMPScopeRef& scope, sdk::Error& error) {
    APMPMemoryReservation check(scope ? scope->budget() : nullptr);
    error = check.resize(units * sizeof(char16_t));
    if (error.ok() &&
        units * sizeof(char16_t) > static_cast<double>(APMPRuntimeBudget::kMaxBytes)) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
    }
    return error.ok();
}

APMPValueRef string(Text text, const APMPScopeRef& scope, sdk::Error& error) {
    APMPValueRef value = APMPStringValue::makeInScope(std::move(text), scope.get(), error);
    return error.ok() ? value : APMPUndefined();
}

// The string of argument `index`, or "undefined" when it is absent.
Text stringArgument(APMPArguments values, std::size_t index, sdk::Error& error) {
    return index < values.size() ? values[index]->stringValueOrError(error) : Text(u"undefined");
}

// APMPToInteger of argument `index`'s number, or `fallback` when it is absent.
double integerArgument(APMPArguments values, std::size_t index, double fallback,
                       sdk::Error& error) {
    return index < values.size() ? APMPToInteger(values[index]->doubleValueOrError(error))
                                 : fallback;
}

std::size_t clampToLength(double position, std::size_t length) {
    return static_cast<std::size_t>(std::clamp(position, 0.0, static_cast<double>(length)));
}

APMPValueRef arrayOfStrings(const std::vector<Text>& pieces, const APMPScopeRef& scope,
                            sdk::Error& error) {
    error = APMPChargeWork(static_cast<double>(pieces.size()), kObjectsPerStep);
    if (!error.ok()) {
        return APMPUndefined();
    }
    Values elements;
    elements.reserve(pieces.size());
    for (const Text& piece : pieces) {
        auto value = APMPStringValue::makeInScope(piece, scope.get(), error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        elements.push_back(std::move(value));
    }
    APMPValueRef array = APMPObjectManager::arrayValueWithArray(std::move(elements), *scope, error);
    return error.ok() ? array : APMPUndefined();
}

// The [start, end) of the first match of `pattern` in `text`, compiled without flags; false
// when there is none or the pattern does not compile (then `error` is set).
bool firstMatch(const Text& pattern, const Text& text, std::int32_t& start, std::int32_t& end,
                sdk::Error& error) {
    if (pattern.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) ||
        text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return false;
    }
    // Compiling reads the pattern; finding reads the text at least once; the call pays for the
    // match work ICU will not report (less than a tick).
    error = APMPChargeSteps(APMPRuntimeBudget::kStepsPerRegexCall);
    if (error.ok()) {
        error = APMPChargeWork(static_cast<double>(pattern.size()),
                               APMPRuntimeBudget::kMappedUnitsPerStep);
    }
    if (error.ok()) {
        error = APMPChargeWork(static_cast<double>(text.size()),
                               APMPRuntimeBudget::kMappedUnitsPerStep);
    }
    if (!error.ok()) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    const std::unique_ptr<URegularExpression, decltype(&uregex_close)> regex(
        uregex_open(pattern.data(), static_cast<std::int32_t>(pattern.size()), 0, &parseError,
                    &status),
        &uregex_close);
    if (U_FAILURE(status)) {
        error = icuError(status);
        return false;
    }
    uregex_setTimeLimit(regex.get(), kRegexWorkLimit, &status);
    std::int32_t paidTicks = 0;
    uregex_setMatchCallback(regex.get(), payMatchWork, &paidTicks, &status);
    uregex_setText(regex.get(), text.data(), static_cast<std::int32_t>(text.size()), &status);
    const bool found = U_SUCCESS(status) && uregex_find(regex.get(), 0, &status);
    if (found) {
        start = uregex_start(regex.get(), 0, &status);
        end = uregex_end(regex.get(), 0, &status);
    }
    if (status == U_REGEX_STOPPED_BY_CALLER) {
        // The budget could not pay for more matching.
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return false;
    }
    if (U_FAILURE(status)) {
        error = icuError(status);
        return false;
    }
    return found;
}

APMPValueRef charAt(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                    sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 1, error)) {
        return APMPUndefined();
    }
    const std::int64_t index =
        values.empty() ? 0 : APMPToInt64Saturating(values[0]->doubleValueOrError(error));
    if (!error.ok()) {
        return APMPUndefined();
    }
    const bool inside = index >= 0 && index < static_cast<std::int64_t>(receiver.size());
    return string(inside ? Text(1, receiver[static_cast<std::size_t>(index)]) : Text(), scope,
                  error);
}

APMPValueRef concat(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                    sdk::Error& error) {
    std::vector<Text> parts;
    double units = static_cast<double>(receiver.size());
    for (const auto& value : values) {
        parts.push_back(value->stringValueOrError(error));
        if (!error.ok()) {
            return APMPUndefined();
        }
        units += static_cast<double>(parts.back().size());
    }
    if (!textFits(units, scope, error)) {
        return APMPUndefined();
    }
    Text out = receiver;
    for (const Text& part : parts) {
        out += part;
    }
    return string(std::move(out), scope, error);
}

APMPValueRef hasOwnProperty(const Text& receiver, APMPArguments values, const APMPScopeRef&,
                            sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 1, error)) {
        return APMPUndefined();
    }
    const Text key = values[0]->stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (key == u"length") {
        return APMPBoolean(true);
    }
    const double n = values[0]->doubleValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    return APMPBoolean(n >= 0 && std::trunc(n) == n && n < static_cast<double>(receiver.size()));
}

APMPValueRef indexOf(const Text& receiver, APMPArguments values, const APMPScopeRef&,
                     sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    const Text search = stringArgument(values, 0, error);
    const double start = error.ok() ? integerArgument(values, 1, 0, error) : 0;
    if (!error.ok()) {
        return APMPUndefined();
    }
    const std::size_t found =
        findText(receiver, search, clampToLength(start, receiver.size()), error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    return number(found == Text::npos ? kNoMatch : static_cast<double>(found));
}

APMPValueRef lastIndexOf(const Text& receiver, APMPArguments values, const APMPScopeRef&,
                         sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    const Text search = stringArgument(values, 0, error);
    double start = std::numeric_limits<double>::infinity();
    if (error.ok() && values.size() == 2) {
        const double raw = values[1]->doubleValueOrError(error);
        start = std::isnan(raw) ? start : APMPToInteger(raw);
    }
    if (!error.ok()) {
        return APMPUndefined();
    }
    const std::size_t from = clampToLength(start, receiver.size());
    const std::size_t within = std::min(from + search.size(), receiver.size());
    const TextSearch backwards(search, true, error);
    const std::size_t found = error.ok() ? backwards.find(receiver, within, error) : Text::npos;
    if (!error.ok()) {
        return APMPUndefined();
    }
    return number(found == Text::npos ? kNoMatch : static_cast<double>(found));
}

APMPValueRef match(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                   sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 1, error)) {
        return APMPUndefined();
    }
    const Text pattern = values.empty() ? Text() : values[0]->stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (pattern.empty()) {
        return arrayOfStrings({Text()}, scope, error);
    }
    std::int32_t start = 0;
    std::int32_t end = 0;
    if (!firstMatch(pattern, receiver, start, end, error)) {
        return error.ok() ? APMPNull() : APMPUndefined();
    }
    return arrayOfStrings(
        {receiver.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start))},
        scope, error);
}

APMPValueRef replace(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                     sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    const Text pattern = stringArgument(values, 0, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    const std::size_t found = findText(receiver, pattern, 0, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (found == Text::npos) {
        return string(receiver, scope, error);
    }
    Text replacement;
    if (values.size() == 2 && values[1]->kind() == APMPValueKind::kFunction) {
        auto& function = static_cast<APMPFunctionValue&>(*values[1]);
        const APMPValueRef result = function.invokeAsCallback(
            {APMPStringValue::make(pattern), number(static_cast<double>(found)),
             APMPStringValue::make(receiver)},
            error);
        replacement = error.ok() ? result->stringValueOrError(error) : Text();
    } else {
        replacement = stringArgument(values, 1, error);
    }
    if (!error.ok() ||
        !textFits(static_cast<double>(receiver.size() - pattern.size() + replacement.size()), scope,
                  error)) {
        return APMPUndefined();
    }
    Text out = receiver;
    out.replace(found, pattern.size(), replacement);
    return string(std::move(out), scope, error);
}

APMPValueRef search(const Text& receiver, APMPArguments values, const APMPScopeRef&,
                    sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 1, error)) {
        return APMPUndefined();
    }
    const Text pattern = stringArgument(values, 0, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (pattern.empty()) {
        return number(0);
    }
    std::int32_t start = 0;
    std::int32_t end = 0;
    if (!firstMatch(pattern, receiver, start, end, error)) {
        return error.ok() ? number(kNoMatch) : APMPUndefined();
    }
    return number(start);
}

APMPValueRef slice(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                   sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    const double length = static_cast<double>(receiver.size());
    const double startArgument = integerArgument(values, 0, 0, error);
    const double endArgument = error.ok() ? integerArgument(values, 1, length, error) : 0;
    if (!error.ok()) {
        return APMPUndefined();
    }
    const auto position = [&](double value) {
        return clampToLength(value < 0 ? length + value : value, receiver.size());
    };
    const std::size_t start = position(startArgument);
    const std::size_t end = position(endArgument);
    return string(end <= start ? Text() : receiver.substr(start, end - start), scope, error);
}

APMPValueRef split(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                   sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    if (receiver.empty() || values.empty()) {
        return arrayOfStrings({receiver}, scope, error);
    }
    const Text separator = values[0]->stringValueOrError(error);
    std::size_t limit = std::numeric_limits<std::size_t>::max();
    if (error.ok() && values.size() == 2) {
        limit = APMPToUint32(values[1]->doubleValueOrError(error));
    }
    if (!error.ok()) {
        return APMPUndefined();
    }
    // Each piece's first unit and end (a separator's pieces only: without one, piece i is unit
    // i).
    std::vector<std::size_t> starts;
    std::vector<std::size_t> ends;
    std::size_t count = 0;
    if (separator.empty()) {
        count = std::min(receiver.size(), limit);
    } else {
        const TextSearch search(separator, false, error);
        for (std::size_t at = 0; error.ok() && starts.size() < limit;) {
            starts.push_back(at);
            const std::size_t next = search.find(receiver, at, error);
            ends.push_back(next == Text::npos ? receiver.size() : next);
            if (next == Text::npos) {
                break;
            }
            at = next + separator.size();
        }
        count = starts.size();
    }
    if (!error.ok()) {
        return APMPUndefined();
    }
    const auto pieceAt = [&](std::size_t i) -> std::u16string_view {
        if (separator.empty()) {
            return std::u16string_view(receiver).substr(i, 1);
        }
        return std::u16string_view(receiver).substr(starts[i], ends[i] - starts[i]);
    };
    // Every piece is a string value and an array slot: check the cap before making any.
    double bytes =
        APMPArrayValue::bufferBytes(static_cast<double>(count)) +
        2 * APMPAllocationBytes(static_cast<double>(starts.capacity()) * sizeof(std::size_t));
    for (std::size_t i = 0; i < count; ++i) {
        bytes += APMPStringValue::allocationBytes(pieceAt(i).size());
    }
    APMPMemoryReservation check(scope ? scope->budget() : nullptr);
    error = check.resize(bytes);
    if (!error.ok()) {
        return APMPUndefined();
    }
    (void)check.resize(0);
    error = APMPChargeWork(static_cast<double>(count), kObjectsPerStep);
    if (!error.ok()) {
        return APMPUndefined();
    }
    Values elements;
    elements.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto value = APMPStringValue::makeInScope(Text(pieceAt(i)), scope.get(), error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        elements.push_back(std::move(value));
    }
    APMPValueRef array = APMPObjectManager::arrayValueWithArray(std::move(elements), *scope, error);
    return error.ok() ? array : APMPUndefined();
}

APMPValueRef substring(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                       sdk::Error& error) {
    if (!APMPCheckArgumentCountAtMost(values, 2, error)) {
        return APMPUndefined();
    }
    const double startArgument = integerArgument(values, 0, 0, error);
    const double endArgument =
        error.ok() ? integerArgument(values, 1, static_cast<double>(receiver.size()), error) : 0;
    if (!error.ok()) {
        return APMPUndefined();
    }
    // Clamping the integer to 0 .. length is the saturating 32-bit conversion followed by the
    // clamp, for every length a string can have.
    const std::size_t start = clampToLength(startArgument, receiver.size());
    const std::size_t end = clampToLength(endArgument, receiver.size());
    const std::size_t low = std::min(start, end);
    return string(receiver.substr(low, std::max(start, end) - low), scope, error);
}

using CaseMapping = std::int32_t (*)(UChar*, std::int32_t, const UChar*, std::int32_t, const char*,
                                     UErrorCode*);

// The receiver case-mapped in `locale` (nullptr: ICU's default locale; "": the root locale).
template <CaseMapping mapping, bool defaultLocale>
APMPValueRef mapCase(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                     sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 0, error)) {
        return APMPUndefined();
    }
    if (receiver.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return APMPUndefined();
    }
    const char* locale = defaultLocale ? uloc_getDefault() : "";
    const auto length = static_cast<std::int32_t>(receiver.size());
    UErrorCode status = U_ZERO_ERROR;
    // A first pass measures the result, which may be longer than the receiver ("ß": "SS").
    const std::int32_t needed = mapping(nullptr, 0, receiver.data(), length, locale, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        error = icuError(status);
        return APMPUndefined();
    }
    // Both passes read the receiver through the case tables.
    error = APMPChargeWork(2 * static_cast<double>(receiver.size()),
                           APMPRuntimeBudget::kMappedUnitsPerStep);
    if (!error.ok() || !textFits(static_cast<double>(needed), scope, error)) {
        return APMPUndefined();
    }
    Text out(static_cast<std::size_t>(needed), u'\0');
    status = U_ZERO_ERROR;
    mapping(out.data(), needed, receiver.data(), length, locale, &status);
    if (U_FAILURE(status)) {
        error = icuError(status);
        return APMPUndefined();
    }
    return string(std::move(out), scope, error);
}

APMPValueRef toString(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                      sdk::Error& error) {
    return APMPCheckArgumentCountEquals(values, 0, error) ? string(receiver, scope, error)
                                                          : APMPUndefined();
}

APMPValueRef trim(const Text& receiver, APMPArguments values, const APMPScopeRef& scope,
                  sdk::Error& error) {
    if (!APMPCheckArgumentCountEquals(values, 0, error)) {
        return APMPUndefined();
    }
    const std::u16string_view trimmed = APMPTrimSpace(receiver);
    // Each unit trimmed went through the character tables.
    error = APMPChargeWork(static_cast<double>(receiver.size() - trimmed.size()),
                           APMPRuntimeBudget::kMappedUnitsPerStep);
    return error.ok() ? string(Text(trimmed), scope, error) : APMPUndefined();
}

}  // namespace

const APMPStringCommandEvaluator& APMPStringCommandEvaluator::sharedInstance() {
    static const APMPStringCommandEvaluator& instance =
        *new APMPStringCommandEvaluator();  // lives for the process
    return instance;
}

APMPStringCommandEvaluator::APMPStringCommandEvaluator() {
    handlers_ = {
        {u"charAt", charAt},
        {u"concat", concat},
        {u"hasOwnProperty", hasOwnProperty},
        {u"indexOf", indexOf},
        {u"lastIndexOf", lastIndexOf},
        {u"match", match},
        {u"replace", replace},
        {u"search", search},
        {u"slice", slice},
        {u"split", split},
        {u"substring", substring},
        {u"toLowerCase", mapCase<u_strToLower, false>},
        {u"toLocaleLowerCase", mapCase<u_strToLower, true>},
        {u"toUpperCase", mapCase<u_strToUpper, false>},
        {u"toLocaleUpperCase", mapCase<u_strToUpper, true>},
        {u"toString", toString},
        {u"trim", trim},
    };
}

APMPValueRef APMPStringCommandEvaluator::evaluateCommand(std::u16string_view name,
                                                         const std::u16string& receiver,
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
    const APMPValueRef result = found->second(receiver, values.values(), scope, error);
    return error.ok() && result ? result : APMPUndefined();
}
