#include "sdk/measurement/experiments/APMPBFlagConversions.h"

#include "sdk/measurement/experiments/APMEMonitor.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

namespace F = apmpb::Flag;

constexpr std::int64_t kLevel = 1;
constexpr std::int64_t kNameNilCode = 850000;
constexpr std::int64_t kNameNotStringCode = 850001;
constexpr std::int64_t kValueInvalidCode = 850002;

// How a value's type shows in a diagnostic.
const char* typeName(const sdk::Value& value) {
    switch (value.type()) {
        case sdk::Value::Type::kNull:
            return "null";
        case sdk::Value::Type::kBool:
            return "boolean";
        case sdk::Value::Type::kInt:
            return "integer";
        case sdk::Value::Type::kDouble:
            return "double";
        case sdk::Value::Type::kString:
            return "string";
        case sdk::Value::Type::kBytes:
            return "data";
        case sdk::Value::Type::kDate:
            return "date";
        case sdk::Value::Type::kArray:
            return "array";
        case sdk::Value::Type::kDictionary:
            return "dictionary";
    }
    return "unknown";
}

}  // namespace

std::optional<sdk::Value> APMPBFlagValueObject(const APMPBFlag* flag) {
    if (flag == nullptr)
        return std::nullopt;
    if (APMPBHasField(flag, F::kIntValue))
        return sdk::Value(APMPBGetInt64(flag, F::kIntValue));
    if (APMPBHasField(flag, F::kDoubleValue))
        return sdk::Value(APMPBGetDouble(flag, F::kDoubleValue));
    if (APMPBHasField(flag, F::kStringValue)) {
        // A value that is not valid UTF-8 reads as no string.
        if (auto text = APMPBGetString(flag, F::kStringValue))
            return sdk::Value(std::move(*text));
        return std::nullopt;
    }
    if (APMPBHasField(flag, F::kBoolValue))
        return sdk::Value(APMPBGetBool(flag, F::kBoolValue));
    return std::nullopt;
}

std::unique_ptr<APMPBFlag> APMPBFlagWithNameValue(const sdk::Value& name, const sdk::Value& value) {
    if (name.isNull()) {
        APMEMonitor::logWithLevel(kLevel, kNameNilCode, "Flag name must not be nil");
        return nullptr;
    }
    const std::string* text = name.string();
    if (text == nullptr) {
        APMEMonitor::logWithLevel(kLevel, kNameNotStringCode, "Flag name must be a string",
                                  {typeName(name)});
        return nullptr;
    }
    if (!value.isNumber() && !value.isString()) {
        APMEMonitor::logWithLevel(kLevel, kValueInvalidCode, "Flag value is invalid",
                                  {typeName(value)});
        return nullptr;
    }
    auto flag = std::make_unique<APMPBFlag>();
    APMPBSetString(flag.get(), F::kName, *text);
    if (const std::string* string = value.string()) {
        APMPBSetString(flag.get(), F::kStringValue, *string);
    } else if (value.isDouble()) {
        APMPBSetDouble(flag.get(), F::kDoubleValue, *value.doubleValue());
    } else {
        APMPBSetInt64(flag.get(), F::kIntValue, *value.numberAsInt());
    }
    return flag;
}
