#include "sdk/utilities/ValuePlist.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "platform/preferences/PlistCodec.h"
#include "platform/preferences/PlistPreScan.h"
#include "sdk/utilities/ValueJson.h"

namespace sdk {

namespace {

struct PlistFree {
    void operator()(void* node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct MallocFree {
    void operator()(void* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, MallocFree>;

Error readError(std::string message) {
    return Error(std::string(kCocoaErrorDomain), kReadCorruptErrorCode, std::move(message));
}

Error writeError(std::string message) {
    return Error(std::string(kCocoaErrorDomain), kWriteInvalidErrorCode, std::move(message));
}

Error fromNode(plist_t node, int depth, Value* out);

Error fromArrayNode(plist_t node, int depth, Value* out) {
    Value::Array array;
    plist_array_iter iter = nullptr;
    plist_array_new_iter(node, &iter);
    std::unique_ptr<void, MallocFree> iterOwner(iter);
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(node, iter, &item);
        if (item == nullptr) {
            break;
        }
        Value converted;
        Error e = fromNode(item, depth + 1, &converted);
        if (!e.ok())
            return e;
        array.push_back(std::move(converted));
    }
    *out = Value(std::move(array));
    return Error::OK();
}

Error fromDictNode(plist_t node, int depth, Value* out) {
    Value::Dictionary dictionary;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node, &iter);
    std::unique_ptr<void, MallocFree> iterOwner(iter);
    for (;;) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &rawKey, &item);
        CString key(rawKey);
        if (item == nullptr) {
            break;
        }
        std::string name = key ? std::string(key.get()) : std::string();
        if (!platform::isWellFormedUtf8(name)) {
            return readError("property list holds a key that is not UTF-8");
        }
        Value converted;
        Error e = fromNode(item, depth + 1, &converted);
        if (!e.ok())
            return e;
        dictionary.insert_or_assign(std::move(name), std::move(converted));
    }
    *out = Value(std::move(dictionary));
    return Error::OK();
}

Value fromScalarNode(plist_t node, plist_type type) {
    switch (type) {
        case PLIST_BOOLEAN: {
            std::uint8_t value = 0;
            plist_get_bool_val(node, &value);
            return Value(value != 0);
        }
        case PLIST_UINT: {
            // libplist keeps every integer as 64 bits; negative ones are two's complement.
            std::uint64_t value = 0;
            plist_get_uint_val(node, &value);
            return Value(static_cast<std::int64_t>(value));
        }
        case PLIST_REAL: {
            double value = 0;
            plist_get_real_val(node, &value);
            return Value(value);
        }
        case PLIST_DATE: {
            std::int32_t seconds = 0, micros = 0;
            plist_get_date_val(node, &seconds, &micros);
            return Value(Date::fromTimeIntervalSinceReferenceDate(seconds + micros / 1e6));
        }
        case PLIST_DATA: {
            char* raw = nullptr;
            std::uint64_t length = 0;
            plist_get_data_val(node, &raw, &length);
            CString owner(raw);
            const auto* begin = reinterpret_cast<const std::uint8_t*>(raw);
            return Value(raw ? Bytes(begin, begin + length) : Bytes());
        }
        default: {  // PLIST_STRING, PLIST_KEY
            char* raw = nullptr;
            if (type == PLIST_KEY) {
                plist_get_key_val(node, &raw);
            } else {
                plist_get_string_val(node, &raw);
            }
            CString owner(raw);
            return Value(raw ? std::string(raw) : std::string());
        }
    }
}

Error fromNode(plist_t node, int depth, Value* out) {
    const plist_type type = plist_get_node_type(node);
    switch (type) {
        case PLIST_ARRAY:
        case PLIST_DICT:
            if (depth >= kMaxPlistDepth) {
                return readError("property list nested deeper than " +
                                 std::to_string(kMaxPlistDepth) + " levels");
            }
            return type == PLIST_ARRAY ? fromArrayNode(node, depth, out)
                                       : fromDictNode(node, depth, out);
        case PLIST_BOOLEAN:
        case PLIST_UINT:
        case PLIST_REAL:
        case PLIST_DATE:
        case PLIST_DATA:
        case PLIST_STRING:
        case PLIST_KEY:
            *out = fromScalarNode(node, type);
            if (const std::string* text = out->string();
                text != nullptr && !platform::isWellFormedUtf8(*text)) {
                return readError("property list holds a string that is not UTF-8");
            }
            return Error::OK();
        default:
            return readError("property list holds an unsupported object");
    }
}

Error toNode(const Value& value, int depth, PlistPtr* out);

Error toContainerNode(const Value& value, int depth, PlistPtr* out) {
    if (depth >= kMaxPlistDepth) {
        return writeError("value nested deeper than " + std::to_string(kMaxPlistDepth) + " levels");
    }
    if (const Value::Array* array = value.array()) {
        PlistPtr node(plist_new_array());
        for (const Value& item : *array) {
            PlistPtr child;
            Error e = toNode(item, depth + 1, &child);
            if (!e.ok())
                return e;
            plist_array_append_item(node.get(), child.release());
        }
        *out = std::move(node);
        return Error::OK();
    }
    PlistPtr node(plist_new_dict());
    for (const auto& [key, item] : *value.dictionary()) {
        PlistPtr child;
        Error e = toNode(item, depth + 1, &child);
        if (!e.ok())
            return e;
        plist_dict_set_item(node.get(), key.c_str(), child.release());
    }
    *out = std::move(node);
    return Error::OK();
}

Error toDateNode(Date date, PlistPtr* out) {
    const double seconds = date.timeIntervalSinceReferenceDate();
    const double whole = std::floor(seconds);
    if (!std::isfinite(seconds) || whole < std::numeric_limits<std::int32_t>::min() ||
        whole > std::numeric_limits<std::int32_t>::max()) {
        return writeError("date out of the property-list range");
    }
    const auto micros = static_cast<std::int32_t>(std::lround((seconds - whole) * 1e6));
    out->reset(plist_new_date(static_cast<std::int32_t>(whole), std::min(micros, 999999)));
    return Error::OK();
}

Error toNode(const Value& value, int depth, PlistPtr* out) {
    switch (value.type()) {
        case Value::Type::kNull:
            return writeError("property lists cannot hold null");
        case Value::Type::kBool:
            out->reset(plist_new_bool(*value.boolValue() ? 1 : 0));
            return Error::OK();
        case Value::Type::kInt:
            out->reset(plist_new_uint(static_cast<std::uint64_t>(*value.intValue())));
            return Error::OK();
        case Value::Type::kDouble:
            out->reset(plist_new_real(*value.doubleValue()));
            return Error::OK();
        case Value::Type::kString:
            out->reset(plist_new_string(value.string()->c_str()));
            return Error::OK();
        case Value::Type::kBytes: {
            const Bytes& bytes = *value.bytes();
            out->reset(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            return Error::OK();
        }
        case Value::Type::kDate:
            return toDateNode(*value.dateValue(), out);
        case Value::Type::kArray:
        case Value::Type::kDictionary:
            return toContainerNode(value, depth, out);
    }
    return writeError("value of an unknown type");
}

}  // namespace

Error valueFromPlist(const Bytes& data, Value* out) {
    if (data.empty() || data.size() > std::numeric_limits<std::uint32_t>::max()) {
        return readError("property list data is empty or too large");
    }
    // The parser recurses per level and builds a shared object again at each reference:
    // refuse absurd nesting and expansion before it runs. (Leaf elements add a level or two
    // to the container depth.)
    if (std::optional<std::string> refused = platform::plistPreScan(data, kMaxPlistDepth + 2)) {
        return readError("property list refused: " + *refused);
    }
    plist_t raw = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::uint32_t>(data.size()), &raw);
    PlistPtr root(raw);
    if (!root) {
        return readError("data is not a property list");
    }
    Value converted;
    Error e = fromNode(root.get(), 0, &converted);
    if (!e.ok())
        return e;
    *out = std::move(converted);
    return Error::OK();
}

Error plistFromValue(const Value& value, PlistFormat format, Bytes* out) {
    PlistPtr root;
    Error e = toNode(value, 0, &root);
    if (!e.ok())
        return e;
    char* raw = nullptr;
    std::uint32_t length = 0;
    if (format == PlistFormat::kBinary) {
        plist_to_bin(root.get(), &raw, &length);
    } else {
        plist_to_xml(root.get(), &raw, &length);
    }
    CString owner(raw);
    if (raw == nullptr) {
        return writeError("property list could not be written");
    }
    const auto* begin = reinterpret_cast<const std::uint8_t*>(raw);
    *out = Bytes(begin, begin + length);
    return Error::OK();
}

}  // namespace sdk

namespace sdk {

namespace {

bool isPlistDateInRange(Date date) {
    const double whole = std::floor(date.timeIntervalSinceReferenceDate());
    return std::isfinite(whole) && whole >= std::numeric_limits<std::int32_t>::min() &&
           whole <= std::numeric_limits<std::int32_t>::max();
}

Error toPlistValue(const Value& value, int depth, platform::PlistValue* out) {
    if (depth >= platform::kMaxPlistDepth) {
        return writeError("value nested deeper than " +
                          std::to_string(platform::kMaxPlistDepth - 1) + " levels");
    }
    switch (value.type()) {
        case Value::Type::kNull:
            return writeError("property lists cannot hold null");
        case Value::Type::kBool:
            *out = platform::PlistValue(*value.boolValue());
            return Error::OK();
        case Value::Type::kInt:
            *out = platform::PlistValue(*value.intValue());
            return Error::OK();
        case Value::Type::kDouble:
            *out = platform::PlistValue(*value.doubleValue());
            return Error::OK();
        case Value::Type::kString:
            *out = platform::PlistValue(*value.string());
            return Error::OK();
        case Value::Type::kBytes:
            *out = platform::PlistValue(platform::PlistData{*value.bytes()});
            return Error::OK();
        case Value::Type::kDate:
            if (!isPlistDateInRange(*value.dateValue())) {
                return writeError("date out of the property-list range");
            }
            *out = platform::PlistValue(
                platform::PlistDate{value.dateValue()->timeIntervalSince1970()});
            return Error::OK();
        case Value::Type::kArray: {
            platform::PlistArray array;
            array.reserve(value.array()->size());
            for (const Value& item : *value.array()) {
                Error e = toPlistValue(item, depth + 1, &array.emplace_back());
                if (!e.ok())
                    return e;
            }
            *out = platform::PlistValue(std::move(array));
            return Error::OK();
        }
        case Value::Type::kDictionary: {
            platform::PlistDictionary dictionary;
            for (const auto& [key, item] : *value.dictionary()) {
                Error e = toPlistValue(item, depth + 1, &dictionary[key]);
                if (!e.ok())
                    return e;
            }
            *out = platform::PlistValue(std::move(dictionary));
            return Error::OK();
        }
    }
    return writeError("value of an unknown type");
}

}  // namespace

Error plistValueFromValue(const Value& value, platform::PlistValue* out) {
    platform::PlistValue converted;
    Error e = toPlistValue(value, 0, &converted);
    if (!e.ok())
        return e;
    *out = std::move(converted);
    return Error::OK();
}

Value valueFromPlistValue(const platform::PlistValue& value) {
    struct Visitor {
        Value operator()(bool v) const { return Value(v); }
        Value operator()(std::int64_t v) const { return Value(v); }
        Value operator()(double v) const { return Value(v); }
        Value operator()(const std::string& v) const { return Value(v); }
        Value operator()(const platform::PlistData& v) const { return Value(v.bytes); }
        Value operator()(const platform::PlistDate& v) const {
            return Value(Date::fromTimeIntervalSince1970(v.secondsSince1970));
        }
        Value operator()(const platform::PlistArray& v) const {
            Value::Array array;
            array.reserve(v.size());
            for (const platform::PlistValue& item : v) {
                array.push_back(valueFromPlistValue(item));
            }
            return Value(std::move(array));
        }
        Value operator()(const platform::PlistDictionary& v) const {
            Value::Dictionary dictionary;
            for (const auto& [key, item] : v) {
                dictionary.emplace(key, valueFromPlistValue(item));
            }
            return Value(std::move(dictionary));
        }
    };
    return std::visit(Visitor{}, value.storage());
}

}  // namespace sdk
