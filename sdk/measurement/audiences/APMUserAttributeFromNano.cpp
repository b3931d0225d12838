#include "sdk/measurement/audiences/APMUserAttributeFromNano.h"

#include "sdk/measurement/messages/APMPBAccessors.h"

std::optional<APMUserAttribute> APMUserAttributeFromNano(const APMPBUserAttribute& attribute) {
    namespace slot = apmpb::UserAttribute;
    std::optional<APMValue> value;
    if (std::optional<std::string> text = APMPBGetString(&attribute, slot::kStringValue)) {
        value.emplace(std::move(*text));
    } else if (APMPBHasField(&attribute, slot::kDoubleValue)) {
        value.emplace(APMPBGetDouble(&attribute, slot::kDoubleValue));
    } else if (APMPBHasField(&attribute, slot::kIntValue)) {
        value.emplace(APMPBGetInt64(&attribute, slot::kIntValue));
    }
    if (!value) {
        return std::nullopt;
    }
    const double seconds =
        static_cast<double>(APMPBGetInt64(&attribute, slot::kSetTimestampMillis)) / 1000.0;
    return APMUserAttribute::initWithOrigin(
        "", APMPBGetString(&attribute, slot::kName).value_or(""), std::move(*value), seconds);
}
