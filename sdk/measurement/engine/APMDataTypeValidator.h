#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/measurement/engine/APMValue.h"

// Whether a name or value may enter the measurement engine. Every check returns true or false,
// writes a failure code through the optional `failureCode` (0 first, then the first failure
// found) and logs the reason once to the engine's monitor. Public names (what an app passes in)
// must start with a letter and avoid the reserved names and prefixes; internal names (the
// engine's own, often beginning with "_") only need name characters.
//
// Characters: letters are Unicode general category L, digits Nd, name characters letters,
// digits and "_". Lengths count code points. Stateless; safe on any thread.
//
// The limits the remote configuration sets are passed in: `maxValueLength` is the public event
// parameter value limit (maxPublicEventParameterValueLength); the internal one derives from it.
class APMDataTypeValidator {
  public:
    APMDataTypeValidator() = delete;

    // Failure codes.
    enum FailureCode : std::uint64_t {
        kValid = 0,
        kMissing = 1,
        kTooLong = 2,
        kInvalidCharacters = 3,
        kReserved = 4,
        kWrongType = 5,
        kNotForwarded = 6,
        kTooShort = 7,
        kNotNumeric = 8,
        kInvalidCurrency = 9,
        kArrayOnNonEcommerceEvent = 10,
        kArrayNotNamedItems = 11,
        kTooManyItems = 12,
        kNestedArray = 13,
        kArrayElementNotDictionary = 14,
    };

    static constexpr std::int32_t kMaxEventNameLength = 40;
    static constexpr std::int32_t kMaxEventOriginLength = 32;
    static constexpr std::int32_t kMaxEventParameterNameLength = 40;
    static constexpr std::int32_t kMaxArrayItems = 200;
    static constexpr std::int32_t kMaxUserPropertyNameLength = 24;
    static constexpr std::int32_t kMaxUserPropertyValueLength = 36;
    static constexpr std::int32_t kCurrencyCodeLength = 3;

    // The label of a data type index in messages ("Event name", ...; "Object" above 9).
    static std::string_view label(int type);

    // The internal value length limit: the public one when it is 257 or more, else 256.
    static std::int32_t maxInternalEventParameterValueLength(
        std::int32_t maxPublicEventParameterValueLength);

    // Building blocks ----------------------------------------------------------------------
    // A string between `minLength` and `maxLength` code points. Empty with minLength >= 1 is
    // code 1 (silent for values, types 3 and 5), too long 2, too short 7.
    static bool isValidString(std::string_view text, std::int32_t minLength, std::int32_t maxLength,
                              int type, std::uint64_t* failureCode);
    // A non-empty string of name characters, at most `maxLength` code points (else 3).
    static bool isValidInternalName(std::string_view name, std::int32_t maxLength, int type,
                                    std::uint64_t* failureCode);
    // An internal name that starts with a letter (else 3, 13003).
    static bool isValidPublicName(std::string_view name, std::int32_t maxLength, int type,
                                  std::uint64_t* failureCode);
    // A value (nullptr is code 1); a string value must also pass isValidString.
    static bool isValidValue(const APMValue* value, std::int32_t minLength, std::int32_t maxLength,
                             int type, std::uint64_t* failureCode);
    // Begins with "razudizo_", "vovidu_" or "ma_".
    static bool hasReservedPrefixes(std::string_view name);

    // Checks -------------------------------------------------------------------------------
    static bool isValidPublicEventName(std::string_view name, std::uint64_t* failureCode);
    static bool isValidInternalEventName(std::string_view name, std::uint64_t* failureCode);
    static bool isValidPublicEventParameterName(std::string_view name, std::uint64_t* failureCode);
    static bool isValidInternalEventParameterName(std::string_view name,
                                                  std::uint64_t* failureCode);
    static bool isValidPublicEventParameterValue(const APMValue* value, std::int32_t maxValueLength,
                                                 std::uint64_t* failureCode);
    static bool isValidInternalEventParameterValue(const APMValue* value,
                                                   std::int32_t maxValueLength,
                                                   std::uint64_t* failureCode);
    static bool isValidPublicUserAttributeName(std::string_view name, std::uint64_t* failureCode);
    static bool isValidPublicUserAttributeValue(const APMValue* value, std::uint64_t* failureCode);
    static bool isValidInternalUserAttributeName(std::string_view name, std::uint64_t* failureCode);
    static bool isValidInternalUserAttributeValue(const APMValue* value, std::string_view name,
                                                  std::uint64_t* failureCode);
    static bool isValidInternalEventOrigin(std::string_view origin, std::uint64_t* failureCode);
    // "<internal name>+tgw"; empty is code 1, no suffix code 6 (silent).
    static bool isValidForwardedEventOrigin(std::string_view origin, std::uint64_t* failureCode);
    static bool isValidScreenParameterValue(std::string_view value, std::int32_t maxValueLength,
                                            std::uint64_t* failureCode);
    static bool isValidConditionalUserPropertyOrigin(std::string_view origin,
                                                     std::uint64_t* failureCode);
    static bool isValidConditionalUserPropertyName(std::string_view name,
                                                   std::uint64_t* failureCode);
    static bool isValidConditionalUserPropertyValue(const APMValue* value,
                                                    std::uint64_t* failureCode);
    // An int64 or double value (else 8).
    static bool isValidNumericValue(const APMValue* value, std::uint64_t* failureCode);
    // A string value of exactly 3 UTF-16 units, all letters (else 9).
    static bool isValidCurrencyCode(const APMValue* value, std::uint64_t* failureCode);
    // A dictionary (else 14).
    static bool isValidArrayParamItem(const sdk::Value& item, std::uint64_t* failureCode);
    // An array parameter: not nested (13), on an ecommerce event (10), named "items" (11), at
    // most 200 items (12); checked in that order.
    static bool isValidArrayParamForEvent(std::string_view eventName,
                                          std::string_view parameterName, std::uint64_t arrayCount,
                                          bool isNestedArrayParam, std::uint64_t* failureCode);
};

// Nil (nullptr) is code 1 and logs 13004 with the label of `type`.
bool APMIsValidAPMValue(const APMValue* value, int type, std::uint64_t* failureCode);

// The safelist of event names handed to the engine at start: an array of valid internal event
// names. Not an array logs 25034; the first bad name logs 25035; both give false.
bool APMIsValidSafelistedEvents(const sdk::Value& object);
