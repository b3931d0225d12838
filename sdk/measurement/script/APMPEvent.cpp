#include "sdk/measurement/script/APMPEvent.h"

#include <cmath>

#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPUnicode.h"

namespace {

// Timestamps closer than this are the same instant.
constexpr double kTimestampTolerance = 2.220446049250313e-16;

bool isIntegerNumber(const sdk::Value& value) {
    return value.isInt() || value.isBool();
}

std::string numberText(const sdk::Value& number) {
    if (number.isDouble()) {
        return APMPToUTF8(APMPNumberValue::stringFromDouble(*number.doubleValue()));
    }
    return std::to_string(number.numberAsInt().value_or(0));
}

// Parameter values compare by kind and content; a NaN double equals a NaN double, so an
// untouched NaN parameter is not taken for an edit.
bool sameParameterValue(const sdk::Value& a, const sdk::Value& b) {
    if (a.isDouble() && b.isDouble() && std::isnan(*a.doubleValue()) &&
        std::isnan(*b.doubleValue())) {
        return true;
    }
    return a == b;
}

bool parametersCoveredBy(const sdk::Value::Dictionary& a, const sdk::Value::Dictionary& b) {
    for (const auto& [name, value] : a) {
        const auto other = b.find(name);
        if (other == b.end() || !sameParameterValue(value, other->second)) {
            return false;
        }
    }
    return true;
}

}  // namespace

const sdk::Value* APMPEvent::parameterForName(std::string_view name) const {
    const auto found = parameters_.find(name);
    return found == parameters_.end() ? nullptr : &found->second;
}

void APMPEvent::setParameter(std::optional<sdk::Value> value, const std::string& name) {
    if (!value) {
        parameters_.erase(name);
        return;
    }
    sdk::Value stored = coercedValue(name, parameterForName(name), std::move(*value));
    parameters_.insert_or_assign(name, std::move(stored));
}

bool APMPEvent::isEqualToEvent(const APMPEvent& other) const {
    if (this == &other) {
        return true;
    }
    if (std::fabs(timestamp_ - other.timestamp_) > kTimestampTolerance || name_ != other.name_) {
        return false;
    }
    return parameters_.size() == other.parameters_.size() &&
           parametersCoveredBy(parameters_, other.parameters_);
}

sdk::Value APMPEvent::coercedValue(std::string_view name, const sdk::Value* old, sdk::Value value) {
    if (!value.isNumber()) {
        return value;
    }
    if (name == "_syn" || name == "_err" || name == "_el") {
        return sdk::Value(value.numberAsInt().value_or(0));
    }
    if (old != nullptr && old->isNumber()) {
        if (!isIntegerNumber(*old)) {
            return value;
        }
        if (name.empty() || name.front() != '_') {
            return sdk::Value(value.numberAsInt().value_or(0));
        }
        return *old;
    }
    if (old != nullptr && old->isString()) {
        return sdk::Value(numberText(value));
    }
    return value;
}
