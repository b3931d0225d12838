#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/preferences/PlistValue.h"

namespace platform {

// Containers nested deeper than this are refused when reading, so a crafted file cannot
// exhaust the stack.
inline constexpr int kMaxPlistDepth = 64;

// Parses a property list in XML or binary form. Returns nullopt, with the reason in `*error`
// when `error` is not null, if the bytes are not a property list, nest deeper than
// kMaxPlistDepth, would build to more than plistCostLimit() of their size (shared references
// in a binary list) or are larger than 4 GiB. Nesting and expansion are refused before the
// list is built, so the time and memory spent stay in proportion to the bytes.
std::optional<PlistValue> decodePlist(std::string_view bytes, std::string* error = nullptr);

// Returns `value` as a binary property list.
std::string encodeBinaryPlist(const PlistValue& value);

// Returns `value` as an XML property list. XML dates keep whole seconds only.
std::string encodeXmlPlist(const PlistValue& value);

}  // namespace platform
