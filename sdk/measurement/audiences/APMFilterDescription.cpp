#include "sdk/measurement/audiences/APMFilterDescription.h"

#include <optional>

#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

void appendString(std::string& text, const char* label, const NANOMessageBase& message,
                  std::int32_t slot) {
    if (const std::optional<std::string> value = APMPBGetString(&message, slot)) {
        text += std::string(" ") + label + "=" + *value;
    }
}

void appendNumber(std::string& text, const char* label, const NANOMessageBase& message,
                  std::int32_t slot) {
    if (APMPBHasField(&message, slot)) {
        text += std::string(" ") + label + "=" +
                std::to_string(static_cast<std::int32_t>(APMPBGetInt32(&message, slot)));
    }
}

}  // namespace

std::string APMDescribeNumberFilter(const APMPBNumberFilter& filter) {
    using namespace apmpb::NumberFilter;
    std::string text = filter.className() + std::string("{");
    appendNumber(text, "type", filter, kComparisonType);
    appendString(text, "value", filter, kComparisonValue);
    appendString(text, "min", filter, kMinComparisonValue);
    appendString(text, "max", filter, kMaxComparisonValue);
    return text + " }";
}

std::string APMDescribeStringFilter(const APMPBStringFilter& filter) {
    using namespace apmpb::StringFilter;
    std::string text = filter.className() + std::string("{");
    appendNumber(text, "type", filter, kMatchType);
    appendString(text, "expression", filter, kExpression);
    if (APMPBGetBool(&filter, kCaseSensitive)) {
        text += " caseSensitive";
    }
    const auto list = APMPBGetRepeated(&filter, kExpressionList);
    if (list && !list->empty()) {
        text += " list=" + std::to_string(list->size());
    }
    return text + " }";
}

std::string APMDescribeFilter(const APMPBFilter& filter) {
    using namespace apmpb::Filter;
    std::string text = filter.className() + std::string("{");
    appendString(text, "param", filter, kParamName);
    if (auto number = APMPBGetMessage<APMPBNumberFilter>(&filter, kNumberFilter)) {
        text += " " + APMDescribeNumberFilter(*number);
    }
    if (auto string = APMPBGetMessage<APMPBStringFilter>(&filter, kStringFilter)) {
        text += " " + APMDescribeStringFilter(*string);
    }
    if (APMPBGetBool(&filter, kComplement)) {
        text += " complement";
    }
    return text + " }";
}

std::string APMDescribeParameters(const APMParameters& parameters) {
    std::string text = "{";
    for (const auto& [name, value] : parameters) {
        text += (text.size() > 1 ? ", " : "") + name + "=" + value.description();
    }
    return text + "}";
}
