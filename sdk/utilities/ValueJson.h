#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

namespace sdk {

// Conversions between Value and JSON.
//
// JSON null, true/false, integers, other numbers, strings, arrays and objects become null,
// booleans, integers, doubles, strings, arrays and dictionaries, and back, so every value made
// only of these round-trips with its types. An integer beyond the int64 range becomes a double.
// Bytes, dates and non-finite doubles have no JSON form: writing them fails. Nesting deeper
// than kMaxJsonDepth fails both ways.
//
// Failures use the domain "NSCocoaErrorDomain": 3840 for text that cannot be read, 3851 for
// a value that cannot be written; the message says what and where.

inline constexpr int kMaxJsonDepth = 512;
inline constexpr std::string_view kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::int64_t kReadCorruptErrorCode = 3840;
inline constexpr std::int64_t kWriteInvalidErrorCode = 3851;

// Parses UTF-8 JSON `text` into `*out`. On failure `*out` is left unchanged.
Error parseJson(std::string_view text, Value* out);

// Writes `value` as compact UTF-8 JSON into `*out` (object keys in key order). On failure
// `*out` is left unchanged.
Error serializeJson(const Value& value, std::string* out);

// Converts an already parsed JSON document into `*out`.
Error valueFromJson(const nlohmann::json& json, Value* out);

// Converts `value` into a JSON document in `*out`.
Error valueToJson(const Value& value, nlohmann::json* out);

}  // namespace sdk
