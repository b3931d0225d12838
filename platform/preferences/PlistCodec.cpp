#include "platform/preferences/PlistCodec.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <span>

#include "platform/preferences/PlistPreScan.h"

namespace platform {

namespace {

// Seconds from 1970-01-01 to 2001-01-01, the epoch of property-list dates.
constexpr double kPlistEpochOffset = 978307200.0;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using MallocPtr = std::unique_ptr<T, MallocDeleter>;

bool fromNode(plist_t node, int depth, PlistValue& out, std::string& error);

bool arrayFromNode(plist_t node, int depth, PlistValue& out, std::string& error) {
    PlistArray array;
    uint32_t size = plist_array_get_size(node);
    array.resize(size);
    for (uint32_t i = 0; i < size; ++i) {
        if (!fromNode(plist_array_get_item(node, i), depth + 1, array[i], error)) {
            return false;
        }
    }
    out = PlistValue(std::move(array));
    return true;
}

bool dictionaryFromNode(plist_t node, int depth, PlistValue& out, std::string& error) {
    PlistDictionary dictionary;
    plist_dict_iter rawIter = nullptr;
    plist_dict_new_iter(node, &rawIter);
    MallocPtr<void> iter(rawIter);
    for (;;) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, rawIter, &rawKey, &item);
        MallocPtr<char> key(rawKey);
        if (item == nullptr) {
            break;
        }
        std::string name = key ? std::string(key.get()) : std::string();
        if (!isWellFormedUtf8(name)) {
            error = "a key that is not UTF-8";
            return false;
        }
        PlistValue& slot = dictionary[std::move(name)];
        if (!fromNode(item, depth + 1, slot, error)) {
            return false;
        }
    }
    out = PlistValue(std::move(dictionary));
    return true;
}

bool scalarFromNode(plist_t node, PlistValue& out, std::string& error) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t value = 0;
            plist_get_bool_val(node, &value);
            out = PlistValue(value != 0);
            return true;
        }
        case PLIST_UINT: {
            // Stored as 64 bits; negative integers come back in two's complement.
            uint64_t value = 0;
            plist_get_uint_val(node, &value);
            out = PlistValue(static_cast<int64_t>(value));
            return true;
        }
        case PLIST_REAL: {
            double value = 0;
            plist_get_real_val(node, &value);
            out = PlistValue(value);
            return true;
        }
        case PLIST_STRING: {
            char* raw = nullptr;
            plist_get_string_val(node, &raw);
            MallocPtr<char> text(raw);
            std::string value(text ? text.get() : "");
            if (!isWellFormedUtf8(value)) {
                error = "a string that is not UTF-8";
                return false;
            }
            out = PlistValue(std::move(value));
            return true;
        }
        case PLIST_DATA: {
            char* raw = nullptr;
            uint64_t length = 0;
            plist_get_data_val(node, &raw, &length);
            MallocPtr<char> bytes(raw);
            const auto* begin = reinterpret_cast<const uint8_t*>(bytes.get());
            out = PlistValue(PlistData{std::vector<uint8_t>(begin, begin + (raw ? length : 0))});
            return true;
        }
        case PLIST_DATE: {
            int32_t seconds = 0;
            int32_t micros = 0;
            plist_get_date_val(node, &seconds, &micros);
            // The library truncates toward zero and reports the fraction unsigned, so before
            // 2001 the fraction counts backwards. (Within the second before 2001 the sign is
            // lost; no preference of ours holds such a date.)
            double fraction = micros / 1e6;
            out = PlistValue(
                PlistDate{kPlistEpochOffset + seconds + (seconds < 0 ? -fraction : fraction)});
            return true;
        }
        default:
            error = "unsupported value type";
            return false;
    }
}

bool fromNode(plist_t node, int depth, PlistValue& out, std::string& error) {
    if (depth > kMaxPlistDepth) {
        error = "nested deeper than " + std::to_string(kMaxPlistDepth) + " levels";
        return false;
    }
    switch (plist_get_node_type(node)) {
        case PLIST_ARRAY:
            return arrayFromNode(node, depth, out, error);
        case PLIST_DICT:
            return dictionaryFromNode(node, depth, out, error);
        default:
            return scalarFromNode(node, out, error);
    }
}

plist_t dateNode(const PlistDate& date) {
    double sinceEpoch = date.secondsSince1970 - kPlistEpochOffset;
    double whole = std::floor(sinceEpoch);
    constexpr double kMin = std::numeric_limits<int32_t>::min();
    constexpr double kMax = std::numeric_limits<int32_t>::max();
    if (!(whole >= kMin)) {  // also NaN
        whole = std::isnan(sinceEpoch) ? 0 : kMin;
    }
    whole = std::min(whole, kMax);
    double micros = std::round((sinceEpoch - whole) * 1e6);
    micros = std::isfinite(micros) ? std::clamp(micros, 0.0, 999999.0) : 0;
    return plist_new_date(static_cast<int32_t>(whole), static_cast<int32_t>(micros));
}

plist_t toNode(const PlistValue& value) {
    struct Visitor {
        plist_t operator()(bool v) const { return plist_new_bool(v ? 1 : 0); }
        plist_t operator()(int64_t v) const { return plist_new_uint(static_cast<uint64_t>(v)); }
        plist_t operator()(double v) const { return plist_new_real(v); }
        plist_t operator()(const std::string& v) const { return plist_new_string(v.c_str()); }
        plist_t operator()(const PlistData& v) const {
            return plist_new_data(reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size());
        }
        plist_t operator()(const PlistDate& v) const { return dateNode(v); }
        plist_t operator()(const PlistArray& v) const {
            plist_t array = plist_new_array();
            for (const PlistValue& item : v) {
                plist_array_append_item(array, toNode(item));
            }
            return array;
        }
        plist_t operator()(const PlistDictionary& v) const {
            plist_t dict = plist_new_dict();
            for (const auto& [key, item] : v) {
                plist_dict_set_item(dict, key.c_str(), toNode(item));
            }
            return dict;
        }
    };
    return std::visit(Visitor{}, value.storage());
}

}  // namespace

std::optional<PlistValue> decodePlist(std::string_view bytes, std::string* error) {
    std::string reason;
    PlistValue value;
    bool decoded = false;
    if (bytes.empty()) {
        reason = "empty file";
    } else if (bytes.size() > std::numeric_limits<uint32_t>::max()) {
        reason = "larger than 4 GiB";
    } else if (std::optional<std::string> refused = plistPreScan(
                   std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                   kMaxPlistDepth + 2)) {
        // Refused before libplist builds (and frees) anything: the leaf and <plist> elements
        // add two levels to the container depth checked below.
        reason = std::move(*refused);
    } else {
        plist_t root = nullptr;
        plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
        PlistPtr owned(root);
        if (root == nullptr) {
            reason = "not a property list";
        } else {
            decoded = fromNode(root, 0, value, reason);
        }
    }
    if (!decoded) {
        if (error != nullptr) {
            *error = reason;
        }
        return std::nullopt;
    }
    return value;
}

std::string encodeBinaryPlist(const PlistValue& value) {
    PlistPtr root(toNode(value));
    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &raw, &length);
    MallocPtr<char> bytes(raw);
    return bytes ? std::string(bytes.get(), length) : std::string();
}

std::string encodeXmlPlist(const PlistValue& value) {
    PlistPtr root(toNode(value));
    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &raw, &length);
    MallocPtr<char> bytes(raw);
    return bytes ? std::string(bytes.get(), length) : std::string();
}

}  // namespace platform
