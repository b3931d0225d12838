#pragma once

#include <string>
#include <string_view>

// Script strings are UTF-16, as the programs' strings are; the host speaks UTF-8.

// UTF-8 of `text`; a lone surrogate becomes U+FFFD.
std::string APMPToUTF8(std::u16string_view text);

// UTF-16 of `text`; an invalid UTF-8 sequence becomes U+FFFD.
std::u16string APMPFromUTF8(std::string_view text);

// True for the white space and line breaks that trimming removes: the Unicode separators (Z*),
// U+0009 to U+000D and U+0085.
bool APMPIsTrimmedSpace(char16_t unit);

// `text` without trimmed space at both ends.
std::u16string_view APMPTrimSpace(std::u16string_view text);
