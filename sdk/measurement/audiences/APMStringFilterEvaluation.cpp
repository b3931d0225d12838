#include "sdk/measurement/audiences/APMStringFilterEvaluation.h"

#include <unicode/unistr.h>

#include <string>

#include "sdk/measurement/audiences/APMAudienceLog.h"
#include "sdk/measurement/audiences/APMFilterDescription.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

namespace slot = apmpb::StringFilter;
namespace type = apmpb::StringFilter::MatchType;
constexpr std::int64_t kLevel = 1;
// ICU's bound on the work of one match (about a millisecond per unit, counted in matcher
// steps), as the script runtime sets for its own expressions: a backtracking expression such
// as "^(a+)+$" otherwise doubles its time with each letter of the text and holds the worker
// queue.
constexpr std::int32_t kRegexWorkLimit = 1000;

icu::UnicodeString utf16(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(
        text.data(), static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX))));
}

icu::UnicodeString folded(icu::UnicodeString text, bool sensitive) {
    return sensitive ? text : text.foldCase(U_FOLD_CASE_DEFAULT);
}

// Match types 2-5 of `expression` in `text`.
bool matches(std::uint32_t matchType, const icu::UnicodeString& text,
             const icu::UnicodeString& expression, bool sensitive) {
    const icu::UnicodeString s = folded(text, sensitive);
    const icu::UnicodeString e = folded(expression, sensitive);
    if (e.isEmpty() && matchType != type::kExact) {
        return false;  // an empty expression is found nowhere, as with any text search
    }
    switch (matchType) {
        case type::kBeginsWith:
            return s.startsWith(e);
        case type::kEndsWith:
            return s.endsWith(e);
        case type::kPartial:
            return s.indexOf(e) >= 0;
        case type::kExact:
            return s == e && text.length() == expression.length();
        default:
            return false;
    }
}

std::unique_ptr<icu::RegexPattern> compile(const APMPBStringFilter& filter,
                                           const std::string& expression) {
    const std::uint32_t flags =
        APMPBGetBool(&filter, slot::kCaseSensitive) ? 0 : UREGEX_CASE_INSENSITIVE;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    std::unique_ptr<icu::RegexPattern> pattern(
        icu::RegexPattern::compile(utf16(expression), flags, parseError, status));
    if (U_FAILURE(status) || !pattern) {
        APMAudienceLog(kLevel, 9004, "Unable to parse regular expression",
                       APMDescribeStringFilter(filter), std::string(u_errorName(status)));
        return nullptr;
    }
    return pattern;
}

// Whether `pattern` is found in `text`; no value, logged, when the match runs past the work
// limit.
std::optional<bool> regexFinds(const APMPBStringFilter& filter, const icu::RegexPattern& pattern,
                               const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(text, status));
    if (U_FAILURE(status) || !matcher) {
        return false;
    }
    matcher->setTimeLimit(kRegexWorkLimit, status);
    const bool found = matcher->find(0, status);
    if (status == U_REGEX_TIME_OUT || status == U_REGEX_STACK_OVERFLOW) {
        return APMAudienceNoResult(
            kLevel, 9009,
            "Regular expression match exceeded its work limit. Audience filter will not be "
            "evaluated",
            APMDescribeStringFilter(filter), std::string(u_errorName(status)));
    }
    return U_SUCCESS(status) && found;
}

}  // namespace

bool APMIsValidStringFilterWithRegex(const APMPBStringFilter& filter,
                                     std::unique_ptr<icu::RegexPattern>* regex) {
    if (!APMPBHasField(&filter, slot::kMatchType)) {
        APMAudienceLog(kLevel, 9000, "String filter has no match type");
        return false;
    }
    const std::uint32_t matchType = APMPBGetInt32(&filter, slot::kMatchType);
    if (matchType == type::kInList) {
        const auto list = APMPBGetRepeated(&filter, slot::kExpressionList);
        if (!list || list->empty()) {
            APMAudienceLog(kLevel, 9003, "String filter has no expression list");
            return false;
        }
        return true;
    }
    if (matchType == type::kUnknownMatchType) {
        APMAudienceLog(kLevel, 9001, "String filter has unknown match type");
        return false;
    }
    const std::optional<std::string> expression = APMPBGetString(&filter, slot::kExpression);
    if (!expression) {
        APMAudienceLog(kLevel, 9002, "String filter has no expression");
        return false;
    }
    if (matchType != type::kRegexp) {
        return true;
    }
    std::unique_ptr<icu::RegexPattern> pattern = compile(filter, *expression);
    if (!pattern) {
        return false;
    }
    if (regex != nullptr) {
        *regex = std::move(pattern);
    }
    return true;
}

bool APMIsValidStringFilter(const APMPBStringFilter& filter) {
    return APMIsValidStringFilterWithRegex(filter, nullptr);
}

std::optional<bool> APMEvaluateStringFilter(const APMPBStringFilter& filter,
                                            std::optional<std::string_view> text) {
    if (!text) {
        return APMAudienceNoResult(
            kLevel, 9005, "Evaluation string is nil. Audience filter will not be evaluated");
    }
    std::unique_ptr<icu::RegexPattern> regex;
    if (!APMIsValidStringFilterWithRegex(filter, &regex)) {
        return APMAudienceNoResult(
            kLevel, 9006, "String filter is invalid. Audience filter will not be evaluated");
    }
    const icu::UnicodeString s = utf16(*text);
    const bool sensitive = APMPBGetBool(&filter, slot::kCaseSensitive);
    const std::uint32_t matchType = APMPBGetInt32(&filter, slot::kMatchType);
    if (matchType == type::kRegexp) {
        if (!regex) {
            return APMAudienceNoResult(
                kLevel, 9008, "Parsed regex is nil. Audience filter will not be evaluated");
        }
        return regexFinds(filter, *regex, s);
    }
    if (matchType == type::kInList) {
        const auto list = APMPBGetRepeated(&filter, slot::kExpressionList);
        for (const APMPBRepeatedElement& entry : list.value_or(APMPBRepeatedArray{})) {
            const sdk::Value* value = std::get_if<sdk::Value>(&entry);
            const std::string* expression = value != nullptr ? value->string() : nullptr;
            if (expression != nullptr && matches(type::kExact, s, utf16(*expression), sensitive)) {
                return true;
            }
        }
        return false;
    }
    return matches(matchType, s, utf16(*APMPBGetString(&filter, slot::kExpression)), sensitive);
}
