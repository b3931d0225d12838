#include "sdk/utilities/Value.h"

#include <cmath>
#include <cstdio>

namespace sdk {

namespace {

std::int64_t saturatingTruncate(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (value >= kLimit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (value < -kLimit) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

void appendDescription(std::string& out, const Value& value);

void appendScalar(std::string& out, const Value& value) {
    char buffer[64];
    switch (value.type()) {
        case Value::Type::kNull:
            out += "null";
            break;
        case Value::Type::kBool:
            out += *value.boolValue() ? "true" : "false";
            break;
        case Value::Type::kInt:
            out += std::to_string(*value.intValue());
            break;
        case Value::Type::kDouble:
            std::snprintf(buffer, sizeof buffer, "%.17g", *value.doubleValue());
            out += buffer;
            break;
        case Value::Type::kString:
            appendQuoted(out, *value.string());
            break;
        case Value::Type::kBytes:
            out += '<';
            for (std::uint8_t byte : *value.bytes()) {
                std::snprintf(buffer, sizeof buffer, "%02x", byte);
                out += buffer;
            }
            out += '>';
            break;
        case Value::Type::kDate:
            std::snprintf(buffer, sizeof buffer, "date(%.3f)",
                          value.dateValue()->timeIntervalSince1970());
            out += buffer;
            break;
        default:
            break;
    }
}

void appendDescription(std::string& out, const Value& value) {
    if (const Value::Array* array = value.array()) {
        out += '[';
        for (std::size_t i = 0; i < array->size(); ++i) {
            out += i == 0 ? "" : ", ";
            appendDescription(out, (*array)[i]);
        }
        out += ']';
    } else if (const Value::Dictionary* dictionary = value.dictionary()) {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : *dictionary) {
            out += first ? "" : ", ";
            first = false;
            appendQuoted(out, key);
            out += ": ";
            appendDescription(out, item);
        }
        out += '}';
    } else {
        appendScalar(out, value);
    }
}

}  // namespace

std::optional<bool> Value::boolValue() const {
    if (const bool* value = std::get_if<bool>(&storage_)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<std::int64_t> Value::intValue() const {
    if (const std::int64_t* value = std::get_if<std::int64_t>(&storage_)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<double> Value::doubleValue() const {
    if (const double* value = std::get_if<double>(&storage_)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<Date> Value::dateValue() const {
    if (const Date* value = std::get_if<Date>(&storage_)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<std::int64_t> Value::numberAsInt() const {
    switch (type()) {
        case Type::kBool:
            return *boolValue() ? 1 : 0;
        case Type::kInt:
            return intValue();
        case Type::kDouble:
            return saturatingTruncate(*doubleValue());
        default:
            return std::nullopt;
    }
}

std::optional<double> Value::numberAsDouble() const {
    switch (type()) {
        case Type::kBool:
            return *boolValue() ? 1.0 : 0.0;
        case Type::kInt:
            return static_cast<double>(*intValue());
        case Type::kDouble:
            return doubleValue();
        default:
            return std::nullopt;
    }
}

std::optional<bool> Value::numberAsBool() const {
    switch (type()) {
        case Type::kBool:
            return boolValue();
        case Type::kInt:
            return *intValue() != 0;
        case Type::kDouble:
            return *doubleValue() != 0.0;
        default:
            return std::nullopt;
    }
}

const Value* Value::find(std::string_view key) const {
    const Dictionary* entries = dictionary();
    if (entries == nullptr) {
        return nullptr;
    }
    auto it = entries->find(key);
    return it == entries->end() ? nullptr : &it->second;
}

std::string Value::description() const {
    std::string out;
    appendDescription(out, *this);
    return out;
}

const char* Value::className() const {
    switch (type()) {
        case Type::kNull:
            return "NSNull";
        case Type::kBool:
        case Type::kInt:
        case Type::kDouble:
            return "NSNumber";
        case Type::kString:
            return "NSString";
        case Type::kBytes:
            return "NSData";
        case Type::kDate:
            return "NSDate";
        case Type::kArray:
            return "NSArray";
        case Type::kDictionary:
            return "NSDictionary";
    }
    return "NSObject";
}

}  // namespace sdk
