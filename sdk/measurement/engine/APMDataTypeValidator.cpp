#include "sdk/measurement/engine/APMDataTypeValidator.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "sdk/measurement/engine/APMEventNameLists.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMStringUtil.h"
#include "sdk/measurement/engine/APMUserDefaults.h"

namespace {

constexpr std::string_view kForwardedSuffix = "+tgw";

bool fail(std::uint64_t* failureCode, std::uint64_t code) {
    if (failureCode != nullptr)
        *failureCode = code;
    return false;
}

void reset(std::uint64_t* failureCode) {
    if (failureCode != nullptr)
        *failureCode = 0;
}

void log(std::int64_t level, std::int64_t code, const std::string& message) {
    APMMonitor::shared().logWithLevel(level, code, message);
}

void log(std::int64_t level, std::int64_t code, const std::string& message,
         APMMonitorContext context) {
    APMMonitor::shared().logWithLevel(level, code, message, std::move(context));
}

// Values (parameter and user property values) are the app's data: warnings, not errors.
std::int64_t levelForType(int type) {
    return type == 3 || type == 5 ? 3 : 0;
}

bool isLetter(UChar32 c) {
    return (U_GET_GC_MASK(c) & U_GC_L_MASK) != 0;
}

bool isNameCharacter(UChar32 c) {
    return c == '_' || isLetter(c) || u_charType(c) == U_DECIMAL_DIGIT_NUMBER;
}

// The first code point, or a negative value for malformed UTF-8.
UChar32 firstCodePoint(std::string_view text) {
    std::int32_t i = 0;
    UChar32 c = 0;
    U8_NEXT(text.data(), i, static_cast<std::int32_t>(text.size()), c);
    return c;
}

bool onlyNameCharacters(std::string_view text) {
    const auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(text.data(), i, length, c);
        if (c < 0 || !isNameCharacter(c))
            return false;
    }
    return true;
}

}  // namespace

std::string_view APMDataTypeValidator::label(int type) {
    static constexpr std::string_view kLabels[] = {
        "Event name",
        "Event origin",
        "Event parameter name",
        "Event parameter value",
        "User property name",
        "User property value",
        "Screen parameter value",
        "Conditional user property origin",
        "Conditional user property name",
        "Conditional user property value",
    };
    return type >= 0 && type <= 9 ? kLabels[type] : "Object";
}

std::int32_t APMDataTypeValidator::maxInternalEventParameterValueLength(
    std::int32_t maxPublicEventParameterValueLength) {
    return maxPublicEventParameterValueLength >= 257 ? maxPublicEventParameterValueLength : 256;
}

bool APMDataTypeValidator::isValidString(std::string_view text, std::int32_t minLength,
                                         std::int32_t maxLength, int type,
                                         std::uint64_t* failureCode) {
    reset(failureCode);
    const std::string label(APMDataTypeValidator::label(type));
    const std::int64_t level = levelForType(type);
    if (text.empty() && minLength >= 1) {
        if (type != 3 && type != 5)
            log(level, 13001, label + " is required and can't be empty");
        return fail(failureCode, kMissing);
    }
    const std::size_t length = apm_UTF32Length(text);
    if (length > static_cast<std::size_t>(std::max(maxLength, 0))) {
        log(level, 13000,
            label + " is too long. The maximum supported length is " + std::to_string(maxLength),
            std::string(text));
        return fail(failureCode, kTooLong);
    }
    if (length < static_cast<std::size_t>(std::max(minLength, 0))) {
        log(level, 13000,
            label + " is too short. The minimum supported length is " + std::to_string(minLength),
            std::string(text));
        return fail(failureCode, kTooShort);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalName(std::string_view name, std::int32_t maxLength,
                                               int type, std::uint64_t* failureCode) {
    if (!isValidString(name, 1, maxLength, type, failureCode))
        return false;
    if (!onlyNameCharacters(name)) {
        log(0, 13002,
            std::string(label(type)) + " must contain only letters, numbers, or underscores",
            std::string(name));
        return fail(failureCode, kInvalidCharacters);
    }
    return true;
}

bool APMDataTypeValidator::isValidPublicName(std::string_view name, std::int32_t maxLength,
                                             int type, std::uint64_t* failureCode) {
    if (!isValidInternalName(name, maxLength, type, failureCode))
        return false;
    const UChar32 first = firstCodePoint(name);
    if (first < 0 || !isLetter(first)) {
        log(0, 13003, std::string(label(type)) + " must start with a letter", std::string(name));
        return fail(failureCode, kInvalidCharacters);
    }
    return true;
}

bool APMDataTypeValidator::isValidValue(const APMValue* value, std::int32_t minLength,
                                        std::int32_t maxLength, int type,
                                        std::uint64_t* failureCode) {
    if (!APMIsValidAPMValue(value, type, failureCode))
        return false;
    if (const std::string* text = value->stringValue())
        return isValidString(*text, minLength, maxLength, type, failureCode);
    return true;
}

bool APMDataTypeValidator::hasReservedPrefixes(std::string_view name) {
    return name.starts_with("razudizo_") || name.starts_with("vovidu_") || name.starts_with("ma_");
}

bool APMDataTypeValidator::isValidPublicEventName(std::string_view name,
                                                  std::uint64_t* failureCode) {
    if (!isValidPublicName(name, kMaxEventNameLength, 0, failureCode))
        return false;
    if (name == "screen_view")
        return true;
    const auto& reserved = APMPublicEventNameMap();
    const auto& allowed = APMAllowedReservedEventNames();
    if (reserved.find(name) != reserved.end() && allowed.find(name) == allowed.end()) {
        log(0, 13006, "Event name is reserved. Ignoring event", std::string(name));
        return fail(failureCode, kReserved);
    }
    if (hasReservedPrefixes(name)) {
        log(0, 13007, "Event name uses reserved prefix. Ignoring event", std::string(name));
        return fail(failureCode, kReserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalEventName(std::string_view name,
                                                    std::uint64_t* failureCode) {
    return isValidInternalName(name, kMaxEventNameLength, 0, failureCode);
}

bool APMDataTypeValidator::isValidPublicEventParameterName(std::string_view name,
                                                           std::uint64_t* failureCode) {
    if (!isValidPublicName(name, kMaxEventParameterNameLength, 2, failureCode))
        return false;
    if (hasReservedPrefixes(name)) {
        log(0, 13008, "Parameter name uses reserved prefix. Ignoring parameter", std::string(name));
        return fail(failureCode, kReserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalEventParameterName(std::string_view name,
                                                             std::uint64_t* failureCode) {
    return isValidInternalName(name, kMaxEventParameterNameLength, 2, failureCode);
}

bool APMDataTypeValidator::isValidPublicEventParameterValue(const APMValue* value,
                                                            std::int32_t maxValueLength,
                                                            std::uint64_t* failureCode) {
    return isValidValue(value, 0, maxValueLength, 3, failureCode);
}

bool APMDataTypeValidator::isValidInternalEventParameterValue(const APMValue* value,
                                                              std::int32_t maxValueLength,
                                                              std::uint64_t* failureCode) {
    return isValidValue(value, 0, maxInternalEventParameterValueLength(maxValueLength), 3,
                        failureCode);
}

bool APMDataTypeValidator::isValidPublicUserAttributeName(std::string_view name,
                                                          std::uint64_t* failureCode) {
    if (!isValidPublicName(name, kMaxUserPropertyNameLength, 4, failureCode))
        return false;
    const auto& reserved = APMReservedUserPropertyNames();
    if (reserved.find(name) != reserved.end()) {
        log(0, 13009, "User property name is reserved. Ignoring user property", std::string(name));
        return fail(failureCode, kReserved);
    }
    if (hasReservedPrefixes(name)) {
        log(0, 13010, "User property name uses reserved prefix. Ignoring user property",
            std::string(name));
        return fail(failureCode, kReserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidPublicUserAttributeValue(const APMValue* value,
                                                           std::uint64_t* failureCode) {
    return isValidValue(value, 1, kMaxUserPropertyValueLength, 5, failureCode);
}

bool APMDataTypeValidator::isValidInternalUserAttributeName(std::string_view name,
                                                            std::uint64_t* failureCode) {
    return isValidInternalName(name, kMaxUserPropertyNameLength, 4, failureCode);
}

bool APMDataTypeValidator::isValidInternalUserAttributeValue(const APMValue* value,
                                                             std::string_view name,
                                                             std::uint64_t* failureCode) {
    std::int32_t maxLength = kMaxUserPropertyValueLength;
    if (name == "_psmvalue" || name == "_psmvalue_cads")
        maxLength = 512;
    else if (name == "_vbraid" || name == "_id")
        maxLength = 256;
    return isValidValue(value, 1, maxLength, 5, failureCode);
}

bool APMDataTypeValidator::isValidInternalEventOrigin(std::string_view origin,
                                                      std::uint64_t* failureCode) {
    return isValidInternalName(origin, kMaxEventOriginLength, 1, failureCode);
}

bool APMDataTypeValidator::isValidForwardedEventOrigin(std::string_view origin,
                                                       std::uint64_t* failureCode) {
    reset(failureCode);
    if (origin.empty())
        return fail(failureCode, kMissing);
    if (!origin.ends_with(kForwardedSuffix))
        return fail(failureCode, kNotForwarded);
    return isValidInternalName(origin.substr(0, origin.size() - kForwardedSuffix.size()),
                               kMaxEventOriginLength, 1, failureCode);
}

bool APMDataTypeValidator::isValidScreenParameterValue(std::string_view value,
                                                       std::int32_t maxValueLength,
                                                       std::uint64_t* failureCode) {
    return isValidString(value, 1, maxValueLength, 6, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyOrigin(std::string_view origin,
                                                                std::uint64_t* failureCode) {
    return isValidInternalName(origin, kMaxEventOriginLength, 7, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyName(std::string_view name,
                                                              std::uint64_t* failureCode) {
    return isValidInternalName(name, kMaxUserPropertyNameLength, 8, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyValue(const APMValue* value,
                                                               std::uint64_t* failureCode) {
    return isValidValue(value, 1, kMaxUserPropertyValueLength, 9, failureCode);
}

bool APMDataTypeValidator::isValidNumericValue(const APMValue* value, std::uint64_t* failureCode) {
    if (!APMIsValidAPMValue(value, 3, failureCode))
        return false;
    if (value->isInt64() || value->isDouble())
        return true;
    log(3, 13011, std::string(label(3)) + " must be specified with a numeric type. value",
        value->value());
    return fail(failureCode, kNotNumeric);
}

bool APMDataTypeValidator::isValidCurrencyCode(const APMValue* value, std::uint64_t* failureCode) {
    if (!APMIsValidAPMValue(value, 3, failureCode))
        return false;
    if (const std::string* text = value->stringValue()) {
        // Letters outside the BMP take two UTF-16 units, so three code points must also be
        // three UTF-16 units.
        const auto length = static_cast<std::int32_t>(text->size());
        int units = 0;
        bool letters = true;
        for (std::int32_t i = 0; i < length;) {
            UChar32 c = 0;
            U8_NEXT(text->data(), i, length, c);
            letters = letters && c >= 0 && isLetter(c);
            units += c > 0xFFFF ? 2 : 1;
        }
        if (letters && units == kCurrencyCodeLength)
            return true;
    }
    log(3, 13012,
        std::string(label(3)) + " must contain a " + std::to_string(kCurrencyCodeLength) +
            "-letter ISO_4217 currency code. value",
        value->value());
    return fail(failureCode, kInvalidCurrency);
}

bool APMDataTypeValidator::isValidArrayParamItem(const sdk::Value& item,
                                                 std::uint64_t* failureCode) {
    reset(failureCode);
    if (item.isDictionary())
        return true;
    log(0, 13014, "Array param must be a dictionary. Parameters", item);
    return fail(failureCode, kArrayElementNotDictionary);
}

bool APMDataTypeValidator::isValidArrayParamForEvent(std::string_view eventName,
                                                     std::string_view parameterName,
                                                     std::uint64_t arrayCount,
                                                     bool isNestedArrayParam,
                                                     std::uint64_t* failureCode) {
    reset(failureCode);
    if (isNestedArrayParam) {
        log(0, 13013, "Nested array parameters are not allowed. Name", std::string(parameterName));
        return fail(failureCode, kNestedArray);
    }
    if (!APMIsEcommerceEvent(eventName)) {
        log(0, 13013,
            "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce "
            "name",
            std::string(eventName));
        return fail(failureCode, kArrayOnNonEcommerceEvent);
    }
    if (parameterName != "items") {
        log(0, 13013,
            std::string(label(2)) +
                " is an invalid ecommerce items. The name of array parameters for ecommerce "
                "should be \"items\". Invalid parameter name",
            std::string(parameterName));
        return fail(failureCode, kArrayNotNamedItems);
    }
    if (arrayCount > static_cast<std::uint64_t>(kMaxArrayItems)) {
        log(0, 13013,
            "Array parameter has too many items. The maximum number of supported items is " +
                std::to_string(kMaxArrayItems) + ". Invalid array size",
            arrayCount);
        return fail(failureCode, kTooManyItems);
    }
    return true;
}

bool APMIsValidAPMValue(const APMValue* value, int type, std::uint64_t* failureCode) {
    reset(failureCode);
    if (value != nullptr)
        return true;
    log(3, 13004, std::string(APMDataTypeValidator::label(type)) + " cannot be nil");
    return fail(failureCode, APMDataTypeValidator::kMissing);
}

bool APMIsValidSafelistedEvents(const sdk::Value& object) {
    const sdk::Value::Array* names = object.array();
    if (names == nullptr) {
        log(0, 25034, "Invalid safelisted event parameter. Type must be an array");
        return false;
    }
    for (const sdk::Value& name : *names) {
        const std::string* text = name.string();
        if (text == nullptr || !APMDataTypeValidator::isValidInternalEventName(*text, nullptr)) {
            log(0, 25035, "Invalid event name for safelisting. Name", name);
            return false;
        }
    }
    return true;
}
