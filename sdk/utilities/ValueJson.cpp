#include "sdk/utilities/ValueJson.h"

#include <cmath>
#include <utility>

namespace sdk {

namespace {

Error readError(std::string message) {
    return Error(std::string(kCocoaErrorDomain), kReadCorruptErrorCode, std::move(message));
}

Error writeError(std::string message) {
    return Error(std::string(kCocoaErrorDomain), kWriteInvalidErrorCode, std::move(message));
}

Error fromJson(const nlohmann::json& json, int depth, Value* out);

Error fromJsonContainer(const nlohmann::json& json, int depth, Value* out) {
    if (depth >= kMaxJsonDepth) {
        return readError("JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    if (json.is_array()) {
        Value::Array array;
        array.reserve(json.size());
        for (const nlohmann::json& item : json) {
            Value converted;
            Error e = fromJson(item, depth + 1, &converted);
            if (!e.ok())
                return e;
            array.push_back(std::move(converted));
        }
        *out = Value(std::move(array));
        return Error::OK();
    }
    Value::Dictionary dictionary;
    for (const auto& [key, item] : json.items()) {
        Value converted;
        Error e = fromJson(item, depth + 1, &converted);
        if (!e.ok())
            return e;
        dictionary.insert_or_assign(key, std::move(converted));
    }
    *out = Value(std::move(dictionary));
    return Error::OK();
}

Error fromJson(const nlohmann::json& json, int depth, Value* out) {
    switch (json.type()) {
        case nlohmann::json::value_t::null:
            *out = Value();
            return Error::OK();
        case nlohmann::json::value_t::boolean:
            *out = Value(json.get<bool>());
            return Error::OK();
        case nlohmann::json::value_t::number_integer:
            *out = Value(json.get<std::int64_t>());
            return Error::OK();
        case nlohmann::json::value_t::number_unsigned: {
            const auto value = json.get<std::uint64_t>();
            *out = value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                       ? Value(static_cast<double>(value))
                       : Value(static_cast<std::int64_t>(value));
            return Error::OK();
        }
        case nlohmann::json::value_t::number_float:
            *out = Value(json.get<double>());
            return Error::OK();
        case nlohmann::json::value_t::string:
            *out = Value(json.get_ref<const std::string&>());
            return Error::OK();
        case nlohmann::json::value_t::array:
        case nlohmann::json::value_t::object:
            return fromJsonContainer(json, depth, out);
        default:
            return readError("JSON value of an unsupported kind");
    }
}

Error toJson(const Value& value, int depth, nlohmann::json* out);

Error toJsonContainer(const Value& value, int depth, nlohmann::json* out) {
    if (depth >= kMaxJsonDepth) {
        return writeError("value nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    if (const Value::Array* array = value.array()) {
        nlohmann::json result = nlohmann::json::array();
        for (const Value& item : *array) {
            nlohmann::json converted;
            Error e = toJson(item, depth + 1, &converted);
            if (!e.ok())
                return e;
            result.push_back(std::move(converted));
        }
        *out = std::move(result);
        return Error::OK();
    }
    nlohmann::json result = nlohmann::json::object();
    for (const auto& [key, item] : *value.dictionary()) {
        nlohmann::json converted;
        Error e = toJson(item, depth + 1, &converted);
        if (!e.ok())
            return e;
        result[key] = std::move(converted);
    }
    *out = std::move(result);
    return Error::OK();
}

Error toJson(const Value& value, int depth, nlohmann::json* out) {
    switch (value.type()) {
        case Value::Type::kNull:
            *out = nullptr;
            return Error::OK();
        case Value::Type::kBool:
            *out = *value.boolValue();
            return Error::OK();
        case Value::Type::kInt:
            *out = *value.intValue();
            return Error::OK();
        case Value::Type::kDouble:
            if (!std::isfinite(*value.doubleValue())) {
                return writeError("JSON cannot hold a non-finite number");
            }
            *out = *value.doubleValue();
            return Error::OK();
        case Value::Type::kString:
            *out = *value.string();
            return Error::OK();
        case Value::Type::kBytes:
            return writeError("JSON cannot hold bytes");
        case Value::Type::kDate:
            return writeError("JSON cannot hold a date");
        case Value::Type::kArray:
        case Value::Type::kDictionary:
            return toJsonContainer(value, depth, out);
    }
    return writeError("value of an unknown type");
}

}  // namespace

Error valueFromJson(const nlohmann::json& json, Value* out) {
    Value converted;
    Error e = fromJson(json, 0, &converted);
    if (!e.ok())
        return e;
    *out = std::move(converted);
    return Error::OK();
}

Error valueToJson(const Value& value, nlohmann::json* out) {
    nlohmann::json converted;
    Error e = toJson(value, 0, &converted);
    if (!e.ok())
        return e;
    *out = std::move(converted);
    return Error::OK();
}

Error parseJson(std::string_view text, Value* out) {
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        return readError(e.what());
    }
    return valueFromJson(json, out);
}

Error serializeJson(const Value& value, std::string* out) {
    nlohmann::json json;
    Error e = valueToJson(value, &json);
    if (!e.ok())
        return e;
    try {
        *out = json.dump();
    } catch (const nlohmann::json::exception& ex) {
        return writeError(ex.what());  // a string that is not valid UTF-8
    }
    return Error::OK();
}

}  // namespace sdk
