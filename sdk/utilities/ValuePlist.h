#pragma once

#include "platform/preferences/PlistValue.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

namespace sdk {

// Conversions between Value and property lists (binary "bplist00" and XML), through libplist.
//
// Booleans, integers, doubles, strings, bytes, dates, arrays and dictionaries map to the plist
// types of the same name and back, so they round-trip with their types. Property lists have
// no null: writing one fails. Dates are held as seconds since 2001-01-01 in whole seconds
// and microseconds of 32-bit range, so dates outside 1901..2038 around that reference fail
// to write; XML keeps whole seconds only (as the platform's own XML plists do). Nesting
// deeper than kMaxPlistDepth fails both ways; reading also fails, before anything is built,
// for binary data whose shared references would build to more than
// platform::plistCostLimit() of its size.
//
// Failures use the domain "NSCocoaErrorDomain": 3840 for data that cannot be read, 3851 for
// a value that cannot be written.

enum class PlistFormat { kXml, kBinary };

inline constexpr int kMaxPlistDepth = 512;

// Reads a binary or XML property list (detected from the data) into `*out`. On failure
// `*out` is left unchanged. Time and memory stay in proportion to the data.
Error valueFromPlist(const Bytes& data, Value* out);

// Writes `value` as a property list in `format` into `*out`. On failure `*out` is left
// unchanged.
Error plistFromValue(const Value& value, PlistFormat format, Bytes* out);

// Converts `value` to the platform's property-list value, for the preference files and the
// secret store. Fails with 3851 for a null anywhere in the value, for a date outside the
// property-list range, and for nesting deeper than platform::kMaxPlistDepth - 1 levels below
// `value` (so the value can sit in a top-level dictionary that the platform reads back). On
// failure `*out` is left unchanged.
Error plistValueFromValue(const Value& value, platform::PlistValue* out);

// The Value of a platform property-list value, with the same types; it always succeeds.
Value valueFromPlistValue(const platform::PlistValue& value);

}  // namespace sdk
