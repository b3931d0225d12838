#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Small string functions of the measurement SDK. Strings are UTF-8. Pure functions, safe from
// any thread.

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool apm_isValidUTF8(std::string_view text);

// True only when 0 <= index < apm_UTF16Length(bits) and the character at UTF-16 unit `index` is
// '1'. Positions count UTF-16 units, as the consent platforms that write these strings do.
bool apm_isBitEnabledAtIndex(std::string_view bits, std::int64_t index);

// The number of UTF-16 code units `text` takes: two for a code point above U+FFFF, one for any
// other, and one for each byte that does not start a well-formed sequence.
std::size_t apm_UTF16Length(std::string_view text);

// The character at UTF-16 unit `index` of `text`, as UTF-8: the whole code point when it
// starts there, U+FFFD when `index` falls on the second unit of a code point above U+FFFF or on
// an ill-formed byte. No value when `index` is outside the text.
std::optional<std::string> apm_characterAtUTF16Index(std::string_view text, std::int64_t index);

// Every '+' replaced by a blank, then "%XX" sequences decoded. No value when a '%' is not
// followed by two hexadecimal digits or the decoded bytes are not valid UTF-8.
std::optional<std::string> apm_stringByUnescapingFromURLArgument(std::string_view text);

// The number of Unicode code points: how every name and value length limit is counted. A byte
// that does not start a well-formed sequence counts as one.
std::size_t apm_UTF32Length(std::string_view text);

// Copies `text` into `buffer` as UTF-32 little-endian, whole code points only, at most
// buffer.size() bytes (an invalid byte is copied as U+FFFD). Returns true when at least one code
// point was copied.
bool apm_getUTF32Bytes(std::string_view text, std::span<std::uint8_t> buffer);
