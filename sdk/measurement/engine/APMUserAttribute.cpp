#include "sdk/measurement/engine/APMUserAttribute.h"

#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

std::optional<APMUserAttribute> APMUserAttribute::initWithOrigin(std::string_view origin,
                                                                 std::string_view name,
                                                                 APMValue value,
                                                                 double lastSetTimestamp) {
    if (!APMDataTypeValidator::isValidInternalUserAttributeName(name, nullptr) ||
        !APMDataTypeValidator::isValidInternalUserAttributeValue(&value, name, nullptr))
        return std::nullopt;
    return APMUserAttribute(std::string(origin), std::string(name), std::move(value),
                            lastSetTimestamp);
}

APMPBUserAttribute APMUserAttribute::protoUserAttribute() const {
    namespace UA = apmpb::UserAttribute;
    APMPBUserAttribute proto;
    APMPBSetString(&proto, UA::kName, name_);
    if (value_.isDouble())
        APMPBSetDouble(&proto, UA::kDoubleValue, value_.doubleValue());
    else if (value_.isInt64())
        APMPBSetInt64(&proto, UA::kIntValue, value_.int64Value());
    else if (const std::string* text = value_.stringValue())
        APMPBSetString(&proto, UA::kStringValue, *text);
    // Truncated toward zero and saturated, NaN giving 0.
    APMPBSetInt64(&proto, UA::kSetTimestampMillis,
                  *sdk::Value(lastSetTimestamp_ * 1000.0).numberAsInt());
    return proto;
}
