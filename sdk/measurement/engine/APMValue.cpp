#include "sdk/measurement/engine/APMValue.h"

#include "sdk/measurement/engine/APMMeasurement.h"

std::optional<APMValue> APMValue::valueFromObject(const sdk::Value& object) {
    if (object.isNull()) {
        APMMeasurement::monitor().logWithLevel(0, 35000, "Cannot create Value type with nil value");
        return std::nullopt;
    }
    if (const std::string* text = object.string()) {
        return initWithString(*text);
    }
    if (object.isDouble()) {
        return initWithDouble(*object.doubleValue());
    }
    if (object.isInt() || object.isBool()) {
        return initWithInt64(*object.numberAsInt());
    }
    APMMeasurement::monitor().logWithLevel(
        0, 35001,
        "Cannot create Value type with unsupported value. The Value has to be NSNumber, NSString "
        "or NSArray (if supported). Value",
        object);
    return std::nullopt;
}

APMValue APMValue::initWithString(std::string value) {
    return APMValue(Storage(std::move(value)));
}

APMValue APMValue::initWithInt64(std::int64_t value) {
    return APMValue(Storage(value));
}

APMValue APMValue::initWithDouble(double value) {
    return APMValue(Storage(value));
}

APMValue APMValue::initWithArray(std::vector<APMParameters> items) {
    return APMValue(Storage(std::make_shared<const std::vector<APMParameters>>(std::move(items))));
}

std::optional<std::string> APMValue::stringValue() const {
    if (const std::string* text = std::get_if<std::string>(&value_)) {
        return *text;
    }
    return std::nullopt;
}

double APMValue::doubleValue() const {
    const double* number = std::get_if<double>(&value_);
    return number ? *number : 0.0;
}

std::int64_t APMValue::int64Value() const {
    const std::int64_t* number = std::get_if<std::int64_t>(&value_);
    return number ? *number : 0;
}

const std::vector<APMParameters>& APMValue::arrayValue() const {
    static const std::vector<APMParameters> kNoItems;
    const Items* items = std::get_if<Items>(&value_);
    return items ? **items : kNoItems;
}

bool operator==(const APMValue& a, const APMValue& b) {
    if (a.valueType() != b.valueType()) {
        return false;
    }
    if (a.isArray()) {
        return a.arrayValue() == b.arrayValue();
    }
    return a.value_ == b.value_;
}
