#include "sdk/measurement/engine/APMEventParameterCleaning.h"

#include <algorithm>
#include <set>

#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMEventNameLists.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMStringUtil.h"

namespace {

using Validator = APMDataTypeValidator;
constexpr std::int32_t kMaxNameDetailLength = 40;

bool has(const APMParameters& parameters, std::string_view key) {
    return parameters.find(key) != parameters.end();
}

bool isCustom(std::string_view name, bool isItem) {
    return !name.starts_with("_") && !(isItem && APMIsItemParameter(name));
}

std::int64_t countCustom(const APMParameters& parameters, bool isItem) {
    return std::count_if(parameters.begin(), parameters.end(),
                         [&](const auto& entry) { return isCustom(entry.first, isItem); });
}

// A dictionary of error parameters that starts from the errors a parameter dictionary already
// carries, so that a new error never takes the place of one recorded before.
APMParameters seededErrors(const APMRawParameters& parameters) {
    APMParameters errors;
    for (std::string_view key : {"_err", "_ev", "_el"}) {
        auto it = parameters.find(key);
        if (it == parameters.end())
            continue;
        if (const APMValue* value = std::get_if<APMValue>(&it->second))
            errors.emplace(key, *value);
        else
            errors.emplace(key, APMValue(std::string()));
    }
    return errors;
}

void applyCountLimit(APMParameters& result, bool isItem, const APMParameterLimits& limits) {
    const std::int32_t limit =
        isItem ? limits.maxItemScopedCustomParameters : limits.maxPublicEventParams;
    if (countCustom(result, isItem) <= limit)
        return;
    APMTrimCustomParameters(result, limit, isItem);
    if (isItem) {
        APMSetErrorCodeIfAbsent(result, limit == 0 ? 23 : 28);
        APMMonitor::shared().logWithLevel(0, 18016, "Item cannot contain custom parameters");
    } else {
        APMSetErrorCodeIfAbsent(result, 5);
        APMMonitor::shared().logWithLevel(
            1, 18017, "Event cannot contain more than " + std::to_string(limit) + " parameters");
    }
}

}  // namespace

std::string APMTrimToLength(std::string_view text, std::int32_t limit) {
    if (apm_UTF32Length(text) <= static_cast<std::size_t>(std::max(limit, 0)))
        return std::string(text);
    const auto size = static_cast<std::int32_t>(text.size());
    std::int32_t end = 0;
    for (std::int32_t points = 0; points < limit && end < size; ++points) {
        UChar32 c = 0;
        U8_NEXT(text.data(), end, size, c);
    }
    return std::string(text.substr(0, static_cast<std::size_t>(end))) + "...";
}

void APMSetErrorDetails(APMParameters& parameters, std::string_view name, std::int32_t maxLength,
                        const sdk::Value* value) {
    if (has(parameters, "_ev") || has(parameters, "_el"))
        return;
    parameters.insert_or_assign("_ev", APMValue(APMTrimToLength(name, maxLength)));
    if (value == nullptr)
        return;
    std::int64_t length = 0;
    if (const std::string* text = value->string())
        length = static_cast<std::int64_t>(apm_UTF32Length(*text));
    else if (const sdk::Value::Array* array = value->array())
        length = static_cast<std::int64_t>(array->size());
    parameters.insert_or_assign("_el", APMValue(length));
}

void APMSetErrorCodeIfAbsent(APMParameters& parameters, std::int64_t code) {
    if (!has(parameters, "_err"))
        parameters.insert_or_assign("_err", APMValue(code));
}

void APMSetEventError(APMParameters& parameters, std::int64_t code, std::string_view name,
                      std::int32_t maxLength, const sdk::Value* value) {
    if (has(parameters, "_ev") || has(parameters, "_el") || has(parameters, "_err"))
        return;
    parameters.insert_or_assign("_err", APMValue(code));
    APMSetErrorDetails(parameters, name, maxLength, value);
}

void APMSetArrayParameterError(APMParameters& parameters, std::uint64_t failureCode,
                               std::string_view parameterName, std::string_view eventName) {
    switch (failureCode) {
        case Validator::kArrayOnNonEcommerceEvent:
            APMSetEventError(parameters, 21, eventName, kMaxNameDetailLength, nullptr);
            break;
        case Validator::kArrayNotNamedItems:
            APMSetEventError(parameters, 20, parameterName, kMaxNameDetailLength, nullptr);
            break;
        case Validator::kTooManyItems:
            APMSetEventError(parameters, 17, parameterName, kMaxNameDetailLength, nullptr);
            break;
        case Validator::kNestedArray:
            APMSetEventError(parameters, 22, parameterName, kMaxNameDetailLength, nullptr);
            break;
        default:
            break;
    }
}

std::optional<APMParameters> APMErrorEventParameters(std::int64_t code, std::string_view name,
                                                     std::int32_t maxLength,
                                                     const sdk::Value* value) {
    if (code == 0)
        return std::nullopt;
    APMParameters parameters{{"_err", APMValue(code)}};
    const bool longString =
        value != nullptr && value->isString() &&
        apm_UTF32Length(*value->string()) > static_cast<std::size_t>(std::max(maxLength, 0));
    const bool passValue = code == 7 || code == 4 || longString;
    APMSetErrorDetails(parameters, name, maxLength, passValue ? value : nullptr);
    return parameters;
}

bool APMValidateValueAndCurrency(APMParameters& parameters, std::int32_t maxValueLength) {
    auto value = parameters.find("value");
    if (value == parameters.end())
        return true;
    if (!Validator::isValidNumericValue(&value->second, nullptr)) {
        parameters.erase(value);
        APMSetEventError(parameters, 18, "value", maxValueLength, nullptr);
        return false;
    }
    auto currency = parameters.find("currency");
    const APMValue* code = currency != parameters.end() ? &currency->second : nullptr;
    if (!Validator::isValidCurrencyCode(code, nullptr)) {
        APMMonitor::shared().logWithLevel(
            3, 18014,
            "Value parameter discarded. You must also supply a 3-letter ISO_4217 currency code "
            "in the currency parameter.");
        parameters.erase("value");
        APMSetEventError(parameters, 19, "currency", maxValueLength, nullptr);
        return false;
    }
    return true;
}

bool APMValidateParameterName(std::string_view name, bool isPublic,
                              APMParameters& errorParameters) {
    std::uint64_t failure = 0;
    bool valid = !isPublic || Validator::isValidPublicEventParameterName(name, &failure);
    valid = valid && Validator::isValidInternalEventParameterName(name, &failure);
    if (valid)
        return true;
    if (!has(errorParameters, "_err")) {
        const sdk::Value nameValue{std::string(name)};
        const bool passName = apm_UTF32Length(name) > kMaxNameDetailLength;
        APMSetEventError(errorParameters, failure == Validator::kReserved ? 14 : 3, name,
                         kMaxNameDetailLength, passName ? &nameValue : nullptr);
    }
    return false;
}

std::optional<std::vector<std::string>> APMSortedValidParameterNames(
    const APMRawParameters& parameters, bool isPublic, APMParameters& errorParameters) {
    if (parameters.empty())
        return std::nullopt;
    std::vector<std::string> names;
    for (const auto& entry : parameters)
        names.push_back(entry.first);
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return APMCompareEnglish(&a, &b) < 0;
    });
    std::vector<std::string> kept;
    for (const std::string& name : names) {
        if (!APMValidateParameterName(name, isPublic, errorParameters))
            continue;
        const APMParameterInput& input = parameters.find(name)->second;
        const sdk::Value* raw = std::get_if<sdk::Value>(&input);
        if (raw != nullptr && !raw->isNumber() && !raw->isString() && !raw->isArray()) {
            APMMonitor::shared().logWithLevel(
                1, 18005,
                "Invalid event parameter. Parameter must be a number, string or array. Param "
                "key, param value",
                name, *raw);
            APMSetEventError(errorParameters, 4, name, kMaxNameDetailLength, nullptr);
        }
        kept.push_back(name);
    }
    return kept;
}

namespace {

// The work of one cleaning: what is dropped, what is added, and the errors recorded.
struct Cleaning {
    const APMRawParameters& input;
    std::string_view eventName;
    bool isPublic;
    bool isItem;
    const APMParameterLimits& limits;
    std::set<std::string, std::less<>> dropped;
    APMParameters additions;
    APMParameters errors;  // seeded with the input's own error parameters

    // The checked value of one parameter, or none when it is dropped.
    std::optional<APMValue> clean(const std::string& name, const APMParameterInput& input);
    std::optional<APMParameters> result();
};

std::optional<APMValue> Cleaning::clean(const std::string& name, const APMParameterInput& input) {
    if (!APMValidateParameterName(name, isPublic, errors))
        return std::nullopt;
    const sdk::Value* raw = std::get_if<sdk::Value>(&input);
    std::optional<APMValue> value =
        raw != nullptr ? APMValue::valueFromObject(raw, true) : std::get<APMValue>(input);
    if (!value) {
        APMMonitor::shared().logWithLevel(
            3, 18015, "Event parameter value must be of type NSString, NSNumber or NSArray. Type",
            raw->className());
        return std::nullopt;
    }
    const std::int32_t maxInternal =
        Validator::maxInternalEventParameterValueLength(limits.maxPublicEventParameterValueLength);
    const bool isInternalEvent =
        APMPublicEventNameMap().count(eventName) != 0 || eventName.starts_with("_");
    std::uint64_t failure = 0;
    bool valid = !isPublic || Validator::isValidPublicEventParameterValue(
                                  &*value, limits.maxPublicEventParameterValueLength, &failure);
    const std::string* text = value->stringValue();
    if (valid && name == "_ev" && text != nullptr &&
        apm_UTF32Length(*text) > static_cast<std::size_t>(maxInternal)) {
        const bool alreadyCut =
            apm_UTF32Length(*text) == static_cast<std::size_t>(maxInternal) + 3 &&
            text->ends_with("...");
        if (!alreadyCut) {
            const sdk::Value original(*text);
            APMSetErrorDetails(additions, *text, maxInternal, &original);
            return std::nullopt;  // the cut form is in the additions
        }
    } else if (valid && isInternalEvent) {
        valid = Validator::isValidInternalEventParameterValue(
            &*value, limits.maxPublicEventParameterValueLength, &failure);
    }
    if (valid && raw != nullptr && raw->isArray()) {
        value = APMCleanArrayParameter(*raw->array(), name, eventName, errors, isItem, isPublic,
                                       &failure, limits);
        APMSetArrayParameterError(errors, failure, name, eventName);
        valid = value.has_value();
    }
    if (!valid) {
        if (failure == Validator::kTooLong && text != nullptr) {
            const sdk::Value original(*text);
            APMSetEventError(errors, 4, name, kMaxNameDetailLength, &original);
        }
        return std::nullopt;
    }
    return value;
}

std::optional<APMParameters> Cleaning::result() {
    // An app's own "_err" never passes the public name rule, so only internal parameters can
    // bring an earlier error along.
    const APMParameters seed = isPublic ? APMParameters{} : seededErrors(input);
    errors = seed;
    for (const auto& [name, parameter] : input) {
        const bool wasCut = name == "_ev";
        std::optional<APMValue> value = clean(name, parameter);
        if (!value) {
            // A cut "_ev" stays, in its new form, among the additions.
            if (!(wasCut && has(additions, "_ev")))
                dropped.insert(name);
            continue;
        }
        if (std::holds_alternative<sdk::Value>(parameter) || value->isArray())
            additions.insert_or_assign(name, *value);
    }
    for (const auto& [key, value] : errors) {
        if (!has(seed, key))
            additions.insert_or_assign(key, value);
    }
    if (dropped.size() == input.size())
        return additions;
    APMParameters cleaned;
    for (const auto& [name, parameter] : input) {
        if (dropped.count(name) == 0 && std::holds_alternative<APMValue>(parameter))
            cleaned.insert_or_assign(name, std::get<APMValue>(parameter));
    }
    for (const auto& entry : additions)
        cleaned.insert_or_assign(entry.first, entry.second);
    applyCountLimit(cleaned, isItem, limits);
    return cleaned;
}

}  // namespace

std::optional<APMParameters> APMCleanEventParameters(const APMRawParameters& parameters,
                                                     std::string_view eventName, bool isPublic,
                                                     bool isItem,
                                                     const APMParameterLimits& limits) {
    if (parameters.empty())
        return std::nullopt;
    Cleaning cleaning{parameters, eventName, isPublic, isItem, limits, {}, {}, {}};
    return cleaning.result();
}

std::optional<APMValue> APMCleanArrayParameter(const sdk::Value::Array& array,
                                               std::string_view parameterName,
                                               std::string_view eventName,
                                               APMParameters& errorParameters, bool isItem,
                                               bool isPublic, std::uint64_t* failureCode,
                                               const APMParameterLimits& limits) {
    std::uint64_t failure = 0;
    if (!Validator::isValidArrayParamForEvent(eventName, parameterName, array.size(), isItem,
                                              &failure) &&
        failure != Validator::kTooManyItems) {
        if (failureCode != nullptr)
            *failureCode = failure;
        return std::nullopt;
    }
    if (failureCode != nullptr)
        *failureCode = failure;
    const std::size_t count =
        std::min(array.size(), static_cast<std::size_t>(Validator::kMaxArrayItems));
    sdk::Value::Array kept;
    for (std::size_t i = 0; i < count; ++i) {
        const sdk::Value& element = array[i];
        if (!Validator::isValidArrayParamItem(element, nullptr)) {
            APMSetEventError(errorParameters, 4,
                             std::string(parameterName) + "[" + std::to_string(i) + "]",
                             kMaxNameDetailLength, nullptr);
            continue;
        }
        std::optional<APMParameters> item =
            APMCleanEventParameters(APMRawParametersFromDictionary(*element.dictionary()),
                                    eventName, isPublic, true, limits);
        if (item)
            kept.emplace_back(APMDictionaryFromParameters(*item));
    }
    return APMValue(std::move(kept));
}

void APMTrimCustomParameters(APMParameters& parameters, std::int32_t limit, bool isItem) {
    std::vector<std::string> names;
    for (const auto& entry : parameters)
        names.push_back(entry.first);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return icu::UnicodeString::fromUTF8(a).compare(icu::UnicodeString::fromUTF8(b)) < 0;
    });
    std::int64_t custom = countCustom(parameters, isItem);
    for (auto it = names.rbegin(); it != names.rend() && custom > limit; ++it) {
        if (isCustom(*it, isItem)) {
            parameters.erase(*it);
            --custom;
        }
    }
}
