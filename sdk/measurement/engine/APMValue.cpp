#include "sdk/measurement/engine/APMValue.h"

#include "sdk/measurement/engine/APMMonitor.h"

std::optional<APMValue> APMValue::valueFromObject(const sdk::Value* object, bool allowArray) {
    if (object == nullptr) {
        APMMonitor::shared().logWithLevel(0, 35000, "Cannot create Value type with nil value");
        return std::nullopt;
    }
    if (const std::string* text = object->string())
        return APMValue(*text);
    if (object->isDouble())
        return APMValue(*object->doubleValue());
    if (object->isInt() || object->isBool())
        return APMValue(*object->numberAsInt());
    if (allowArray && object->isArray())
        return APMValue(*object->array());
    APMMonitor::shared().logWithLevel(
        0, 35001,
        "Cannot create Value type with unsupported value. The Value has to be NSNumber, NSString "
        "or NSArray (if supported). Value",
        *object);
    return std::nullopt;
}

std::optional<APMValue> APMValue::initWithString(const sdk::Value* object) {
    if (object == nullptr) {
        APMMonitor::shared().logWithLevel(0, 35002, "Cannot create String value with nil");
        return std::nullopt;
    }
    if (!object->isString()) {
        APMMonitor::shared().logWithLevel(
            0, 35003, "Cannot create String value with non-string value. Value", *object);
        return std::nullopt;
    }
    return APMValue(*object->string());
}

std::optional<APMValue> APMValue::initWithArray(const sdk::Value* object) {
    if (object == nullptr) {
        APMMonitor::shared().logWithLevel(0, 35004, "Cannot create Array value with nil");
        return std::nullopt;
    }
    if (!object->isArray()) {
        APMMonitor::shared().logWithLevel(
            0, 35005, "Cannot create Array value with non-array value. Value", *object);
        return std::nullopt;
    }
    return APMValue(*object->array());
}

std::string APMValue::description() const {
    if (const std::string* text = value_.string())
        return *text;
    return value_.description();
}

APMRawParameters APMRawParametersFromDictionary(const sdk::Value::Dictionary& dictionary) {
    APMRawParameters raw;
    for (const auto& [name, value] : dictionary)
        raw.emplace(name, value);
    return raw;
}

sdk::Value::Dictionary APMDictionaryFromParameters(const APMParameters& parameters) {
    sdk::Value::Dictionary dictionary;
    for (const auto& [name, value] : parameters)
        dictionary.emplace(name, value.value());
    return dictionary;
}
